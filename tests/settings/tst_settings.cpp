#include "settings/inisettingsstore.h"
#include "settings/memorysettingsstore.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qmr;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeAll(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
}

// Every line of a saved file must be blank, a comment, a [group] or key=value, in UTF-8.
bool isWellFormed(const QByteArray &data)
{
    if (!data.isEmpty() && !data.endsWith('\n'))
        return false;
    const QString text = QString::fromUtf8(data);
    if (text.toUtf8() != data)
        return false;
    const QStringList lines = text.split(u'\n');
    for (const QString &line : lines) {
        const QString t = line.trimmed();
        for (const QChar ch : line) {
            if ((ch.unicode() < 0x20 && ch != u'\t') || ch.unicode() == 0x7f)
                return false;
        }
        if (t.isEmpty() || t.startsWith(u'#') || t.startsWith(u';') ||
            (t.startsWith(u'[') && t.endsWith(u']')) || line.indexOf(u'=') > 0)
            continue;
        return false;
    }
    return true;
}

Settings sampleSettings(qint32 comm, const QString &baud, qint32 baudNo, const QString &flag)
{
    Settings s;
    s.ScanCommNo = comm;
    s.ScanBaudRate = baud;
    s.ScanBaudRateNo = baudNo;
    s.LanguageFlag = flag;
    s.LanguageIndex = Settings::languageIndexFor(flag);
    return s;
}

void compareSettings(const Settings &actual, const Settings &expected)
{
    QCOMPARE(actual.ScanCommNo, expected.ScanCommNo);
    QCOMPARE(actual.ScanBaudRate, expected.ScanBaudRate);
    QCOMPARE(actual.ScanBaudRateNo, expected.ScanBaudRateNo);
    QCOMPARE(actual.LanguageFlag, expected.LanguageFlag);
    QCOMPARE(actual.LanguageIndex, expected.LanguageIndex);
}

// Runs body in a child process (as the unprivileged user "nobody" when the tests run as root,
// where access checks always pass) and returns its exit code, or -1 when it did not exit.
int runInChild(const std::function<int()> &body, bool dropPrivileges)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (dropPrivileges && geteuid() == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(100);
        }
        _exit(body());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;

    QString configHome() const { return m_dir->path() + QStringLiteral("/config"); }

private slots:
    void init();
    void cleanup();

    void defaultPathFollowsXdgConfigHome();
    void noFileGivesDefaultsAndCreatesNothing();
    void load_data();
    void load();
    void textsRoundTrip_data();
    void textsRoundTrip();
    void integersRoundTrip_data();
    void integersRoundTrip();
    void noWriteAccessMeansDefaultsAndNoWrite_data();
    void noWriteAccessMeansDefaultsAndNoWrite();
    void directoryInPlaceOfFile();
    void binaryGarbage();
    void hugeFile();
    void otherLinesSurviveSaves();
    void saveOrderAndPartialSaves();
    void portAssignments();
    void saveKilledBeforeReplaceKeepsOldFile();
    void saveKilledAtRandomLeavesOldOrNewFile();
    void twoStoresOnOneFile();
    void memoryStoreStopsAtWrongType();
    void memoryStoreRecordsSaves();
};

void TestSettings::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The unprivileged child processes must reach the files.
    QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                             QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                             QFileDevice::ExeGroup);
    qputenv("XDG_CONFIG_HOME", configHome().toUtf8());
    m_path = configHome() + QStringLiteral("/TAVEX/QMRConfig.conf");
}

void TestSettings::cleanup()
{
    // Leave nothing read-only behind for the directory's removal.
    QDir(m_dir->path()).removeRecursively();
    m_dir.reset();
}

void TestSettings::defaultPathFollowsXdgConfigHome()
{
    QCOMPARE(IniSettingsStore().filePath(), m_path);
    qputenv("XDG_CONFIG_HOME", "");
    QCOMPARE(IniSettingsStore::defaultFilePath(),
             QDir::homePath() + QStringLiteral("/.config/TAVEX/QMRConfig.conf"));
    qputenv("XDG_CONFIG_HOME", "relative/dir");
    QCOMPARE(IniSettingsStore::defaultFilePath(),
             QDir::homePath() + QStringLiteral("/.config/TAVEX/QMRConfig.conf"));
    QCOMPARE(IniSettingsStore(QStringLiteral("/tmp/x.conf")).filePath(),
             QStringLiteral("/tmp/x.conf"));
}

void TestSettings::noFileGivesDefaultsAndCreatesNothing()
{
    IniSettingsStore store;
    Settings settings = sampleSettings(7, QStringLiteral("x"), 9, QStringLiteral("ChineseGB"));
    store.LoadSettings(settings);
    compareSettings(settings, Settings{});
    QVERIFY(store.portAssignments().isEmpty());
    QVERIFY(!QFileInfo::exists(configHome()));

    store.SaveLanguage(settings);
    QVERIFY(store.lastError().isEmpty());
    QCOMPARE(readAll(m_path), QByteArray("[QMRConfig]\nLanguageFlag=English\n"));
}

void TestSettings::load_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<qint32>("comm");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<qint32>("baudNo");
    QTest::addColumn<QString>("flag");
    QTest::addColumn<int>("index");

    const QString defBaud = QStringLiteral("19200,e,8,1");
    const QString eng = QStringLiteral("English");
    const QByteArray rest = "ScanBaudRate=9600,n,8,1\nScanBaudRateNo=2\nLanguageFlag=ChineseGB\n";

    QTest::newRow("only Traditional Chinese")
        << QByteArray("[QMRConfig]\nLanguageFlag=ChineseBIG5\n") << 0 << defBaud << 5
        << QStringLiteral("ChineseBIG5") << 2;
    QTest::newRow("all four") << "[QMRConfig]\nScanCommNo=3\n" + rest << 3
                              << QStringLiteral("9600,n,8,1") << 2 << QStringLiteral("ChineseGB")
                              << 1;
    // A comm number that is not an integer ends the load: all later values stay default.
    for (const char *bad : {"\"3\"", "abc", " 3", "3 ", "", "0x10", "3.0", "2147483648",
                            "-2147483649", "+", "1e3", "٣"}) {
        QTest::addRow("ScanCommNo=%s", bad)
            << "[QMRConfig]\nScanCommNo=" + QByteArray(bad) + "\n" + rest << 0 << defBaud << 5
            << eng << 0;
    }
    QTest::newRow("baud no as text after good comm")
        << QByteArray("[QMRConfig]\nScanCommNo=4\nScanBaudRate=4800,n,8,1\nScanBaudRateNo=five\n"
                      "LanguageFlag=ChineseGB\n")
        << 4 << QStringLiteral("4800,n,8,1") << 5 << eng << 0;
    QTest::newRow("order in file does not matter")
        << QByteArray("[QMRConfig]\nLanguageFlag=ChineseGB\nScanBaudRateNo=x\nScanCommNo=2\n") << 2
        << defBaud << 5 << eng << 0;
    for (qint32 v : {-1, 12, 0, -5, 99, 2147483647, -2147483647 - 1}) {
        QTest::addRow("taken as stored %d", v)
            << "[QMRConfig]\nScanCommNo=" + QByteArray::number(v) +
                   "\nScanBaudRateNo=" + QByteArray::number(v) + "\n"
            << v << defBaud << v << eng << 0;
    }
    QTest::newRow("plus sign and leading zeros")
        << QByteArray("[QMRConfig]\nScanCommNo=+07\nScanBaudRateNo=-011\n") << 7 << defBaud << -11
        << eng << 0;
    QTest::newRow("baud text not checked") << QByteArray("[QMRConfig]\nScanBaudRate=hello, world\n")
                                           << 0 << QStringLiteral("hello, world") << 5 << eng << 0;

    for (const char *flag : {"English", "chinesegb", "CHINESEBIG5", "ChineseGB ", " ChineseGB",
                             "Chinese", "", "ChineseBig5"}) {
        QTest::addRow("LanguageFlag=%s", flag)
            << "[QMRConfig]\nLanguageFlag=" + QByteArray(flag) + "\n"
            << 0 << defBaud << 5 << QString::fromUtf8(flag) << 0;
    }
    QTest::newRow("quoted ChineseGB") << QByteArray("[QMRConfig]\nLanguageFlag=\"ChineseGB\"\n")
                                      << 0 << defBaud << 5 << QStringLiteral("ChineseGB") << 1;
    QTest::newRow("CRLF, blanks around key, comments")
        << QByteArray("; made by hand\r\n[QMRConfig]\r\n  ScanCommNo =9\r\n# x\r\n"
                      "LanguageFlag=ChineseBIG5\r\n")
        << 9 << defBaud << 5 << QStringLiteral("ChineseBIG5") << 2;
    QTest::newRow("values of other groups ignored")
        << QByteArray("ScanCommNo=1\n[Other]\nScanCommNo=2\nLanguageFlag=ChineseGB\n[QMRConfig]\n"
                      "ScanBaudRateNo=3\n")
        << 0 << defBaud << 3 << eng << 0;
    QTest::newRow("group name is case-sensitive")
        << QByteArray("[qmrconfig]\nScanCommNo=2\n") << 0 << defBaud << 5 << eng << 0;
    QTest::newRow("first occurrence counts")
        << QByteArray("[QMRConfig]\nScanCommNo=2\n[Ports]\n[QMRConfig]\nScanCommNo=x\n"
                      "ScanCommNo=5\n")
        << 2 << defBaud << 5 << eng << 0;
    QTest::newRow("empty file") << QByteArray() << 0 << defBaud << 5 << eng << 0;
}

void TestSettings::load()
{
    QFETCH(QByteArray, contents);
    writeAll(m_path, contents);
    IniSettingsStore store;
    Settings settings = sampleSettings(77, QStringLiteral("junk"), 77, QStringLiteral("ChineseGB"));
    store.LoadSettings(settings);
    QTEST(settings.ScanCommNo, "comm");
    QTEST(settings.ScanBaudRate, "baud");
    QTEST(settings.ScanBaudRateNo, "baudNo");
    QTEST(settings.LanguageFlag, "flag");
    QTEST(settings.LanguageIndex, "index");
    QCOMPARE(readAll(m_path), contents); // loading never writes
}

void TestSettings::textsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    const QChar nul[] = {u'a', QChar(0), u'b'};
    for (const QString &text :
         {QStringLiteral("19200,e,8,1"), QStringLiteral("a=b=c"), QStringLiteral("  leading"),
          QStringLiteral("trailing  "), QStringLiteral("#comment"), QStringLiteral(";semi"),
          QStringLiteral("[Ports]"), QStringLiteral("中文 繁體 ünï"), QStringLiteral("\"quoted\""),
          QStringLiteral("\""), QStringLiteral("back\\slash\\n"), QStringLiteral("two\nlines"),
          QStringLiteral("cr\rtab\t"), QString(), QStringLiteral(" "), QString(nul, 3),
          QStringLiteral("\x01\x7f"), QStringLiteral("\\x41")}) {
        QTest::addRow("%s", qPrintable(text.toUtf8().toPercentEncoding())) << text;
    }
}

void TestSettings::textsRoundTrip()
{
    QFETCH(QString, text);
    writeAll(m_path, "[Ports]\nCOM1=/dev/ttyS0\n");
    IniSettingsStore store;
    const Settings saved = sampleSettings(1, text, 2, text);
    store.SaveScanSettings(saved);
    store.SaveLanguage(saved);
    QVERIFY2(store.lastError().isEmpty(), qPrintable(store.lastError()));
    QVERIFY(isWellFormed(readAll(m_path)));
    Settings loaded;
    IniSettingsStore().LoadSettings(loaded);
    compareSettings(loaded, saved);
    QCOMPARE(store.portAssignments().value(1), QStringLiteral("/dev/ttyS0"));
}

void TestSettings::integersRoundTrip_data()
{
    QTest::addColumn<qint32>("value");
    for (qint32 v : {0, 1, 16, -1, 12, 2147483647, -2147483647 - 1})
        QTest::addRow("%d", v) << v;
}

void TestSettings::integersRoundTrip()
{
    QFETCH(qint32, value);
    IniSettingsStore store;
    store.SaveScanSettings(
        sampleSettings(value, QStringLiteral("4800,e,8,1"), value, QStringLiteral("English")));
    Settings loaded;
    store.LoadSettings(loaded);
    QCOMPARE(loaded.ScanCommNo, value);
    QCOMPARE(loaded.ScanBaudRateNo, value);
    QCOMPARE(loaded.ScanBaudRate, QStringLiteral("4800,e,8,1"));
}

void TestSettings::noWriteAccessMeansDefaultsAndNoWrite_data()
{
    QTest::addColumn<bool>("fileWritable");
    QTest::addColumn<bool>("dirWritable");
    QTest::newRow("read-only file") << false << true;
    QTest::newRow("read-only directory") << true << false;
}

void TestSettings::noWriteAccessMeansDefaultsAndNoWrite()
{
    QFETCH(bool, fileWritable);
    QFETCH(bool, dirWritable);
    const QByteArray contents =
        "[QMRConfig]\nScanCommNo=3\nLanguageFlag=ChineseBIG5\n[Ports]\nCOM2=/dev/ttyUSB1\n";
    writeAll(m_path, contents);
    const QString dir = QFileInfo(m_path).absolutePath();
    const bool root = geteuid() == 0;
    // As root the checks run in a child that is "nobody", who owns neither file nor directory.
    QVERIFY(::chmod(QFile::encodeName(m_path).constData(),
                    fileWritable ? 0666 : (root ? 0644 : 0444)) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir).constData(),
                    dirWritable ? 0777 : (root ? 0755 : 0555)) == 0);
    QVERIFY(::chmod(QFile::encodeName(configHome()).constData(), 0755) == 0);

    const QString path = m_path;
    const int result = runInChild(
        [path] {
            IniSettingsStore store(path);
            Settings settings;
            store.LoadSettings(settings);
            if (settings.ScanCommNo != 0 || settings.LanguageIndex != 0 ||
                settings.LanguageFlag != QStringLiteral("English"))
                return 1;
            if (store.lastError().isEmpty())
                return 2;
            store.SaveScanSettings(sampleSettings(9, QStringLiteral("a"), 1, QString()));
            store.SaveLanguage(settings);
            if (store.lastError().isEmpty())
                return 3;
            // The ports are only read, so they stay available.
            if (store.portAssignments().value(2) != QStringLiteral("/dev/ttyUSB1"))
                return 4;
            return 0;
        },
        true);
    QCOMPARE(result, 0);
    QCOMPARE(readAll(m_path), contents);
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"QMRConfig.conf"});
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
}

void TestSettings::directoryInPlaceOfFile()
{
    QVERIFY(QDir().mkpath(m_path));
    IniSettingsStore store;
    Settings settings;
    store.LoadSettings(settings);
    compareSettings(settings, Settings{});
    QVERIFY(!store.lastError().isEmpty());
    store.SaveScanSettings(sampleSettings(3, QStringLiteral("x"), 1, QString()));
    QVERIFY(!store.lastError().isEmpty());
    QVERIFY(QFileInfo(m_path).isDir());
    QVERIFY(store.portAssignments().isEmpty());
}

void TestSettings::binaryGarbage()
{
    QRandomGenerator random(42);
    QByteArray garbage(64 * 1024, Qt::Uninitialized);
    for (char &c : garbage)
        c = static_cast<char>(random.bounded(256));
    // Good lines among the junk still count.
    const QByteArray contents = garbage + "\n[QMRConfig]\nScanCommNo=6\n" + garbage +
                                "\n[Ports]\nCOM4=/dev/ttyACM0\n" + garbage;
    writeAll(m_path, contents);

    IniSettingsStore store;
    Settings settings;
    store.LoadSettings(settings);
    QCOMPARE(settings.ScanCommNo, 6);
    QCOMPARE(store.portAssignments().value(4), QStringLiteral("/dev/ttyACM0"));

    settings.LanguageFlag = QStringLiteral("ChineseGB");
    store.SaveLanguage(settings);
    QVERIFY(store.lastError().isEmpty());
    QVERIFY(isWellFormed(readAll(m_path)));
    Settings again;
    store.LoadSettings(again);
    QCOMPARE(again.ScanCommNo, 6);
    QCOMPARE(again.LanguageIndex, 1);
    QCOMPARE(store.portAssignments().value(4), QStringLiteral("/dev/ttyACM0"));
}

void TestSettings::hugeFile()
{
    QByteArray contents = "[QMRConfig]\nScanBaudRateNo=7\n[Ports]\n";
    while (contents.size() < 10 * 1024 * 1024)
        contents += "COM999=/dev/null/padding/padding/padding/padding/padding\n";
    // Past the first MiB: never read.
    contents += "[QMRConfig]\nScanCommNo=8\n";
    writeAll(m_path, contents);

    IniSettingsStore store;
    Settings settings;
    store.LoadSettings(settings);
    QCOMPARE(settings.ScanBaudRateNo, 7);
    QCOMPARE(settings.ScanCommNo, 0);

    settings.ScanCommNo = 2;
    store.SaveScanSettings(settings);
    QVERIFY(store.lastError().isEmpty());
    const QByteArray saved = readAll(m_path);
    QVERIFY(saved.size() <= IniSettingsStore::MaxFileBytes + 100);
    QVERIFY(isWellFormed(saved));
    QVERIFY(saved.startsWith("[QMRConfig]\nScanBaudRateNo=7\nScanCommNo=2\nScanBaudRate="));
    Settings again;
    store.LoadSettings(again);
    QCOMPARE(again.ScanCommNo, 2);
    QCOMPARE(again.ScanBaudRateNo, 7);
}

void TestSettings::otherLinesSurviveSaves()
{
    const QByteArray before = "# TAVEX settings\n"
                              "general=1\n"
                              "[Ports]\n"
                              "COM3=/dev/ttyUSB0\n"
                              "; COM4 is not wired\n"
                              "COM4=\n"
                              "\n"
                              "[QMRConfig]\n"
                              "Unknown=keep me\n"
                              "ScanBaudRate=4800,n,8,1\n"
                              "  # indented comment\n"
                              "\n"
                              "[Other]\n"
                              "ScanCommNo=not ours\n";
    writeAll(m_path, before);
    QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0640) == 0);
    IniSettingsStore store;
    const Settings s =
        sampleSettings(5, QStringLiteral("115200,e,8,1"), 11, QStringLiteral("ChineseBIG5"));
    store.SaveScanSettings(s);
    store.SaveLanguage(s);
    store.SaveScanSettings(s);
    const QByteArray after = "# TAVEX settings\n"
                             "general=1\n"
                             "[Ports]\n"
                             "COM3=/dev/ttyUSB0\n"
                             "; COM4 is not wired\n"
                             "COM4=\n"
                             "\n"
                             "[QMRConfig]\n"
                             "Unknown=keep me\n"
                             "ScanBaudRate=115200,e,8,1\n"
                             "ScanCommNo=5\n"
                             "ScanBaudRateNo=11\n"
                             "LanguageFlag=ChineseBIG5\n"
                             "  # indented comment\n"
                             "\n"
                             "[Other]\n"
                             "ScanCommNo=not ours\n";
    QCOMPARE(readAll(m_path), after);
    QCOMPARE(QFileInfo(m_path).permissions() & 0x0777, QFileDevice::Permissions(0x0640));
    const QMap<int, QString> ports{{3, QStringLiteral("/dev/ttyUSB0")}, {4, QString()}};
    QCOMPARE(store.portAssignments(), ports);
    Settings loaded;
    store.LoadSettings(loaded);
    compareSettings(loaded, s);
}

void TestSettings::saveOrderAndPartialSaves()
{
    IniSettingsStore store;
    Settings s = sampleSettings(12, QStringLiteral("9600,e,8,1"), 3, QStringLiteral("ChineseGB"));
    store.SaveLanguage(s);
    QCOMPARE(readAll(m_path), QByteArray("[QMRConfig]\nLanguageFlag=ChineseGB\n"));
    store.SaveScanSettings(s);
    QCOMPARE(readAll(m_path), QByteArray("[QMRConfig]\nLanguageFlag=ChineseGB\nScanCommNo=12\n"
                                         "ScanBaudRateNo=3\nScanBaudRate=9600,e,8,1\n"));
    // A language save leaves the scan values alone and vice versa.
    Settings other = sampleSettings(1, QStringLiteral("x"), 0, QStringLiteral("English"));
    store.SaveLanguage(other);
    Settings loaded;
    store.LoadSettings(loaded);
    compareSettings(loaded,
                    sampleSettings(12, QStringLiteral("9600,e,8,1"), 3, QStringLiteral("English")));
}

void TestSettings::portAssignments()
{
    writeAll(m_path, "COM9=/dev/outside\n"
                     "[Ports]\n"
                     "COM3=/dev/ttyUSB0\n"
                     "COM10 = /dev/ttyACM1 \n"
                     "COM4=\n"
                     "COM3=/dev/second\n"
                     "COM0=/dev/zero\n"
                     "COM-1=/dev/neg\n"
                     "COM+5=/dev/plus\n"
                     "COMx=/dev/x\n"
                     "com6=/dev/lower\n"
                     "COM=/dev/none\n"
                     "COM99999999999=/dev/big\n"
                     "PORT7=/dev/ttyS7\n"
                     "[QMRConfig]\n"
                     "COM8=/dev/wrong-group\n");
    const QMap<int, QString> expected{
        {3, QStringLiteral("/dev/ttyUSB0")}, {4, QString()}, {10, QStringLiteral("/dev/ttyACM1")}};
    QCOMPARE(IniSettingsStore().portAssignments(), expected);
}

void TestSettings::saveKilledBeforeReplaceKeepsOldFile()
{
    const QByteArray old = "[QMRConfig]\nScanCommNo=1\n[Ports]\nCOM1=/dev/ttyS1\n";
    writeAll(m_path, old);
    const QString path = m_path;
    const int result = runInChild(
        [path] {
            IniSettingsStore store(path);
            store.setBeforeReplaceHook([] { _exit(7); });
            store.SaveScanSettings(sampleSettings(2, QStringLiteral("x"), 3, QString()));
            return 0;
        },
        false);
    QCOMPARE(result, 7);
    QCOMPARE(readAll(m_path), old);
    // The next save still works and cleans up after itself.
    IniSettingsStore store;
    store.SaveLanguage(sampleSettings(0, QString(), 0, QStringLiteral("ChineseGB")));
    QVERIFY(store.lastError().isEmpty());
    Settings loaded;
    store.LoadSettings(loaded);
    QCOMPARE(loaded.ScanCommNo, 1);
    QCOMPARE(loaded.LanguageIndex, 1);
}

void TestSettings::saveKilledAtRandomLeavesOldOrNewFile()
{
    const Settings a =
        sampleSettings(1, QStringLiteral("4800,n,8,1"), 0, QStringLiteral("English"));
    const Settings b =
        sampleSettings(16, QStringLiteral("115200,e,8,1"), 11, QStringLiteral("ChineseBIG5"));
    IniSettingsStore store;
    store.SaveScanSettings(a);
    store.SaveLanguage(a);
    writeAll(m_path, readAll(m_path) + "[Ports]\nCOM2=/dev/ttyUSB2\n");

    QRandomGenerator random(7);
    for (int round = 0; round < 10; ++round) {
        const pid_t pid = fork();
        if (pid == 0) {
            IniSettingsStore writer(m_path);
            for (;;) {
                writer.SaveScanSettings(b);
                writer.SaveLanguage(b);
                writer.SaveScanSettings(a);
                writer.SaveLanguage(a);
            }
        }
        QVERIFY(pid > 0);
        QTest::qSleep(1 + random.bounded(20));
        ::kill(pid, SIGKILL);
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);

        const QByteArray contents = readAll(m_path);
        QVERIFY(isWellFormed(contents));
        Settings loaded;
        store.LoadSettings(loaded);
        // Each save is whole; a kill between two saves may mix a's and b's groups of values.
        QVERIFY(loaded.ScanCommNo == a.ScanCommNo || loaded.ScanCommNo == b.ScanCommNo);
        const Settings &scan = loaded.ScanCommNo == a.ScanCommNo ? a : b;
        QCOMPARE(loaded.ScanBaudRate, scan.ScanBaudRate);
        QCOMPARE(loaded.ScanBaudRateNo, scan.ScanBaudRateNo);
        QVERIFY(loaded.LanguageFlag == a.LanguageFlag || loaded.LanguageFlag == b.LanguageFlag);
        QCOMPARE(store.portAssignments().value(2), QStringLiteral("/dev/ttyUSB2"));
    }
}

void TestSettings::twoStoresOnOneFile()
{
    writeAll(m_path, "[Ports]\nCOM1=/dev/ttyS0\n");
    IniSettingsStore first;
    IniSettingsStore second;
    Settings s1;
    Settings s2;
    first.LoadSettings(s1);
    second.LoadSettings(s2);

    s1 = sampleSettings(4, QStringLiteral("9600,n,8,1"), 2, QStringLiteral("English"));
    first.SaveScanSettings(s1);
    s2.LanguageFlag = QStringLiteral("ChineseGB");
    second.SaveLanguage(s2); // must not throw away the first copy's scan values

    Settings loaded;
    IniSettingsStore().LoadSettings(loaded);
    compareSettings(
        loaded, sampleSettings(4, QStringLiteral("9600,n,8,1"), 2, QStringLiteral("ChineseGB")));

    s2.ScanCommNo = 9;
    second.SaveScanSettings(s2); // the last write wins
    IniSettingsStore().LoadSettings(loaded);
    QCOMPARE(loaded.ScanCommNo, 9);
    QCOMPARE(loaded.ScanBaudRate, QStringLiteral("19200,e,8,1"));
    QCOMPARE(loaded.LanguageIndex, 1);
    QCOMPARE(first.portAssignments().value(1), QStringLiteral("/dev/ttyS0"));
    QVERIFY(isWellFormed(readAll(m_path)));
    QVERIFY(!QFileInfo::exists(m_path + QStringLiteral(".lock")));
}

void TestSettings::memoryStoreStopsAtWrongType()
{
    MemorySettingsStore store;
    store.setValue(QStringLiteral("ScanCommNo"), 3);
    store.setValue(QStringLiteral("ScanBaudRate"), QStringLiteral("9600,n,8,1"));
    store.setValue(QStringLiteral("ScanBaudRateNo"), QStringLiteral("2")); // wrong type
    store.setValue(QStringLiteral("LanguageFlag"), QStringLiteral("ChineseGB"));
    Settings s;
    store.LoadSettings(s);
    compareSettings(s,
                    sampleSettings(3, QStringLiteral("9600,n,8,1"), 5, QStringLiteral("English")));

    store.setValue(QStringLiteral("ScanCommNo"), QStringLiteral("3"));
    store.setValue(QStringLiteral("ScanBaudRateNo"), 2);
    store.LoadSettings(s);
    compareSettings(s, Settings{});

    store.removeValue(QStringLiteral("ScanCommNo"));
    store.LoadSettings(s);
    compareSettings(
        s, sampleSettings(0, QStringLiteral("9600,n,8,1"), 2, QStringLiteral("ChineseGB")));

    store.setAccessDenied(true);
    store.LoadSettings(s);
    compareSettings(s, Settings{});
}

void TestSettings::memoryStoreRecordsSaves()
{
    MemorySettingsStore store;
    const Settings s =
        sampleSettings(2, QStringLiteral("4800,e,8,1"), 1, QStringLiteral("ChineseBIG5"));
    store.SaveLanguage(s);
    store.SaveScanSettings(s);
    QCOMPARE(store.calls(), (QStringList{"SaveLanguage", "SaveScanSettings"}));
    QCOMPARE(store.writes(),
             (QStringList{"LanguageFlag", "ScanCommNo", "ScanBaudRateNo", "ScanBaudRate"}));
    QCOMPARE(store.intValue(QStringLiteral("ScanCommNo")), std::optional<qint32>(2));
    QCOMPARE(store.textValue(QStringLiteral("LanguageFlag")),
             std::optional<QString>(QStringLiteral("ChineseBIG5")));

    store.clearRecords();
    store.setAccessDenied(true);
    store.SaveLanguage(sampleSettings(0, QString(), 0, QStringLiteral("English")));
    QCOMPARE(store.calls(), QStringList{"SaveLanguage"});
    QVERIFY(store.writes().isEmpty());
    QCOMPARE(store.textValue(QStringLiteral("LanguageFlag")),
             std::optional<QString>(QStringLiteral("ChineseBIG5")));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
