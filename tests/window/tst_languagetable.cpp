#include "window/languagetable.h"

#include <QTest>

#include <limits>

using namespace qmr;

class TestLanguageTable : public QObject
{
    Q_OBJECT

private slots:
    void rows_data();
    void rows();
    void everyEntryFilledWithoutAccelerators();
    void unknownLanguageReadsEnglish_data();
    void unknownLanguageReadsEnglish();
    void rowOutsideTableIsEmpty_data();
    void rowOutsideTableIsEmpty();
};

void TestLanguageTable::rows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("simplified");
    QTest::addColumn<QString>("traditional");

    QTest::newRow("title") << 1 << QStringLiteral("TAVEX QLN-72RT Module Config V3.20-01")
                           << QStringLiteral("TAVEX QLN-72RT 转换模组设定程式 V3.20-01")
                           << QStringLiteral("TAVEX QLN-72RT 轉換模組設定程式 V3.20-01");
    QTest::newRow("start scan") << 2 << QStringLiteral("Start Scan Module!")
                                << QStringLiteral("请先扫描模组!")
                                << QStringLiteral("請先掃描模組!");
    QTest::newRow("baud rate reset")
        << 6 << QStringLiteral("Set Module Baud Rate (Reset)")
        << QStringLiteral("设定通讯速度(重置)") << QStringLiteral("設定通訊速度(重置)");
    QTest::newRow("factory default") << 8 << QStringLiteral("Factory Default")
                                     << QStringLiteral("出厂预设") << QStringLiteral("出廠預設");
    QTest::newRow("exit") << 13 << QStringLiteral("Exit") << QStringLiteral("结束")
                          << QStringLiteral("結束");
    QTest::newRow("serial number")
        << 17 << QStringLiteral("S/N") << QStringLiteral("序号") << QStringLiteral("序號");
    QTest::newRow("version, same in both Chinese")
        << 19 << QStringLiteral("VER") << QStringLiteral("版本") << QStringLiteral("版本");
    QTest::newRow("info ok") << 21 << QStringLiteral("Get Module Info Ok. (COM")
                             << QStringLiteral("读取模组资讯完成. (串口")
                             << QStringLiteral("讀取模組資訊完成. (串口");
    QTest::newRow("module not found")
        << 23 << QStringLiteral("Module Not Find") << QStringLiteral("模组没有连线")
        << QStringLiteral("模組沒有連線");
    QTest::newRow("last row") << 41 << QStringLiteral("Set Factory Test Error")
                              << QStringLiteral("设定出厂测试值错误")
                              << QStringLiteral("設定出廠測試值錯誤");
}

void TestLanguageTable::rows()
{
    QFETCH(int, row);
    const LanguageTable table;
    QTEST(table.text(row, 0), "english");
    QTEST(table.text(row, 1), "simplified");
    QTEST(table.text(row, 2), "traditional");
    QTEST(table.text(static_cast<TextRow>(row), 1), "simplified");
}

void TestLanguageTable::everyEntryFilledWithoutAccelerators()
{
    const LanguageTable table;
    int filled = 0;
    for (int row = 0; row < LanguageTable::Rows; ++row) {
        for (int language = 0; language < LanguageTable::Languages; ++language) {
            const QString text = table.text(row, language);
            if (!text.isEmpty())
                ++filled;
            QVERIFY2(!text.contains(u'&'), qPrintable(text));
            QVERIFY2(!text.contains(QChar::ReplacementCharacter), qPrintable(text));
        }
        // The English column is plain ASCII.
        for (const QChar ch : table.text(row, 0))
            QVERIFY(ch.unicode() >= 0x20 && ch.unicode() < 0x7f);
    }
    QCOMPARE(filled, 126);

    // Company name, three spaces, then the web address, in every language.
    const QString english = table.text(TextRow::Company, 0);
    QVERIFY(english.startsWith(QStringLiteral("TAVEX Technology Corp.   ")));
    const QString address = english.mid(25);
    QVERIFY(!address.isEmpty() && !address.startsWith(u' '));
    QCOMPARE(table.text(TextRow::Company, 1), QStringLiteral("TAVEX股份有限公司   ") + address);
    QCOMPARE(table.text(TextRow::Company, 2), QStringLiteral("TAVEX股份有限公司   ") + address);
}

void TestLanguageTable::unknownLanguageReadsEnglish_data()
{
    QTest::addColumn<int>("language");
    QTest::newRow("-1") << -1;
    QTest::newRow("3") << 3;
    QTest::newRow("large") << 1000000;
    QTest::newRow("most negative") << std::numeric_limits<int>::min();
}

void TestLanguageTable::unknownLanguageReadsEnglish()
{
    QFETCH(int, language);
    const LanguageTable table;
    QCOMPARE(table.text(TextRow::StartScanModule, language), QStringLiteral("Start Scan Module!"));
    QCOMPARE(table.text(41, language), QStringLiteral("Set Factory Test Error"));
    QCOMPARE(table.text(0, language), table.text(0, 0));
}

void TestLanguageTable::rowOutsideTableIsEmpty_data()
{
    QTest::addColumn<int>("row");
    QTest::newRow("-1") << -1;
    QTest::newRow("42") << 42;
    QTest::newRow("most negative") << std::numeric_limits<int>::min();
    QTest::newRow("largest") << std::numeric_limits<int>::max();
}

void TestLanguageTable::rowOutsideTableIsEmpty()
{
    QFETCH(int, row);
    const LanguageTable table;
    for (int language : {0, 1, 2, 5})
        QVERIFY(table.text(row, language).isEmpty());
    QVERIFY(table.text(static_cast<TextRow>(row), 0).isEmpty());
}

QTEST_GUILESS_MAIN(TestLanguageTable)
#include "tst_languagetable.moc"
