#include "fifounblocker.h"
#include "iniprofilefile.h"
#include "profileformat.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <thread>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

constexpr int readBuffer = 255;

// The lines of a settings file that carry anything, with line endings unified.
QStringList meaningfulLines(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(u'\n');
    lines.removeIf([](const QString &line) { return line.trimmed().isEmpty(); });
    return lines;
}

// The recorded files use Windows-1252 for bytes above 127; every character in
// them is one that 1252 shares with Latin-1.
bool sharedWithLatin1(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() < 0x80 || (c.unicode() >= 0xA0 && c.unicode() <= 0xFF);
    });
}

} // namespace

class TestProfile : public QObject {
    Q_OBJECT

private slots:
    void recordedCases_data();
    void recordedCases();

    void utf8FileKeepsItsAccents();
    void windows1252LinesAreKeptByteForByte();
    void mixedEncodingsLoseNothing();
    void utf16FilesStayUtf16_data();
    void utf16FilesStayUtf16();
    void byteOrderMarkIsSkippedAndKept();
    void unclosedBracketOpensNoSection();

    void writeKeepsOtherLinesExactly();
    void lineBreaksCannotAddLines();
    void lastLineEndingInCrIsKept_data();
    void lastLineEndingInCrIsKept();
    void longValuesAreCutOnRead();

    void interruptedWriteLeavesFileIntact();
    void readOnlyFolderRefusesWrite();
    void unreadableFileIsNotOverwritten();
    void killedWritesLeaveNothingBehind();
    void aLiveWritersTemporaryFileIsLeftAlone();
    void twoWritersOfOneFileLoseNothing();
    void settingsThatAreNotARegularFileAreRefused_data();
    void settingsThatAreNotARegularFileAreRefused();

    void namesAreTrimmedOnTheFile();

private:
    QTemporaryDir m_dir;
    int m_fileCount = 0;

    QString newPath()
    {
        const QString folder = m_dir.filePath(QString::number(++m_fileCount));
        QDir().mkpath(folder);
        return QDir(folder).filePath(QStringLiteral("legisdis.ini"));
    }
};

void TestProfile::recordedCases_data()
{
    QTest::addColumn<QJsonObject>("testCase");

    QFile file(QStringLiteral(PROFILE_VECTORS));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    const QJsonArray cases = document.object().value(u"cases").toArray();
    QVERIFY(!cases.isEmpty());
    for (const QJsonValue &value : cases) {
        const QJsonObject testCase = value.toObject();
        QTest::newRow(testCase.value(u"name").toString().toUtf8().constData()) << testCase;
    }
}

void TestProfile::recordedCases()
{
    QFETCH(QJsonObject, testCase);

    const QString path = newPath();
    const QJsonValue before = testCase.value(u"file_before");
    QByteArray beforeBytes;
    if (!before.isNull()) {
        const QString text = before.toString();
        QVERIFY(sharedWithLatin1(text));
        beforeBytes = text.toLatin1();
        QVERIFY(writeAll(path, beforeBytes));
    }

    IniProfileFile profile;
    bool wrote = false;
    const QJsonArray ops = testCase.value(u"ops").toArray();
    for (const QJsonValue &opValue : ops) {
        const QJsonObject op = opValue.toObject();
        const QString section = op.value(u"section").toString();
        const QString key = op.value(u"key").toString();
        const QString kind = op.value(u"op").toString();
        if (kind == u"read") {
            QCOMPARE(
                profile.getString(section, key, op.value(u"default").toString(), readBuffer, path),
                op.value(u"expect").toString());
        } else {
            QCOMPARE(kind, QStringLiteral("write"));
            QVERIFY(profile.writeString(section, key, op.value(u"value").toString(), path));
            wrote = true;
        }
    }

    const QJsonValue after = testCase.value(u"file_after_reference");
    if (after.isString()) {
        QVERIFY(QFile::exists(path));
        QCOMPARE(meaningfulLines(decodeProfileBytes(readAll(path))),
                 meaningfulLines(after.toString()));
    } else {
        QVERIFY(!wrote);
        // Reading never creates or touches the file.
        QCOMPARE(QFile::exists(path), !before.isNull());
        if (!before.isNull())
            QCOMPARE(readAll(path), beforeBytes);
    }
}

void TestProfile::utf8FileKeepsItsAccents()
{
    const QString path = newPath();
    QVERIFY(writeAll(
        path, QStringLiteral("[user]\r\nname=José Ñúñez\r\njob=Dirección Técnica\r\n").toUtf8()));

    IniProfileFile profile;
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path),
             QStringLiteral("José Ñúñez"));
    QCOMPARE(profile.getString(u"USER"_s, u"JOB"_s, u"?"_s, readBuffer, path),
             QStringLiteral("Dirección Técnica"));

    QVERIFY(profile.writeString(u"user"_s, u"email"_s, QStringLiteral("ñandú@x.cr"), path));
    QCOMPARE(readAll(path), QStringLiteral("[user]\r\nname=José Ñúñez\r\njob=Dirección "
                                           "Técnica\r\nemail=ñandú@x.cr\r\n")
                                .toUtf8());
    QCOMPARE(profile.getString(u"user"_s, u"email"_s, u"?"_s, readBuffer, path),
             QStringLiteral("ñandú@x.cr"));

    // Names with accents match without regard to case as well.
    QVERIFY(writeAll(path, QStringLiteral("[Área]\nDIRECCIÓN=1\n").toUtf8()));
    QCOMPARE(profile.getString(QStringLiteral("área"), QStringLiteral("dirección"), u"?"_s,
                               readBuffer, path),
             u"1"_s);
}

void TestProfile::windows1252LinesAreKeptByteForByte()
{
    // é as a single byte; curly quotes and the euro sign from the 0x80-0x9F
    // range; the file ends in the middle of what would be a UTF-8 sequence.
    const QByteArray bytes("[user]\r\njob=\x93"
                           "Banco\x94 \x80\r\n[init]\r\nshow=1\r\nname=Jos\xE9");
    const QString path = newPath();
    QVERIFY(writeAll(path, bytes));

    IniProfileFile profile;
    QCOMPARE(profile.getString(u"user"_s, u"job"_s, u"?"_s, readBuffer, path),
             QStringLiteral("“Banco” €"));
    QCOMPARE(profile.getString(u"init"_s, u"name"_s, u"?"_s, readBuffer, path),
             QStringLiteral("José"));

    // Only the line written changes; the others keep their bytes.
    QVERIFY(profile.writeString(u"init"_s, u"show"_s, u"0"_s, path));
    QCOMPARE(readAll(path), QByteArray("[user]\r\njob=\x93"
                                       "Banco\x94 \x80\r\n[init]\r\nshow=0\r\nname=Jos\xE9"));
    // A new line is UTF-8, and both read back.
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"Núñez"_s, path));
    QVERIFY(readAll(path).startsWith("[user]\r\njob=\x93"
                                     "Banco\x94 \x80\r\nname=N\xC3\xBA\xC3\xB1"
                                     "ez\r\n"));
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path), u"Núñez"_s);
    QCOMPARE(profile.getString(u"user"_s, u"job"_s, u"?"_s, readBuffer, path),
             QStringLiteral("“Banco” €"));

    // The rest of the code page, including the bytes it leaves undefined.
    QCOMPARE(decodeProfileBytes(QByteArray("\x8A\x8C\x9F\x99\x85\xA9\xFF")),
             QStringLiteral("ŠŒŸ™…©ÿ"));
    QCOMPARE(decodeProfileBytes(QByteArray("\x81\x8D\x8F\x90\x9D")),
             QStringLiteral("\u0081\u008D\u008F\u0090\u009D"));
}

void TestProfile::mixedEncodingsLoseNothing()
{
    // UTF-8 but for one Windows-1252 line, and a Windows-1252 key name.
    const QByteArray bytes("[user]\r\nname=Jos\xC3\xA9\r\njob=Direcci\xF3n\r\n"
                           "[\xC1rea]\r\nN\xDA"
                           "MERO=7\r\n");
    const QString path = newPath();
    QVERIFY(writeAll(path, bytes));
    IniProfileFile profile;
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path), u"José"_s);
    QCOMPARE(profile.getString(u"user"_s, u"job"_s, u"?"_s, readBuffer, path), u"Dirección"_s);
    QCOMPARE(profile.getString(u"área"_s, u"número"_s, u"?"_s, readBuffer, path), u"7"_s);

    QVERIFY(profile.writeString(u"user"_s, u"email"_s, u"ñ@x"_s, path));
    QVERIFY(profile.writeString(u"ÁREA"_s, u"NÚMERO"_s, u"8"_s, path));
    QCOMPARE(readAll(path), QByteArray("[user]\r\nname=Jos\xC3\xA9\r\njob=Direcci\xF3n\r\n"
                                       "email=\xC3\xB1@x\r\n[\xC1rea]\r\nN\xC3\x9A"
                                       "MERO=8\r\n"));
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path), u"José"_s);
    QCOMPARE(profile.getString(u"área"_s, u"número"_s, u"?"_s, readBuffer, path), u"8"_s);
}

void TestProfile::utf16FilesStayUtf16_data()
{
    QTest::addColumn<QString>("encoding");
    QTest::newRow("little-endian") << u"UTF-16LE"_s;
    QTest::newRow("big-endian") << u"UTF-16BE"_s;
}

void TestProfile::utf16FilesStayUtf16()
{
    QFETCH(QString, encoding);
    const auto utf16 = [&encoding](const QString &text) {
        const bool little = encoding == u"UTF-16LE";
        QStringEncoder encoder(little ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE);
        return (little ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF")) +
               QByteArray(encoder.encode(text));
    };
    const QString path = newPath();
    QVERIFY(writeAll(path, utf16(u"[user]\r\nname=José\r\n[init]\r\nshow=1\r\n"_s)));
    IniProfileFile profile;
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path), u"José"_s);
    QCOMPARE(profile.getString(u"init"_s, u"show"_s, u"?"_s, readBuffer, path), u"1"_s);

    QVERIFY(profile.writeString(u"init"_s, u"show"_s, u"0"_s, path));
    QVERIFY(profile.writeString(u"user"_s, u"job"_s, u"Añil"_s, path));
    QCOMPARE(readAll(path), utf16(u"[user]\r\nname=José\r\njob=Añil\r\n[init]\r\nshow=0\r\n"_s));
    QCOMPARE(profile.getString(u"user"_s, u"job"_s, u"?"_s, readBuffer, path), u"Añil"_s);
}

void TestProfile::byteOrderMarkIsSkippedAndKept()
{
    const QString path = newPath();
    QVERIFY(writeAll(path, QByteArray("\xEF\xBB\xBF[user]\r\nname=A\r\n")));

    IniProfileFile profile;
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path), u"A"_s);
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"B"_s, path));
    QCOMPARE(readAll(path), QByteArray("\xEF\xBB\xBF[user]\r\nname=B\r\n"));
}

void TestProfile::unclosedBracketOpensNoSection()
{
    // "[init" never closes: it opens no section, so what follows it still
    // belongs to [user]; "[init]" further down is the real section.
    const QString path = newPath();
    QVERIFY(writeAll(path, "[user]\r\nname=A\r\n[init\r\nemail=e@x\r\n[init]\r\nshow=1\r\n"));
    IniProfileFile profile;
    QCOMPARE(profile.getString(u"user"_s, u"email"_s, u"?"_s, readBuffer, path), u"e@x"_s);
    QCOMPARE(profile.getString(u"init"_s, u"email"_s, u"?"_s, readBuffer, path), u"?"_s);
    QCOMPARE(profile.getString(u"init"_s, u"show"_s, u"?"_s, readBuffer, path), u"1"_s);
    // Such a line may itself hold a key.
    QVERIFY(writeAll(path, "[user]\r\n[a=b\r\n"));
    QCOMPARE(profile.getString(u"user"_s, u"[a"_s, u"?"_s, readBuffer, path), u"b"_s);
    QVERIFY(profile.writeString(u"user"_s, u"job"_s, u"x"_s, path));
    QCOMPARE(readAll(path), QByteArray("[user]\r\n[a=b\r\njob=x\r\n"));
}

void TestProfile::writeKeepsOtherLinesExactly()
{
    IniProfileFile profile;

    const QString crlf = newPath();
    QVERIFY(writeAll(crlf, "; installed by setup\r\n\r\n[user]\r\n  name = Old \r\n\r\n"
                           "odd line\r\n\t\r\n[init]\r\nshow=1"));
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"New"_s, crlf));
    QVERIFY(profile.writeString(u" User "_s, u"email"_s, u"e@x"_s, crlf));
    QCOMPARE(readAll(crlf), QByteArray("; installed by setup\r\n\r\n[user]\r\nname=New\r\n\r\n"
                                       "odd line\r\nemail=e@x\r\n\t\r\n[init]\r\nshow=1"));
    QVERIFY(profile.writeString(u"init"_s, u"extra"_s, u"y"_s, crlf));
    QVERIFY(profile.writeString(u"http"_s, u"web"_s, u"w"_s, crlf));
    QCOMPARE(readAll(crlf), QByteArray("; installed by setup\r\n\r\n[user]\r\nname=New\r\n\r\n"
                                       "odd line\r\nemail=e@x\r\n\t\r\n[init]\r\nshow=1\r\n"
                                       "extra=y\r\n[http]\r\nweb=w\r\n"));

    const QString lf = newPath();
    QVERIFY(writeAll(lf, "[user]\nname=A\n\n[init]\nshow=1\n"));
    QVERIFY(profile.writeString(u"user"_s, u"job"_s, u"x"_s, lf));
    QVERIFY(profile.writeString(u"init"_s, u"show"_s, u"0"_s, lf));
    QCOMPARE(readAll(lf), QByteArray("[user]\nname=A\njob=x\n\n[init]\nshow=0\n"));
}

void TestProfile::lineBreaksCannotAddLines()
{
    const QString path = newPath();
    QVERIFY(writeAll(path, "[user]\r\nname=A\r\n"));
    IniProfileFile profile;

    QVERIFY(
        profile.writeString(u"user"_s, u"name"_s, u"B\r\nemail=evil\r\n[init]\r\nshow=1"_s, path));
    QVERIFY(profile.writeString(u"user"_s, u"job\nshow"_s, u"x\ry"_s, path));
    QVERIFY(profile.writeString(u"other\r\nuser"_s, u"k"_s, u"v"_s, path));

    QCOMPARE(profile.getString(u"user"_s, u"email"_s, u"?"_s, readBuffer, path), u"?"_s);
    QCOMPARE(profile.getString(u"init"_s, u"show"_s, u"?"_s, readBuffer, path), u"?"_s);
    QCOMPARE(profile.getString(u"user"_s, u"show"_s, u"?"_s, readBuffer, path), u"?"_s);
    QCOMPARE(profile.getString(u"user"_s, u"k"_s, u"?"_s, readBuffer, path), u"?"_s);
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path),
             u"B  email=evil  [init]  show=1"_s);
    QCOMPARE(meaningfulLines(decodeProfileBytes(readAll(path))).size(), 5);
}

void TestProfile::lastLineEndingInCrIsKept_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QString>("keptValue"); // of s/key, when the file has one

    // A bare LF after the CR would make the two a CRLF line ending and take the
    // CR out of the line; the first row is the input the fuzzer found.
    QTest::newRow("new section after CR CR")
        << QByteArray("\r\r\x0b\\\n\r\r") << u"\x0b\x0b"_s << QString()
        << QByteArray("\r\r\x0b\\\n\r\r\r\n[\x0b\x0b]\n=\n") << QString();
    QTest::newRow("new section after a value ending in CR")
        << QByteArray("[s]\nkey=val\r") << u"other"_s << u"k"_s
        << QByteArray("[s]\nkey=val\r\r\n[other]\nk=\n") << u"val\r"_s;
    QTest::newRow("new key after a value ending in CR")
        << QByteArray("[s]\nkey=val\r") << u"s"_s << u"k"_s << QByteArray("[s]\nkey=val\r\r\nk=\n")
        << u"val\r"_s;
    QTest::newRow("CRLF file") << QByteArray("[s]\r\nkey=val\r") << u"s"_s << u"k"_s
                               << QByteArray("[s]\r\nkey=val\r\r\nk=\r\n") << u"val\r"_s;
}

void TestProfile::lastLineEndingInCrIsKept()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QByteArray, after);
    QFETCH(QString, keptValue);
    const QString path = newPath();
    QVERIFY(writeAll(path, before));
    IniProfileFile profile;

    QVERIFY(profile.writeString(section, key, QString(), path));
    QCOMPARE(readAll(path), after);
    QCOMPARE(profile.getString(section, key, u"?"_s, readBuffer, path), QString());
    if (!keptValue.isNull())
        QCOMPARE(profile.getString(u"s"_s, u"key"_s, u"?"_s, readBuffer, path), keptValue);
}

void TestProfile::longValuesAreCutOnRead()
{
    const QString path = newPath();
    const QString value300 = QString(150, u'a') + QString(150, u'b');
    IniProfileFile profile;

    QVERIFY(profile.writeString(u"user"_s, u"name"_s, value300, path));
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path), value300.left(254));
    // The file holds the whole value; only the read is cut.
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, 1000, path), value300);

    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, 1, path), QString());
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, 0, path), QString());
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, -3, path), QString());
    QCOMPARE(profile.getString(u"none"_s, u"name"_s, u"abcdef"_s, 4, path), u"abc"_s);

    // A character outside the basic plane is kept whole or left out.
    const QString emoji = QStringLiteral("ab\U0001F600c");
    QVERIFY(profile.writeString(u"user"_s, u"emoji"_s, emoji, path));
    QCOMPARE(profile.getString(u"user"_s, u"emoji"_s, u"?"_s, 4, path), u"ab"_s);
    QCOMPARE(profile.getString(u"user"_s, u"emoji"_s, u"?"_s, 5, path),
             QStringLiteral("ab\U0001F600"));
}

void TestProfile::interruptedWriteLeavesFileIntact()
{
#ifdef Q_OS_LINUX
    // A write cut short (here by a file-size limit, which binds even the
    // superuser) must leave the old file as it was and no stray file beside it.
    const QString path = newPath();
    const QByteArray old("[user]\r\nname=Old\r\n");
    QVERIFY(writeAll(path, old));

    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    IniProfileFile profile;
    const bool written = profile.writeString(u"user"_s, u"name"_s, QString(300, u'n'), path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!written);
    QCOMPARE(readAll(path), old);
    QCOMPARE(QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden),
             QStringList{u"legisdis.ini"_s});
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path), u"Old"_s);
#else
    QSKIP("needs a file-size limit");
#endif
}

void TestProfile::readOnlyFolderRefusesWrite()
{
    const QString path = newPath();
    const QByteArray old("[user]\r\nname=Old\r\n");
    QVERIFY(writeAll(path, old));
    const QString folder = QFileInfo(path).absolutePath();
    const auto permissions = QFile::permissions(folder);
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const auto restore = qScopeGuard([&] { QFile::setPermissions(folder, permissions); });

    QFile probe(QDir(folder).filePath(u"probe"_s));
    if (probe.open(QIODevice::WriteOnly)) {
        probe.remove();
        QSKIP("folder permissions do not bind this user");
    }

    IniProfileFile profile;
    QVERIFY(!profile.writeString(u"user"_s, u"name"_s, u"New"_s, path));
    QCOMPARE(readAll(path), old);
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path), u"Old"_s);
}

void TestProfile::unreadableFileIsNotOverwritten()
{
    const QString path = newPath();
    const QByteArray old("[user]\r\nname=Old\r\njob=J\r\n");
    QVERIFY(writeAll(path, old));
    QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    const auto restore = qScopeGuard(
        [&] { QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner); });

    QFile probe(path);
    if (probe.open(QIODevice::ReadOnly))
        QSKIP("file permissions do not bind this user");

    IniProfileFile profile;
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path), u"?"_s);
    QVERIFY(!profile.writeString(u"user"_s, u"name"_s, u"New"_s, path));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(readAll(path), old);
}

void TestProfile::killedWritesLeaveNothingBehind()
{
#ifdef Q_OS_LINUX
    // Writers killed at random moments of their writes: each may leave its
    // temporary file (with the user's data in it) beside the settings file;
    // the next write clears them all away, and the file is always whole.
    const QString path = newPath();
    QVERIFY(writeAll(path, "[user]\r\nname=A\r\n"));
    const QString folder = QFileInfo(path).absolutePath();
    qsizetype left = 0;
    for (int round = 0; round < 40; ++round) {
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            IniProfileFile writer;
            for (int i = 0;; ++i)
                writer.writeString(u"user"_s, u"name"_s, QString(200000 + i % 7, u'n'), path);
        }
        QTest::qSleep(5 + round % 7);
        ::kill(child, SIGKILL);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        left += QDir(folder).entryList(QDir::Files | QDir::Hidden).size() - 1;
    }
    qInfo("rounds that found a killed writer's temporary file: %d of 40", int(left));
    IniProfileFile profile;
    QVERIFY(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path).startsWith(u'n') ||
            profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path) == u"A"_s);
    QVERIFY(profile.writeString(u"user"_s, u"email"_s, u"e@x"_s, path));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{u"legisdis.ini"_s});
#else
    QSKIP("needs fork");
#endif
}

void TestProfile::aLiveWritersTemporaryFileIsLeftAlone()
{
#ifdef Q_OS_LINUX
    // A temporary file that a running writer holds is not a leftover.
    const QString path = newPath();
    const QString folder = QFileInfo(path).absolutePath();
    const QString held = QDir(folder).filePath(u"legisdis.ini.tmp-abc123"_s);
    const QString stale = QDir(folder).filePath(u"legisdis.ini.tmp-zzz999"_s);
    const QString other = QDir(folder).filePath(u"otro.ini.tmp-abc123"_s);
    for (const QString &file : {held, stale, other})
        QVERIFY(writeAll(file, "name=secreto\r\n"));
    QProcess holder;
    // One process: the shell takes the lock and becomes the sleep that keeps it.
    holder.start(u"sh"_s, {u"-c"_s, u"exec 9<>\"$0\"; flock 9; echo held; exec sleep 60"_s, held});
    QVERIFY(holder.waitForReadyRead(10000));
    const auto stop = qScopeGuard([&] {
        holder.kill();
        holder.waitForFinished();
    });

    IniProfileFile profile;
    QVERIFY(profile.writeString(u"user"_s, u"name"_s, u"A"_s, path));
    QVERIFY(QFileInfo::exists(held));
    QVERIFY(!QFileInfo::exists(stale));
    QVERIFY(QFileInfo::exists(other));
#else
    QSKIP("needs flock");
#endif
}

void TestProfile::twoWritersOfOneFileLoseNothing()
{
    // Two writers of one file at once (two windows, or two copies of the
    // program): no write fails, and none undoes the other's.
    const QString path = newPath();
    constexpr int rounds = 1000;
    std::atomic<int> failed{0};
    std::atomic<int> lost{0};
    const auto write = [&](const QString &key) {
        IniProfileFile profile;
        for (int i = 0; i < rounds; ++i) {
            const QString value = QString::number(i);
            if (!profile.writeString(u"user"_s, key, value, path))
                ++failed;
            else if (profile.getString(u"user"_s, key, u"?"_s, readBuffer, path) != value)
                ++lost;
        }
    };
    std::thread first(write, u"name"_s);
    std::thread second(write, u"email"_s);
    first.join();
    second.join();
    QCOMPARE(failed.load(), 0);
    QCOMPARE(lost.load(), 0);
    const QString last = QString::number(rounds - 1);
    IniProfileFile profile;
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path), last);
    QCOMPARE(profile.getString(u"user"_s, u"email"_s, u"?"_s, readBuffer, path), last);
    QCOMPARE(QFileInfo(path).dir().entryList(QDir::Files | QDir::Hidden),
             QStringList{u"legisdis.ini"_s});
}

void TestProfile::settingsThatAreNotARegularFileAreRefused_data()
{
    QTest::addColumn<QString>("kind");  // what stands in the file's place
    QTest::addColumn<bool>("userCopy"); // in the place of the per-user copy
    QTest::newRow("a named pipe") << u"pipe"_s << false;
    QTest::newRow("a named pipe for the per-user copy") << u"pipe"_s << true;
    QTest::newRow("a folder") << u"folder"_s << false;
    QTest::newRow("a link to a device") << u"device"_s << false;
}

void TestProfile::settingsThatAreNotARegularFileAreRefused()
{
    // Nothing waits on a pipe, nothing is read from it or written over it:
    // the settings read as the defaults, writes fail, and the reason is told.
    QFETCH(QString, kind);
    QFETCH(bool, userCopy);
    const QString path = newPath();
    const QString overlayFolder = QFileInfo(path).absolutePath() + u"/usuario"_s;
    // The per-user copy is there only where the folder cannot be written.
    IniProfileFile profile(overlayFolder, [userCopy](const QString &) { return !userCopy; });
    QVERIFY(QDir().mkpath(overlayFolder));
    if (userCopy)
        QVERIFY(writeAll(path, "[user]\r\nname=Instalado\r\n"));
    const QString odd = userCopy ? profile.overlayPath(path) : path;
    if (kind == u"pipe"_s)
        QCOMPARE(::mkfifo(QFile::encodeName(odd).constData(), 0600), 0);
    else if (kind == u"folder"_s)
        QVERIFY(QDir().mkdir(odd));
    else
        QVERIFY(QFile::link(u"/dev/zero"_s, odd));
    const QFileInfo before(odd);

    FifoUnblocker unblocker(odd);
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path),
             userCopy ? u"Instalado"_s : u"?"_s);
    QVERIFY(!profile.writeString(u"user"_s, u"name"_s, u"Ana"_s, path));
    QCOMPARE(unblocker.freed(), 0);
    const QFileInfo after(odd);
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.isFile(), false);
    const QString problem = profile.readProblem(path);
    QVERIFY2(problem.contains(u"no es un archivo común"_s), qPrintable(problem));
    QVERIFY2(problem.contains(odd), qPrintable(problem));
    QCOMPARE(unblocker.freed(), 0);
    QVERIFY(profile.readProblem(newPath()).isEmpty()); // a missing file is no problem
}

void TestProfile::namesAreTrimmedOnTheFile()
{
    // The caller's names match with blanks around them and in any case, and a new
    // file gets them without the blanks; another file is not this one.
    const QString path = newPath();
    const QString elsewhere = newPath();
    IniProfileFile profile;
    QVERIFY(profile.writeString(u" User "_s, u"\tName"_s, u"Ana"_s, path));
    QCOMPARE(readAll(path), QByteArray("[User]\r\nName=Ana\r\n"));
    QCOMPARE(profile.getString(u"USER"_s, u"name "_s, u"?"_s, readBuffer, path), u"Ana"_s);
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, elsewhere), u"?"_s);
    QVERIFY(!QFileInfo::exists(elsewhere));
}

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"
