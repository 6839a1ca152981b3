#include "fakeprofilefile.h"
#include "iniprofilefile.h"
#include "profileformat.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
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
    void windows1252FileIsReadAndRewrittenAsUtf8();
    void byteOrderMarkIsSkippedAndKept();

    void writeKeepsOtherLinesExactly();
    void lineBreaksCannotAddLines();
    void lastLineEndingInCrIsKept_data();
    void lastLineEndingInCrIsKept();
    void longValuesAreCutOnRead();

    void interruptedWriteLeavesFileIntact();
    void readOnlyFolderRefusesWrite();
    void unreadableFileIsNotOverwritten();

    void fakeFollowsTheSameNameAndLengthRules();

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

void TestProfile::windows1252FileIsReadAndRewrittenAsUtf8()
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

    QVERIFY(profile.writeString(u"init"_s, u"show"_s, u"0"_s, path));
    const QByteArray written = readAll(path);
    QStringDecoder strictUtf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = strictUtf8.decode(written);
    QVERIFY(!strictUtf8.hasError());
    QCOMPARE(text, QStringLiteral("[user]\r\njob=“Banco” €\r\n[init]\r\nshow=0\r\nname=José"));

    // A file whose only fault is a multi-byte sequence cut off by its end.
    QVERIFY(writeAll(path, QByteArray("[user]\r\nname=Jos\xE9")));
    QCOMPARE(profile.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, path), u"José"_s);

    // The rest of the code page, including the bytes it leaves undefined.
    QCOMPARE(decodeProfileBytes(QByteArray("\x8A\x8C\x9F\x99\x85\xA9\xFF")),
             QStringLiteral("ŠŒŸ™…©ÿ"));
    QCOMPARE(decodeProfileBytes(QByteArray("\x81\x8D\x8F\x90\x9D")),
             QStringLiteral("\u0081\u008D\u008F\u0090\u009D"));
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

void TestProfile::fakeFollowsTheSameNameAndLengthRules()
{
    const QString file = u"/x/legisdis.ini"_s;
    FakeProfileFile fake;
    QVERIFY(fake.writeString(u"User"_s, u"Name"_s, u"Ana"_s, file));
    QCOMPARE(fake.getString(u"user"_s, u"NAME"_s, u"?"_s, readBuffer, file), u"Ana"_s);
    QCOMPARE(fake.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, u"/y/other.ini"_s), u"?"_s);
    QCOMPARE(fake.getString(u"init"_s, u"name"_s, u"?"_s, readBuffer, file), u"?"_s);

    fake.set(u"user"_s, u"job"_s, QString(300, u'j'), file);
    QCOMPARE(fake.getString(u"user"_s, u"job"_s, u"?"_s, readBuffer, file), QString(254, u'j'));
    QCOMPARE(fake.getString(u"user"_s, u"none"_s, QString(300, u'd'), readBuffer, file),
             QString(254, u'd'));

    fake.refuseWrites = true;
    QVERIFY(!fake.writeString(u"user"_s, u"name"_s, u"Eva"_s, file));
    QCOMPARE(fake.getString(u"user"_s, u"name"_s, u"?"_s, readBuffer, file), u"Ana"_s);
    QCOMPARE(fake.writes, (QStringList{u"User/Name=Ana"_s, u"user/name=Eva"_s}));
}

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"
