#include "link/link.h"

#include <QTest>

using namespace qmr;

class TestFrame : public QObject
{
    Q_OBJECT

private slots:
    void checkDigits_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("digits");
        QTest::newRow("zero") << 0x00 << QByteArray("00");
        QTest::newRow("low digit") << 0x05 << QByteArray("05");
        QTest::newRow("ten is A") << 0x0A << QByteArray("0A");
        QTest::newRow("upper case") << 0xBF << QByteArray("BF");
        QTest::newRow("high digit") << 0x90 << QByteArray("90");
        QTest::newRow("all ones") << 0xFF << QByteArray("FF");
    }
    void checkDigits()
    {
        QFETCH(int, value);
        QFETCH(QByteArray, digits);
        QCOMPARE(Link::checkDigits(quint8(value)), digits);
    }

    void frame_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("A00M") << QByteArray("A00M")
                              << QByteArray::fromHex("0941 30 30 4D 30 35 0D");
        QTest::newRow("empty text") << QByteArray() << QByteArray::fromHex("09 30 39 0D");
        QTest::newRow("A00EB") << QByteArray("A00EB")
                               << QByteArray("\x09"
                                             "A00EB"
                                             "4F\r");
        QTest::newRow("poll") << QByteArray("A07F")
                              << QByteArray("\x09"
                                            "A07F"
                                            "09\r");
    }
    void frame()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, frame);
        QCOMPARE(Link::frame(text).toHex(' '), frame.toHex(' '));
    }

    void frameLengthIsOneByte()
    {
        // The length travels as one byte: 256 + 4 bytes of text send only 4 of them.
        const QByteArray text = QByteArray(256, 'x') + "A00M";
        const QByteArray out = Link::frame(text);
        QCOMPARE(out.size(), 8);
        QCOMPARE(out.mid(1, 4), QByteArray("xxxx"));
    }

    void replyCheck_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ok");
        QTest::newRow("worked example") << QByteArray::fromHex("0A 31 32 30 39 0D") << true;
        QTest::newRow("shortest") << QByteArray::fromHex("0A 30 41 0D") << true;
        QTest::newRow("lower-case digits") << QByteArray::fromHex("0A 30 61 0D") << false;
        QTest::newRow("wrong value") << QByteArray::fromHex("0A 31 32 30 38 0D") << false;
        QTest::newRow("digits swapped") << QByteArray::fromHex("0A 31 32 39 30 0D") << false;
        QTest::newRow("two bytes") << QByteArray::fromHex("0A 0D") << false;
        QTest::newRow("three bytes") << QByteArray::fromHex("0A 41 0D") << false;
        QTest::newRow("one byte") << QByteArray::fromHex("0D") << false;
        QTest::newRow("sixteen bytes") << QByteArray("\n 01 123456700B\r") << true;
    }
    void replyCheck()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, ok);
        QCOMPARE(Link::ReplyCheck(reply.constData(), qint32(reply.size())), ok);
    }
};

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
