// The INI settings store's dealings with the file. What the text means is tested in memory
// (tests/settings/tst_initext.cpp).
#include "platform/unix/systemsettingsstore.h"
#include "support/samplesettings.h"

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

void compareSettings(const Settings &actual, const Settings &expected)
{
    QCOMPARE(QString::fromStdString(describe(actual)), QString::fromStdString(describe(expected)));
}

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

std::string path(const QString &p)
{
    return QFile::encodeName(p).toStdString();
}

Settings loadFrom(SystemSettingsStore &store)
{
    Settings s;
    LoadSettings(store, s);
    return s;
}

Settings loadFrom(const QString &p)
{
    SystemSettingsStore store(path(p));
    return loadFrom(store);
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

class TestSystemSettingsStore : public QObject
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
    void loadReadsTheFileAndNeverWrites();
    void oddTextsSurviveTheFile();
    void noWriteAccessMeansDefaultsAndNoWrite_data();
    void noWriteAccessMeansDefaultsAndNoWrite();
    void directoryInPlaceOfFile();
    void binaryGarbage();
    void onlyTheFirstMebibyteIsRead();
    void saveKeepsOtherLinesAndPermissions();
    void portAssignments();
    void saveKilledBeforeReplaceKeepsOldFile();
    void saveKilledAtRandomLeavesOldOrNewFile();
    void twoStoresOnOneFile();
};

void TestSystemSettingsStore::init()
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

void TestSystemSettingsStore::cleanup()
{
    // Leave nothing read-only behind for the directory's removal.
    QDir(m_dir->path()).removeRecursively();
    m_dir.reset();
}

void TestSystemSettingsStore::defaultPathFollowsXdgConfigHome()
{
    QCOMPARE(SystemSettingsStore().filePath(), path(m_path));
    const std::string home =
        path(QDir::homePath() + QStringLiteral("/.config/TAVEX/QMRConfig.conf"));
    qputenv("XDG_CONFIG_HOME", "");
    QCOMPARE(SystemSettingsStore::defaultFilePath(), home);
    qputenv("XDG_CONFIG_HOME", "relative/dir");
    QCOMPARE(SystemSettingsStore::defaultFilePath(), home);
    QCOMPARE(SystemSettingsStore("/tmp/x.conf").filePath(), std::string("/tmp/x.conf"));
}

void TestSystemSettingsStore::noFileGivesDefaultsAndCreatesNothing()
{
    SystemSettingsStore store;
    Settings settings = sampleSettings(7, "x", 9, "ChineseGB");
    LoadSettings(store, settings);
    compareSettings(settings, Settings{});
    QVERIFY(store.lastError().empty());
    QVERIFY(store.portAssignments().empty());
    QVERIFY(!QFileInfo::exists(configHome()));

    SaveLanguage(store, settings);
    QVERIFY(store.lastError().empty());
    QCOMPARE(readAll(m_path), QByteArray("[QMRConfig]\nLanguageFlag=English\n"));
}

void TestSystemSettingsStore::loadReadsTheFileAndNeverWrites()
{
    const QByteArray contents = "; by hand\r\n[QMRConfig]\r\nScanCommNo=3\r\n"
                                "ScanBaudRate=\"9600,n,8,1\"\r\nScanBaudRateNo=2\r\n"
                                "LanguageFlag=ChineseGB\r\n";
    writeAll(m_path, contents);
    SystemSettingsStore store;
    compareSettings(loadFrom(store), sampleSettings(3, "9600,n,8,1", 2, "ChineseGB"));
    QVERIFY(store.lastError().empty());
    QCOMPARE(readAll(m_path), contents);

    // A blank after '=' makes a text: the wrong type, which ends the load and is noted.
    const QByteArray wrong = "[QMRConfig]\nScanCommNo= 3\nLanguageFlag=ChineseGB\n";
    writeAll(m_path, wrong);
    compareSettings(loadFrom(store), Settings{});
    QVERIFY(!store.lastError().empty());
    QCOMPARE(readAll(m_path), wrong);
}

void TestSystemSettingsStore::oddTextsSurviveTheFile()
{
    writeAll(m_path, "[Ports]\nCOM1=/dev/ttyS0\n");
    SystemSettingsStore store;
    const std::string odd("  two\nlines \"q\" \\ \x01 中文\t", 26);
    const Settings saved = sampleSettings(1, odd, 2, odd);
    SaveScanSettings(store, saved);
    SaveLanguage(store, saved);
    QVERIFY2(store.lastError().empty(), store.lastError().c_str());
    QVERIFY(isWellFormed(readAll(m_path)));
    compareSettings(loadFrom(m_path), saved);
    QCOMPARE(store.portAssignments().at(1), std::string("/dev/ttyS0"));
}

void TestSystemSettingsStore::noWriteAccessMeansDefaultsAndNoWrite_data()
{
    QTest::addColumn<bool>("fileWritable");
    QTest::addColumn<bool>("dirWritable");
    QTest::newRow("read-only file") << false << true;
    QTest::newRow("read-only directory") << true << false;
}

void TestSystemSettingsStore::noWriteAccessMeansDefaultsAndNoWrite()
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

    const std::string file = path(m_path);
    const int result = runInChild(
        [file] {
            SystemSettingsStore store(file);
            const Settings settings = loadFrom(store);
            if (settings.ScanCommNo != 0 || settings.LanguageIndex != 0 ||
                settings.LanguageFlag != "English")
                return 1;
            if (store.lastError().empty())
                return 2;
            SaveScanSettings(store, sampleSettings(9, "a", 1, ""));
            SaveLanguage(store, settings);
            if (store.lastError().empty())
                return 3;
            // The ports are only read, so they stay available.
            const auto ports = store.portAssignments();
            if (ports.count(2) == 0 || ports.at(2) != "/dev/ttyUSB1")
                return 4;
            return 0;
        },
        true);
    QCOMPARE(result, 0);
    QCOMPARE(readAll(m_path), contents);
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"QMRConfig.conf"});
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0755) == 0);
}

void TestSystemSettingsStore::directoryInPlaceOfFile()
{
    QVERIFY(QDir().mkpath(m_path));
    SystemSettingsStore store;
    compareSettings(loadFrom(store), Settings{});
    QVERIFY(!store.lastError().empty());
    SaveScanSettings(store, sampleSettings(3, "x", 1, ""));
    QVERIFY(!store.lastError().empty());
    QVERIFY(QFileInfo(m_path).isDir());
    QVERIFY(store.portAssignments().empty());
}

void TestSystemSettingsStore::binaryGarbage()
{
    QRandomGenerator random(42);
    QByteArray garbage(64 * 1024, Qt::Uninitialized);
    for (char &c : garbage)
        c = static_cast<char>(random.bounded(256));
    // Good lines among the junk still count.
    writeAll(m_path, garbage + "\n[QMRConfig]\nScanCommNo=6\n" + garbage +
                         "\n[Ports]\nCOM4=/dev/ttyACM0\n" + garbage);

    SystemSettingsStore store;
    Settings settings = loadFrom(store);
    QCOMPARE(settings.ScanCommNo, 6);
    QCOMPARE(store.portAssignments().at(4), std::string("/dev/ttyACM0"));

    settings.LanguageFlag = "ChineseGB";
    SaveLanguage(store, settings);
    QVERIFY(store.lastError().empty());
    // The junk stays as it was; only the saved value's line is new.
    QCOMPARE(readAll(m_path), garbage + "\n[QMRConfig]\nScanCommNo=6\nLanguageFlag=ChineseGB\n" +
                                  garbage + "\n[Ports]\nCOM4=/dev/ttyACM0\n" + garbage + "\n");
    const Settings again = loadFrom(store);
    QCOMPARE(again.ScanCommNo, 6);
    QCOMPARE(again.LanguageIndex, 1);
    QCOMPARE(store.portAssignments().at(4), std::string("/dev/ttyACM0"));
}

void TestSystemSettingsStore::onlyTheFirstMebibyteIsRead()
{
    QByteArray contents = "[QMRConfig]\nScanBaudRateNo=7\n[Ports]\nCOM1=/dev/ttyS1\n";
    while (contents.size() < 10 * 1024 * 1024)
        contents += "COM999=/dev/null/padding/padding/padding/padding/padding\n";
    // Past the first MiB: never read.
    contents += "[QMRConfig]\nScanCommNo=8\n[Ports]\nCOM2=/dev/ttyS2\n";
    writeAll(m_path, contents);

    SystemSettingsStore store;
    Settings settings = loadFrom(store);
    QCOMPARE(settings.ScanBaudRateNo, 7);
    QCOMPARE(settings.ScanCommNo, 0);
    const std::map<int, std::string> ports{
        {1, "/dev/ttyS1"}, {999, "/dev/null/padding/padding/padding/padding/padding"}};
    QCOMPARE(store.portAssignments(), ports);

    // A rewrite would cut what was not read: the file is left as it is, and the save says so.
    settings.ScanCommNo = 2;
    SaveScanSettings(store, settings);
    QVERIFY(store.lastError().find("larger than 1 MiB") != std::string::npos);
    QCOMPARE(readAll(m_path), contents);
}

void TestSystemSettingsStore::saveKeepsOtherLinesAndPermissions()
{
    const QByteArray before = "# TAVEX settings\n[Ports]\nCOM3=/dev/ttyUSB0\nCOM4=\n\n"
                              "[QMRConfig]\nUnknown=keep me\nScanBaudRate=4800,n,8,1\n"
                              "[Other]\nScanCommNo=not ours\n";
    writeAll(m_path, before);
    QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0640) == 0);
    SystemSettingsStore store;
    const Settings s = sampleSettings(5, "115200,e,8,1", 11, "ChineseBIG5");
    SaveScanSettings(store, s);
    SaveLanguage(store, s);
    QCOMPARE(readAll(m_path), QByteArray("# TAVEX settings\n[Ports]\nCOM3=/dev/ttyUSB0\nCOM4=\n\n"
                                         "[QMRConfig]\nUnknown=keep me\n"
                                         "ScanBaudRate=115200,e,8,1\nScanCommNo=5\n"
                                         "ScanBaudRateNo=11\nLanguageFlag=ChineseBIG5\n"
                                         "[Other]\nScanCommNo=not ours\n"));
    QCOMPARE(QFileInfo(m_path).permissions() & 0x0777, QFileDevice::Permissions(0x0640));
    const std::map<int, std::string> ports{{3, "/dev/ttyUSB0"}, {4, ""}};
    QCOMPARE(store.portAssignments(), ports);
    compareSettings(loadFrom(store), s);
}

void TestSystemSettingsStore::portAssignments()
{
    writeAll(m_path, "COM9=/dev/outside\n[Ports]\nCOM3=/dev/ttyUSB0\nCOM10 = /dev/ttyACM1 \n"
                     "COM4=\nCOM3=/dev/second\nCOM+5=/dev/plus\n[QMRConfig]\nCOM8=/dev/wrong\n");
    const std::map<int, std::string> expected{{3, "/dev/ttyUSB0"}, {4, ""}, {10, "/dev/ttyACM1"}};
    QCOMPARE(SystemSettingsStore().portAssignments(), expected);
}

void TestSystemSettingsStore::saveKilledBeforeReplaceKeepsOldFile()
{
    const QByteArray old = "[QMRConfig]\nScanCommNo=1\n[Ports]\nCOM1=/dev/ttyS1\n";
    writeAll(m_path, old);
    const std::string file = path(m_path);
    const int result = runInChild(
        [file] {
            SystemSettingsStore store(file);
            store.setBeforeReplaceHook([] { _exit(7); });
            SaveScanSettings(store, sampleSettings(2, "x", 3, ""));
            return 0;
        },
        false);
    QCOMPARE(result, 7);
    QCOMPARE(readAll(m_path), old);
    // The next save still works and cleans up after itself.
    SystemSettingsStore store;
    SaveLanguage(store, sampleSettings(0, "", 0, "ChineseGB"));
    QVERIFY(store.lastError().empty());
    const Settings loaded = loadFrom(store);
    QCOMPARE(loaded.ScanCommNo, 1);
    QCOMPARE(loaded.LanguageIndex, 1);
    const QStringList left =
        QDir(QFileInfo(m_path).absolutePath()).entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(left.size() <= 2, qPrintable(left.join(u',')));
}

void TestSystemSettingsStore::saveKilledAtRandomLeavesOldOrNewFile()
{
    const Settings a = sampleSettings(1, "4800,n,8,1", 0, "English");
    const Settings b = sampleSettings(16, "115200,e,8,1", 11, "ChineseBIG5");
    SystemSettingsStore store;
    SaveScanSettings(store, a);
    SaveLanguage(store, a);
    writeAll(m_path, readAll(m_path) + "[Ports]\nCOM2=/dev/ttyUSB2\n");

    QRandomGenerator random(7);
    for (int round = 0; round < 10; ++round) {
        const pid_t pid = fork();
        if (pid == 0) {
            SystemSettingsStore writer(path(m_path));
            for (;;) {
                SaveScanSettings(writer, b);
                SaveLanguage(writer, b);
                SaveScanSettings(writer, a);
                SaveLanguage(writer, a);
            }
        }
        QVERIFY(pid > 0);
        QTest::qSleep(1 + random.bounded(20));
        ::kill(pid, SIGKILL);
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);

        QVERIFY(isWellFormed(readAll(m_path)));
        const Settings loaded = loadFrom(store);
        // Each save is whole; a kill between two saves may mix a's and b's groups of values.
        QVERIFY(loaded.ScanCommNo == a.ScanCommNo || loaded.ScanCommNo == b.ScanCommNo);
        const Settings &scan = loaded.ScanCommNo == a.ScanCommNo ? a : b;
        QCOMPARE(loaded.ScanBaudRate, scan.ScanBaudRate);
        QCOMPARE(loaded.ScanBaudRateNo, scan.ScanBaudRateNo);
        QVERIFY(loaded.LanguageFlag == a.LanguageFlag || loaded.LanguageFlag == b.LanguageFlag);
        QCOMPARE(store.portAssignments().at(2), std::string("/dev/ttyUSB2"));
    }
}

void TestSystemSettingsStore::twoStoresOnOneFile()
{
    writeAll(m_path, "[Ports]\nCOM1=/dev/ttyS0\n");
    SystemSettingsStore first;
    SystemSettingsStore second;
    Settings s1 = loadFrom(first);
    Settings s2 = loadFrom(second);

    s1 = sampleSettings(4, "9600,n,8,1", 2, "English");
    SaveScanSettings(first, s1);
    s2.LanguageFlag = "ChineseGB";
    SaveLanguage(second, s2); // must not throw away the first copy's scan values
    compareSettings(loadFrom(m_path), sampleSettings(4, "9600,n,8,1", 2, "ChineseGB"));

    s2.ScanCommNo = 9;
    SaveScanSettings(second, s2); // the last write wins
    const Settings loaded = loadFrom(m_path);
    QCOMPARE(loaded.ScanCommNo, 9);
    QCOMPARE(loaded.ScanBaudRate, std::string("19200,e,8,1"));
    QCOMPARE(loaded.LanguageIndex, 1);
    QCOMPARE(first.portAssignments().at(1), std::string("/dev/ttyS0"));
    QVERIFY(isWellFormed(readAll(m_path)));
    QVERIFY(!QFileInfo::exists(m_path + QStringLiteral(".lock")));
}

QTEST_GUILESS_MAIN(TestSystemSettingsStore)
#include "tst_systemsettingsstore.moc"
