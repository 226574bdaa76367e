// Bad settings files end to end: the window's start loads them, a scan runs with what was
// loaded, and the save that follows leaves a well-formed file that reads back.

#include "link/link.h"
#include "link/portmap.h"
#include "platform/linux/systemportmap.h"
#include "platform/unix/serialdevice.h"
#include "platform/unix/systemclock.h"
#include "platform/unix/systemsettingsstore.h"
#include "sim/fakeclock.h"
#include "sim/memoryport.h"
#include "sim/modulemodel.h"
#include "texts/languagetable.h"
#include "window/beeper.h"
#include "window/qtwindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qmr;

namespace {

struct QuietBeeper : Beeper
{
    QList<int> frequencies;
    void Beep(int frequencyHz, int) override { frequencies.append(frequencyHz); }
};

std::map<int, std::string> sixteenMemoryPorts()
{
    std::map<int, std::string> devices;
    for (int com = 1; com <= 16; ++com)
        devices[com] = "/dev/ttyQ" + std::to_string(com);
    return devices;
}

// A path as the store takes it: in the file system's encoding.
std::string nativePath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

Settings loadFrom(const QString &path)
{
    SystemSettingsStore store(nativePath(path));
    Settings settings;
    LoadSettings(store, settings);
    return settings;
}

// Runs body in a child process and returns its exit code, or -1 when it did not exit. Run
// by root (as CI runs), the child first becomes the unprivileged user "nobody", for whom
// file permissions count: root may replace any file.
int runInChild(const std::function<int()> &body)
{
    std::fflush(nullptr); // nothing buffered is written twice
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(100);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The window started on a store it may not replace, a scan, a language click: 0 when the
// program went on with what it found and read nothing from the store, else the failed step.
int startScanSaveUnwritable(const std::string &file)
{
    FakeClock clock;
    MemoryPort port(clock);
    ModuleModel module;
    port.addDevice("/dev/ttyQ3", &module);
    const FixedPortMap map(sixteenMemoryPorts());
    Link link(port, clock, map);
    SystemSettingsStore store(file);
    QuietBeeper beeper;
    const LanguageTable languages;
    QtWindow window(link, clock, store, beeper, languages);
    window.form().FormCreate();
    if (window.settings().ScanCommNo != 0) // nothing is read from what cannot be replaced
        return 1;
    window.form().click(Control::btnScan);
    window.form().click(Control::btnBIG5);
    if (!window.context().ScanOk)
        return 2;
    if (window.settings().ScanCommNo != 3)
        return 3;
    return 0;
}

// Every line of a saved file is one it had before, byte for byte, or one the save wrote: blank,
// a comment, a [group] or key=value, all valid UTF-8.
void verifyWellFormed(const QString &path, const QByteArray &before)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    QVERIFY(data.size() <= SystemSettingsStore::MaxFileBytes + 4096);
    const QList<QByteArray> old = before.split('\n');
    const QSet<QByteArray> kept(old.begin(), old.end());
    for (const QByteArray &bytes : data.split('\n')) {
        if (kept.contains(bytes))
            continue;
        const QString line = QString::fromUtf8(bytes);
        QCOMPARE(line.toUtf8(), bytes); // no byte was replaced by the decoder
        QVERIFY(!bytes.contains('\0'));
        const QString l = line.trimmed();
        const bool ok = l.isEmpty() || l.startsWith(QLatin1Char('#')) ||
                        l.startsWith(QLatin1Char(';')) ||
                        (l.startsWith(QLatin1Char('[')) && l.endsWith(QLatin1Char(']'))) ||
                        l.indexOf(QLatin1Char('=')) > 0;
        QVERIFY2(ok, qPrintable(line.left(80)));
    }
}

} // namespace

class TestBadSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("QMRConfig.conf")); }
    void write(const QByteArray &content)
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(content), qint64(content.size()));
    }

private slots:
    void init();
    void startScanSave_data();
    void startScanSave();
    void unwritableFile_data();
    void unwritableFile();
    void portsThatAreNoSerialDevices();
};

void TestBadSettings::init()
{
    QFile::remove(path());
    QDir(path()).removeRecursively();
}

void TestBadSettings::startScanSave_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("commNo");    // as loaded
    QTest::addColumn<int>("baudNo");    // as loaded
    QTest::addColumn<bool>("rewrites"); // the scan finds the module by sweeping and saves

    const QByteArray head = "[QMRConfig]\n";
    QTest::newRow("missing") << false << QByteArray() << 0 << 5 << true;
    QTest::newRow("empty") << true << QByteArray() << 0 << 5 << true;
    QByteArray garbage(64 * 1024, Qt::Uninitialized);
    QRandomGenerator random(20251209);
    for (char &c : garbage)
        c = char(random.bounded(256));
    QTest::newRow("binary garbage") << true << garbage << 0 << 5 << true;
    QTest::newRow("garbage then values")
        << true << garbage + "\n" + head + "ScanCommNo=7\nScanBaudRateNo=5\n"
        << 7 << 5 << true;
    QByteArray huge;
    huge.reserve(10 * 1024 * 1024 + 64);
    huge += head + "ScanCommNo=9\n";
    while (huge.size() < 10 * 1024 * 1024)
        huge += "just some text that is not a setting at all, line after line\n";
    // Only its first MiB is read, so it is never rewritten: nothing beyond is cut.
    QTest::newRow("10 MB of text") << true << huge << 9 << 5 << false;
    QTest::newRow("integer as text") << true << head + "ScanCommNo=three\nScanBaudRateNo=2\n"
                                     << 0 << 5 << true;
    QTest::newRow("integer with blank") << true << head + "ScanCommNo= 3\n" << 0 << 5 << true;
    QTest::newRow("integer too big") << true << head + "ScanCommNo=4294967296\n" << 0 << 5 << true;
    QTest::newRow("index -1") << true << head + "ScanCommNo=2\nScanBaudRateNo=-1\n"
                              << 2 << -1 << true;
    QTest::newRow("index 12") << true << head + "ScanCommNo=2\nScanBaudRateNo=12\n"
                              << 2 << 12 << true;
    QTest::newRow("index min") << true << head + "ScanBaudRateNo=-2147483648\n"
                               << 0 << int(-2147483647 - 1) << true;
    QTest::newRow("index max") << true << head + "ScanBaudRateNo=2147483647\n"
                               << 0 << 2147483647 << true;
    QTest::newRow("port 0") << true << head + "ScanCommNo=0\n" << 0 << 5 << true;
    QTest::newRow("port -5") << true << head + "ScanCommNo=-5\n" << -5 << 5 << true;
    QTest::newRow("port 99") << true << head + "ScanCommNo=99\n" << 99 << 5 << true;
    QTest::newRow("line text malformed")
        << true << head + "ScanCommNo=3\nScanBaudRate=19200,x,99,7\nScanBaudRateNo=5\n"
        << 3 << 5 << true;
    QTest::newRow("line text empty")
        << true << head + "ScanCommNo=3\nScanBaudRate=\nScanBaudRateNo=12\n"
        << 3 << 12 << true;
    QTest::newRow("remembered port, index 12")
        << true << head + "ScanCommNo=3\nScanBaudRate=19200,e,8,1\nScanBaudRateNo=12\n"
        << 3 << 12 << false;
}

void TestBadSettings::startScanSave()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    QFETCH(int, commNo);
    QFETCH(int, baudNo);
    QFETCH(bool, rewrites);
    if (exists)
        write(content);

    FakeClock clock;
    MemoryPort port(clock);
    ModuleModel module; // at 19200,e,8,1 on COM3
    port.addDevice("/dev/ttyQ3", &module);
    const FixedPortMap map(sixteenMemoryPorts());
    Link link(port, clock, map);
    SystemSettingsStore store(nativePath(path()));
    QuietBeeper beeper;
    const LanguageTable languages;
    QtWindow window(link, clock, store, beeper, languages);
    window.form().FormCreate();

    QCOMPARE(window.settings().ScanCommNo, commNo);
    QCOMPARE(window.settings().ScanBaudRateNo, baudNo);
    QVERIFY(window.form().baudRateIndex() >= 0 && window.form().baudRateIndex() < 12);

    window.form().click(Control::btnScan);
    QVERIFY(window.context().ScanOk);
    QCOMPARE(window.settings().ScanCommNo, 3);
    QVERIFY(!link.isOpen());
    QCOMPARE(beeper.frequencies.last(), 1000);

    if (!rewrites) {
        QCOMPARE(QFileInfo(path()).size(), qint64(content.size()));
        return;
    }
    verifyWellFormed(path(), content);
    Settings again = loadFrom(path());
    QCOMPARE(again.ScanCommNo, 3);
    QCOMPARE(again.ScanBaudRateNo, 5);
    QCOMPARE(again.ScanBaudRate, std::string("19200,e,8,1"));

    // A language click saves into the same file; it stays well-formed.
    window.form().click(Control::btnGB);
    verifyWellFormed(path(), content);
    again = loadFrom(path());
    QCOMPARE(again.LanguageFlag, std::string("ChineseGB"));
    QCOMPARE(again.ScanCommNo, 3);
}

void TestBadSettings::unwritableFile_data()
{
    QTest::addColumn<bool>("directory");
    QTest::newRow("read-only file") << false;
    QTest::newRow("directory in its place") << true;
}

void TestBadSettings::unwritableFile()
{
    QFETCH(bool, directory);
    const std::string file = nativePath(path());
    if (directory) {
        QVERIFY(QDir().mkpath(path()));
        QCOMPARE(startScanSaveUnwritable(file), 0);
    } else {
        // Readable by everyone, writable by no one but root, in a directory likewise.
        write("[QMRConfig]\nScanCommNo=7\n");
        const QByteArray dir = QFile::encodeName(m_dir.path());
        QVERIFY(::chmod(file.c_str(), 0444) == 0);
        QVERIFY(::chmod(dir.constData(), 0555) == 0);
        const int result = runInChild([&file] {
            // The child must be able to read the file but not replace it, or the case proves
            // nothing.
            if (::access(file.c_str(), R_OK) != 0)
                return 10;
            if (::access(file.c_str(), W_OK) == 0)
                return 11;
            return startScanSaveUnwritable(file);
        });
        ::chmod(dir.constData(), 0755);
        // 1: read from the file, 2 or 3: the scan did not go on, 10/11: the child could not
        // read the file or could replace it, 100: it could not become "nobody".
        QCOMPARE(result, 0);
    }

    // The store was left as it was.
    if (directory) {
        QVERIFY(QFileInfo(path()).isDir());
    } else {
        QFile file(path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("[QMRConfig]\nScanCommNo=7\n"));
    }
}

void TestBadSettings::portsThatAreNoSerialDevices()
{
    // [Ports] names things that are no serial device; the real backend refuses each and the
    // scan ends in "Module Not Find" with the reason in the message line's detail.
    const QString plain = m_dir.filePath(QStringLiteral("plain-file"));
    {
        QFile f(plain);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a tty\n");
    }
    const QString folder = m_dir.filePath(QStringLiteral("a-directory"));
    QVERIFY(QDir().mkpath(folder));
    QByteArray text = "[QMRConfig]\nScanCommNo=1\nScanBaudRateNo=12\n[Ports]\nCOM1=/dev/null\n"
                      "COM2=" +
                      QFile::encodeName(plain) + "\nCOM3=" + QFile::encodeName(folder) +
                      "\nCOM4=" + QFile::encodeName(m_dir.filePath("missing")) + "\n";
    for (int com = 5; com <= 16; ++com)
        text += "COM" + QByteArray::number(com) + "=\n";
    write(text);

    SystemSettingsStore store(nativePath(path()));
    // No system port is ever used: every COM number is named in [Ports].
    const SystemPortMap map(store.portAssignments(), {"/nonexistent/ttyS0"});
    QCOMPARE(map.deviceFor(1), std::string("/dev/null"));
    SystemClock clock;
    SerialDevice port;
    Link link(port, clock, map);
    for (int com = 1; com <= 4; ++com) {
        QVERIFY2(!link.ComOpen(com, "19200,e,8,1"), map.deviceFor(com).c_str());
        QVERIFY(link.lastOpenError() != PortError::NoError);
        QVERIFY(!link.lastOpenErrorString().empty());
        QVERIFY(!port.isOpen());
    }

    QuietBeeper beeper;
    const LanguageTable languages;
    QtWindow window(link, clock, store, beeper, languages);
    window.form().FormCreate();
    window.form().click(Control::btnScan);
    QVERIFY(!window.context().ScanOk);
    QVERIFY(!link.isOpen());
    QCOMPARE(beeper.frequencies.last(), 300);
    QWidget *message = window.findChild<QWidget *>(QStringLiteral("pnMsg"));
    QVERIFY(message);
    QVERIFY2(message->toolTip().startsWith(QLatin1String("COM")), qPrintable(message->toolTip()));
    // Nothing was found, so nothing was saved: the file is as written.
    QFile file(path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), text);
}

QTEST_MAIN(TestBadSettings)
#include "tst_badsettings.moc"
