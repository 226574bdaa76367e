#include "platform/linux/systemadapters.h"
#include "platform/linux/systemportmap.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace qmr;

namespace {

// The rows stay Qt lists, so a failing comparison prints both sides.
std::vector<std::string> toStd(const QStringList &list)
{
    std::vector<std::string> out;
    for (const QString &s : list)
        out.push_back(s.toStdString());
    return out;
}

QStringList toQt(const std::vector<std::string> &list)
{
    QStringList out;
    for (const std::string &s : list)
        out.append(QString::fromStdString(s));
    return out;
}

using Assign = std::map<int, std::string>;

// A sysfs and /dev tree as Linux lays them out for an FTDI adapter and an on-board UART.
void makeFakeSystem(const std::filesystem::path &root)
{
    namespace fs = std::filesystem;
    const auto write = [](const fs::path &file, const char *text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << '\n';
    };
    const fs::path usb = root / "sys/devices/pci0000:00/usb1/1-1";
    for (const auto &[name, value] : {std::pair{"idVendor", "0403"},
                                      {"idProduct", "6001"},
                                      {"manufacturer", "FTDI"},
                                      {"product", "FT232R USB UART"},
                                      {"serial", "A10K1ZQB"}})
        write(usb / name, value);
    write(usb / "1-1:1.0/ttyUSB0/latency_timer", "16");
    fs::create_symlink("../../../../../../bus/usb-serial/drivers/ftdi_sio",
                       usb / "1-1:1.0/ttyUSB0/driver");
    fs::create_directories(root / "sys/devices/platform/serial8250/tty/ttyS0");
    fs::create_symlink("../../../../../bus/platform/drivers/serial8250",
                       root / "sys/devices/platform/serial8250/driver");
    fs::create_directories(root / "sys/class/tty/ttyUSB0");
    fs::create_directories(root / "sys/class/tty/ttyS0");
    fs::create_symlink("../../../devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0",
                       root / "sys/class/tty/ttyUSB0/device");
    fs::create_symlink("../../../devices/platform/serial8250", root / "sys/class/tty/ttyS0/device");
    fs::create_directories(root / "dev/serial/by-id");
    fs::create_symlink("../../ttyUSB0",
                       root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1ZQB-if00-port0");
}

} // namespace

class TestPortMap : public QObject
{
    Q_OBJECT

private slots:
    void sortedDevices_data()
    {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<QStringList>("sorted");
        QTest::newRow("natural order")
            << QStringList{"/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyUSB0"}
            << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB2", "/dev/ttyUSB10"};
        QTest::newRow("UARTs, then USB, then ACM")
            << QStringList{"/dev/ttyACM0", "/dev/ttyUSB1", "/dev/ttyS1", "/dev/ttyUSB0",
                           "/dev/ttyS0",   "/dev/ttyS10",  "/dev/ttyS2"}
            << QStringList{"/dev/ttyS0",   "/dev/ttyS1",   "/dev/ttyS2",  "/dev/ttyS10",
                           "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0"};
        QTest::newRow("other on-board UARTs")
            << QStringList{"/dev/ttyUSB0", "/dev/ttymxc1", "/dev/ttyAMA0", "/dev/ttyACM1"}
            << QStringList{"/dev/ttyAMA0", "/dev/ttymxc1", "/dev/ttyUSB0", "/dev/ttyACM1"};
        QTest::newRow("ACM in natural order") << QStringList{"/dev/ttyACM11", "/dev/ttyACM9"}
                                              << QStringList{"/dev/ttyACM9", "/dev/ttyACM11"};
        QTest::newRow("empty") << QStringList{} << QStringList{};
    }
    void sortedDevices()
    {
        QFETCH(QStringList, devices);
        QFETCH(QStringList, sorted);
        QCOMPARE(toQt(SystemPortMap::sortedDevices(toStd(devices))), sorted);
    }

    void numbering_data()
    {
        QTest::addColumn<Assign>("assignments");
        QTest::addColumn<QStringList>("system");
        QTest::addColumn<QStringList>("com"); // COM1, COM2, ... (empty: no port)

        QTest::newRow("one USB adapter is COM1")
            << Assign{} << QStringList{"/dev/ttyUSB0"} << QStringList{"/dev/ttyUSB0", ""};
        QTest::newRow("system order")
            << Assign{} << QStringList{"/dev/ttyUSB0", "/dev/ttyS0", "/dev/ttyACM0"}
            << QStringList{"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyACM0", ""};
        QTest::newRow("[Ports] wins")
            << Assign{{1, "/dev/ttyACM0"}} << QStringList{"/dev/ttyS0", "/dev/ttyACM0"}
            << QStringList{"/dev/ttyACM0", "/dev/ttyS0", ""};
        QTest::newRow("assigned device not numbered twice")
            << Assign{{3, "/dev/ttyUSB0"}}
            << QStringList{"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1"}
            << QStringList{"/dev/ttyS0", "/dev/ttyUSB1", "/dev/ttyUSB0", ""};
        QTest::newRow("empty path is no port") << Assign{{1, ""}} << QStringList{"/dev/ttyUSB0"}
                                               << QStringList{"", "/dev/ttyUSB0", ""};
        QTest::newRow("assignment past the system ports")
            << Assign{{5, "/dev/ttyUSB7"}} << QStringList{"/dev/ttyUSB0"}
            << QStringList{"/dev/ttyUSB0", "", "", "", "/dev/ttyUSB7", ""};
    }
    void numbering()
    {
        QFETCH(Assign, assignments);
        QFETCH(QStringList, system);
        QFETCH(QStringList, com);
        const SystemPortMap map(assignments, toStd(system));
        for (int i = 0; i < com.size(); ++i)
            QCOMPARE(QString::fromStdString(map.deviceFor(i + 1)), com[i]);
        QCOMPARE(QString::fromStdString(map.deviceFor(0)), QString());
        QCOMPARE(QString::fromStdString(map.deviceFor(-1)), QString());
    }

    void adaptersFromSysfs()
    {
        QTemporaryDir dir;
        const std::filesystem::path root = dir.path().toStdString();
        makeFakeSystem(root);
        const AdapterIdentity ftdi = sysfsAdapter("/dev/ttyUSB0", root);
        QCOMPARE(ftdi.maker, std::string("FTDI"));
        QCOMPARE(ftdi.model, std::string("FT232R USB UART"));
        QCOMPARE(ftdi.serialNumber, std::string("A10K1ZQB"));
        QCOMPARE(ftdi.vendorId + ":" + ftdi.productId, std::string("0403:6001"));
        QCOMPARE(ftdi.driver, std::string("ftdi_sio"));
        QCOMPARE(ftdi.latencyTimerMs, 16);
        QCOMPARE(ftdi.stablePath,
                 std::string("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1ZQB-if00-port0"));
        // An on-board UART has a driver only; a pseudo-terminal is unknown to sysfs.
        AdapterIdentity uart;
        uart.driver = "serial8250";
        QCOMPARE(sysfsAdapter("/dev/ttyS0", root), uart);
        QVERIFY(sysfsAdapter("/dev/pts/3", root).empty());
    }

    void linkNamesSameDevice()
    {
        // A [Ports] entry naming a link to a system port keeps that port from being numbered
        // again under its real name.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString real = dir.filePath("ttyUSB0");
        const QString other = dir.filePath("ttyUSB1");
        const QString link = dir.filePath("module");
        for (const QString &path : {real, other}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(real, link));
        const SystemPortMap map({{2, link.toStdString()}},
                                {real.toStdString(), other.toStdString()});
        QCOMPARE(QString::fromStdString(map.deviceFor(1)), other);
        QCOMPARE(QString::fromStdString(map.deviceFor(2)), link);
        QCOMPARE(QString::fromStdString(map.deviceFor(3)), QString());
    }
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
