#include "iniprofilefile.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int readBuffer = 255;

const QByteArray installedSettings = "[user]\r\nname=\r\nemail=\r\n\r\n[init]\r\nshow=1\r\n\r\n"
                                     "[http]\r\nactualizacion=http://127.0.0.1:8731/Normativa/\r\n";

bool never(const QString &)
{
    return false;
}

bool always(const QString &)
{
    return true;
}

} // namespace

// The settings file of a program folder that the user may not write (an
// installed program) falls back to a per-user file that holds what the user
// sets; the rest keeps coming from the installed file.
class SettingsOverlayTest : public QObject {
    Q_OBJECT

private slots:
    void init();

    void writesInPlaceWhenTheFolderIsWritable();
    void firstWriteKeepsOnlyTheUsersValue();
    void readsGoToTheCopyOnceItExists();
    void anOldWholeCopyNoLongerHidesTheInstalledFile();
    void onlyTheUsersSettingsGoToTheCopy();
    void readsTheInstalledFileUntilACopyExists();
    void laterWritesKeepToTheCopy();
    void copyKeepsItsByteOrderMark();
    void missingInstalledFileStartsAnEmptyCopy();
    void eachFileGetsACopyOfItsOwn();
    void oneFileReachedTwoWaysSharesItsCopy();
    void overlayFolderIsMadeOnFirstWrite();
    void withoutOverlayFolderNothingIsCopied();
    void unreadableInstalledFileDoesNotStopTheUsersWrite();
    void readOnlyFolderOnDisk();
    void readOnlyFileOnDisk();

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_program;
    QString m_overlay;
    QString m_settings;
};

void SettingsOverlayTest::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_program = m_root->filePath(u"program"_s);
    m_overlay = m_root->filePath(u"user/data"_s);
    QVERIFY(QDir().mkpath(m_program));
    m_settings = QDir(m_program).filePath(u"legisdis.ini"_s);
    QVERIFY(writeAll(m_settings, installedSettings));
}

void SettingsOverlayTest::writesInPlaceWhenTheFolderIsWritable()
{
    IniProfileFile profile(m_overlay, always);
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Ana"_s, m_settings));
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, m_settings), u"Ana"_s);
    QVERIFY(readAll(m_settings).contains("name=Ana"));
    QVERIFY(!QFileInfo::exists(profile.overlayPath(m_settings)));
    QVERIFY(!QFileInfo::exists(m_overlay));
}

void SettingsOverlayTest::firstWriteKeepsOnlyTheUsersValue()
{
    IniProfileFile profile(m_overlay, never);
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Ana"_s, m_settings));

    QCOMPARE(readAll(m_settings), installedSettings);
    const QString copy = profile.overlayPath(m_settings);
    QVERIFY(copy.startsWith(m_overlay + u'/'));
    QVERIFY(QFileInfo(copy).fileName().startsWith(u"legisdis-"_s));
    QVERIFY(copy.endsWith(u".ini"_s));
    QCOMPARE(readAll(copy), QByteArray("[user]\r\nname=Ana\r\n"));
    // Everything else still comes from the installed file.
    QCOMPARE(profile.getString(u"init"_s, u"show"_s, u"?"_s, readBuffer, m_settings), u"1"_s);
    QCOMPARE(profile.getString(u"user"_s, u"email"_s, u"?"_s, readBuffer, m_settings), QString());
}

void SettingsOverlayTest::readsGoToTheCopyOnceItExists()
{
    IniProfileFile profile(m_overlay, never);
    QVERIFY(profile.writeString(u"init"_s, u"show"_s, u"0"_s, m_settings));
    QCOMPARE(profile.getString(u"init"_s, u"show"_s, u"?"_s, readBuffer, m_settings), u"0"_s);
    QCOMPARE(profile.getString(u"http"_s, u"actualizacion"_s, u"?"_s, readBuffer, m_settings),
             u"http://127.0.0.1:8731/Normativa/"_s);

    // A new installed file (an upgrade, an administrator's new server) does
    // not hide what the user set, and shows through everywhere else.
    QVERIFY(writeAll(m_settings, "[init]\nshow=1\n[user]\nname=Otro\n"
                                 "[http]\nactualizacion=http://nuevo/\n"));
    QCOMPARE(profile.getString(u"init"_s, u"show"_s, u"?"_s, readBuffer, m_settings), u"0"_s);
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, m_settings), u"Otro"_s);
    QCOMPARE(profile.getString(u"http"_s, u"actualizacion"_s, u"?"_s, readBuffer, m_settings),
             u"http://nuevo/"_s);

    // A second service on the same folders (the next start) sees the same.
    IniProfileFile again(m_overlay);
    QCOMPARE(again.getString(u"init"_s, u"show"_s, u"?"_s, readBuffer, m_settings), u"0"_s);
}

void SettingsOverlayTest::anOldWholeCopyNoLongerHidesTheInstalledFile()
{
    // What an earlier version left: a whole copy of the installed file.
    IniProfileFile profile(m_overlay, never);
    QVERIFY(QDir().mkpath(m_overlay));
    const QString copy = profile.overlayPath(m_settings);
    QVERIFY(writeAll(copy, "; copia\r\n[user]\r\nname=Ana\r\nemail=\r\n[init]\r\nshow=0\r\n"
                           "otra=1\r\n[http]\r\nactualizacion=http://viejo/\r\n"));
    QVERIFY(writeAll(m_settings, "[user]\r\nname=\r\n[http]\r\nactualizacion=http://nuevo/\r\n"
                                 "web=http://web/\r\n"));

    QCOMPARE(profile.getString(u"http"_s, u"actualizacion"_s, u"?"_s, readBuffer, m_settings),
             u"http://nuevo/"_s);
    QCOMPARE(profile.getString(u"http"_s, u"web"_s, u"?"_s, readBuffer, m_settings),
             u"http://web/"_s);
    QCOMPARE(profile.getString(u"init"_s, u"otra"_s, u"?"_s, readBuffer, m_settings), u"?"_s);
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, m_settings), u"Ana"_s);
    QCOMPARE(profile.getString(u"init"_s, u"show"_s, u"?"_s, readBuffer, m_settings), u"0"_s);

    // The next write leaves only what is the user's.
    QVERIFY(profile.writeString(u"user"_s, u"email"_s, u"ana@example.org"_s, m_settings));
    QCOMPARE(readAll(copy), QByteArray("[user]\r\nname=Ana\r\nemail=ana@example.org\r\n"
                                       "[init]\r\nshow=0\r\n"));
}

void SettingsOverlayTest::onlyTheUsersSettingsGoToTheCopy()
{
    IniProfileFile profile(m_overlay, never);
    QVERIFY(!profile.writeString(u"http"_s, u"web"_s, u"http://otro/"_s, m_settings));
    QVERIFY(!profile.writeString(u"init"_s, u"otra"_s, u"1"_s, m_settings));
    QVERIFY(!QFileInfo::exists(profile.overlayPath(m_settings)));
    QVERIFY(profile.writeString(u" USER "_s, u"job"_s, u"Banco"_s, m_settings));
    QVERIFY(profile.writeString(u"Init"_s, u"Show"_s, u"0"_s, m_settings));
    // The reader's choice about the check for new circulars is theirs too.
    QVERIFY(profile.writeString(u"actualizacion"_s, u"aviso"_s, u"0"_s, m_settings));
    QCOMPARE(readAll(profile.overlayPath(m_settings)),
             QByteArray("[USER]\r\njob=Banco\r\n[Init]\r\nShow=0\r\n[actualizacion]\r\n"
                        "aviso=0\r\n"));
    QCOMPARE(readAll(m_settings), installedSettings);
}

void SettingsOverlayTest::readsTheInstalledFileUntilACopyExists()
{
    const IniProfileFile profile(m_overlay, never);
    QCOMPARE(profile.getString(u"init"_s, u"show"_s, u"?"_s, readBuffer, m_settings), u"1"_s);
    QCOMPARE(profile.getString(u"user"_s, u"job"_s, u"?"_s, readBuffer, m_settings), u"?"_s);
    QVERIFY(!QFileInfo::exists(m_overlay));
}

void SettingsOverlayTest::laterWritesKeepToTheCopy()
{
    IniProfileFile profile(m_overlay, never);
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Ana"_s, m_settings));
    QVERIFY(profile.writeString(u"user"_s, u"email"_s, u"ana@example.org"_s, m_settings));

    // Even once the folder could be written again, the copy stays in use.
    IniProfileFile writable(m_overlay, always);
    QVERIFY(writable.writeString(u"user"_s, u"job"_s, u"Oficina"_s, m_settings));

    QCOMPARE(readAll(m_settings), installedSettings);
    const QByteArray copied = readAll(profile.overlayPath(m_settings));
    QVERIFY(copied.contains("name=Ana"));
    QVERIFY(copied.contains("email=ana@example.org"));
    QVERIFY(copied.contains("job=Oficina"));
    QCOMPARE(writable.getString(u"user"_s, u"job"_s, u"?"_s, readBuffer, m_settings), u"Oficina"_s);
}

void SettingsOverlayTest::copyKeepsItsByteOrderMark()
{
    IniProfileFile profile(m_overlay, never);
    QVERIFY(QDir().mkpath(m_overlay));
    const QString copy = profile.overlayPath(m_settings);
    QVERIFY(writeAll(copy, "\xEF\xBB\xBF[user]\r\nname=Ana\r\n"));
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Íñigo"_s, m_settings));
    QCOMPARE(readAll(copy), QByteArray("\xEF\xBB\xBF[user]\r\nname=Íñigo\r\n"));
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, m_settings), u"Íñigo"_s);
}

void SettingsOverlayTest::missingInstalledFileStartsAnEmptyCopy()
{
    QVERIFY(QFile::remove(m_settings));
    IniProfileFile profile(m_overlay, never);
    QCOMPARE(profile.getString(u"init"_s, u"show"_s, u"?"_s, readBuffer, m_settings), u"?"_s);
    QVERIFY(profile.writeString(u"init"_s, u"show"_s, u"0"_s, m_settings));
    QVERIFY(!QFileInfo::exists(m_settings));
    QCOMPARE(profile.getString(u"init"_s, u"show"_s, u"?"_s, readBuffer, m_settings), u"0"_s);
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, m_settings), u"?"_s);
}

void SettingsOverlayTest::eachFileGetsACopyOfItsOwn()
{
    const QString otherProgram = m_root->filePath(u"other"_s);
    QVERIFY(QDir().mkpath(otherProgram));
    const QString otherSettings = QDir(otherProgram).filePath(u"legisdis.ini"_s);
    QVERIFY(writeAll(otherSettings, installedSettings));

    IniProfileFile profile(m_overlay, never);
    QVERIFY(profile.overlayPath(m_settings) != profile.overlayPath(otherSettings));
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Ana"_s, m_settings));
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Luis"_s, otherSettings));
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, m_settings), u"Ana"_s);
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, otherSettings), u"Luis"_s);
    QCOMPARE(QDir(m_overlay).entryList(QDir::Files).size(), 2);
}

void SettingsOverlayTest::oneFileReachedTwoWaysSharesItsCopy()
{
    const QString link = m_root->filePath(u"link"_s);
    QVERIFY(QFile::link(m_program, link));
    const QString viaLink = QDir(link).filePath(u"legisdis.ini"_s);
    const QString relative = QDir(m_program).filePath(u"../program/legisdis.ini"_s);

    IniProfileFile profile(m_overlay, never);
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Ana"_s, viaLink));
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, relative), u"Ana"_s);
    QCOMPARE(QDir(m_overlay).entryList(QDir::Files).size(), 1);
}

void SettingsOverlayTest::overlayFolderIsMadeOnFirstWrite()
{
    const QString deep = m_root->filePath(u"a/b/c"_s);
    IniProfileFile profile(deep, never);
    QVERIFY(!QFileInfo::exists(deep));
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Ana"_s, m_settings));
    QVERIFY(QFileInfo(deep).isDir());
    QVERIFY(QFileInfo::exists(profile.overlayPath(m_settings)));
}

void SettingsOverlayTest::withoutOverlayFolderNothingIsCopied()
{
    IniProfileFile profile;
    QVERIFY(profile.overlayPath(m_settings).isEmpty());
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Ana"_s, m_settings));
    QVERIFY(readAll(m_settings).contains("name=Ana"));
}

void SettingsOverlayTest::unreadableInstalledFileDoesNotStopTheUsersWrite()
{
    // A folder in the place of the file cannot be read as one; the user's
    // file never held a copy of it, so the user's data are saved all the same.
    QVERIFY(QFile::remove(m_settings));
    QVERIFY(QDir().mkpath(m_settings));
    IniProfileFile profile(m_overlay, never);
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Ana"_s, m_settings));
    QCOMPARE(readAll(profile.overlayPath(m_settings)), QByteArray("[user]\r\nname=Ana\r\n"));
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, m_settings), u"Ana"_s);
}

void SettingsOverlayTest::readOnlyFolderOnDisk()
{
    const QFileDevice::Permissions before = QFile::permissions(m_program);
    QVERIFY(QFile::setPermissions(m_program, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                 QFileDevice::ReadGroup | QFileDevice::ExeGroup |
                                                 QFileDevice::ReadOther | QFileDevice::ExeOther));
    const auto restore = qScopeGuard([&] { QFile::setPermissions(m_program, before); });
    if (QFileInfo(m_program).isWritable())
        QSKIP("This user may write into read-only folders (root): the file-system test cannot "
              "tell; the injected test above covers the behaviour.");

    QVERIFY(!IniProfileFile::writableInPlace(m_settings));
    IniProfileFile profile(m_overlay);
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Ana"_s, m_settings));
    QCOMPARE(readAll(m_settings), installedSettings);
    QVERIFY(readAll(profile.overlayPath(m_settings)).contains("name=Ana"));
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, m_settings), u"Ana"_s);

    // Without an overlay folder the write simply fails.
    IniProfileFile plain;
    QVERIFY(!plain.writeString(u"user"_s, u"email"_s, u"x@example.org"_s, m_settings));
}

void SettingsOverlayTest::readOnlyFileOnDisk()
{
    QVERIFY(QFile::setPermissions(m_settings, QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                                  QFileDevice::ReadOther));
    QVERIFY(IniProfileFile::writableInPlace(QDir(m_program).filePath(u"nuevo.ini"_s)));
    if (QFileInfo(m_settings).isWritable())
        QSKIP("This user may write read-only files (root).");
    QVERIFY(!IniProfileFile::writableInPlace(m_settings));
    IniProfileFile profile(m_overlay);
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Ana"_s, m_settings));
    QCOMPARE(readAll(m_settings), installedSettings);
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, m_settings), u"Ana"_s);
}

QTEST_GUILESS_MAIN(SettingsOverlayTest)
#include "tst_settingsoverlay.moc"
