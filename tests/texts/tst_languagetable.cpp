#include "texts/languagetable.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <string_view>

using namespace qmr;

namespace {

struct Row
{
    int row;
    const char *english;
    const char *simplified;
    const char *traditional;
};

// Literals in this source file; the rows checked against raw bytes below make sure both
// this file and the table were compiled as UTF-8.
const Row Rows[] = {
    {1, "TAVEX QLN-72RT Module Config V3.20-01", "TAVEX QLN-72RT 转换模组设定程式 V3.20-01",
     "TAVEX QLN-72RT 轉換模組設定程式 V3.20-01"},
    {2, "Start Scan Module!", "请先扫描模组!", "請先掃描模組!"},
    {6, "Set Module Baud Rate (Reset)", "设定通讯速度(重置)", "設定通訊速度(重置)"},
    {8, "Factory Default", "出厂预设", "出廠預設"},
    {13, "Exit", "结束", "結束"},
    {17, "S/N", "序号", "序號"},
    {19, "VER", "版本", "版本"}, // the same in both Chinese columns
    {21, "Get Module Info Ok. (COM", "读取模组资讯完成. (串口", "讀取模組資訊完成. (串口"},
    {23, "Module Not Find", "模组没有连线", "模組沒有連線"},
    {41, "Set Factory Test Error", "设定出厂测试值错误", "設定出廠測試值錯誤"},
};

// True when text is well-formed UTF-8 (no stray or truncated sequences, no overlong forms,
// no surrogates).
bool isUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        unsigned min = 0;
        unsigned cp = 0;
        if ((b & 0xE0) == 0xC0) {
            more = 1;
            min = 0x80;
            cp = b & 0x1Fu;
        } else if ((b & 0xF0) == 0xE0) {
            more = 2;
            min = 0x800;
            cp = b & 0x0Fu;
        } else if ((b & 0xF8) == 0xF0) {
            more = 3;
            min = 0x10000;
            cp = b & 0x07u;
        } else {
            return false;
        }
        if (i + std::size_t(more) >= text.size())
            return false;
        for (int k = 1; k <= more; ++k) {
            const auto c = static_cast<unsigned char>(text[i + std::size_t(k)]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += std::size_t(more) + 1;
    }
    return true;
}

} // namespace

TEST(LanguageTable, RowsInEveryLanguage)
{
    const LanguageTable table;
    for (const Row &r : Rows) {
        SCOPED_TRACE(r.row);
        EXPECT_EQ(table.text(r.row, 0), r.english);
        EXPECT_EQ(table.text(r.row, 1), r.simplified);
        EXPECT_EQ(table.text(r.row, 2), r.traditional);
        EXPECT_EQ(table.text(static_cast<TextRow>(r.row), 1), r.simplified);
    }
}

TEST(LanguageTable, TextsAreTheirUtf8Bytes)
{
    const LanguageTable table;
    EXPECT_EQ(table.text(TextRow::StartScanModule, 1),
              "\xe8\xaf\xb7\xe5\x85\x88\xe6\x89\xab\xe6\x8f\x8f\xe6\xa8\xa1\xe7\xbb\x84!");
    EXPECT_EQ(table.text(TextRow::StartScanModule, 2),
              "\xe8\xab\x8b\xe5\x85\x88\xe6\x8e\x83\xe6\x8f\x8f\xe6\xa8\xa1\xe7\xb5\x84!");
    EXPECT_EQ(table.text(TextRow::Exit, 1), "\xe7\xbb\x93\xe6\x9d\x9f");
    EXPECT_EQ(table.text(TextRow::Exit, 2), "\xe7\xb5\x90\xe6\x9d\x9f");
    EXPECT_EQ(table.text(TextRow::Ver, 1), "\xe7\x89\x88\xe6\x9c\xac");
    EXPECT_EQ(table.text(TextRow::Ver, 2), "\xe7\x89\x88\xe6\x9c\xac");
    EXPECT_EQ(table.text(TextRow::Company, 1).substr(0, 26),
              "TAVEX\xe8\x82\xa1\xe4\xbb\xbd\xe6\x9c\x89\xe9\x99\x90\xe5\x85\xac\xe5\x8f\xb8   ");
}

TEST(LanguageTable, EveryEntryFilledWithoutAccelerators)
{
    const LanguageTable table;
    int filled = 0;
    for (int row = 0; row < LanguageTable::Rows; ++row) {
        for (int language = 0; language < LanguageTable::Languages; ++language) {
            const std::string &text = table.text(row, language);
            SCOPED_TRACE(text);
            if (!text.empty())
                ++filled;
            EXPECT_EQ(text.find('&'), std::string::npos);
            EXPECT_TRUE(isUtf8(text));
        }
        // The English column is plain ASCII.
        for (const char ch : table.text(row, 0))
            EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << "row " << row;
    }
    EXPECT_EQ(filled, 126);

    // Company name, three spaces, then the web address, in every language.
    const std::string &english = table.text(TextRow::Company, 0);
    ASSERT_EQ(english.rfind("TAVEX Technology Corp.   ", 0), 0u);
    const std::string address = english.substr(25);
    ASSERT_FALSE(address.empty());
    EXPECT_NE(address.front(), ' ');
    EXPECT_EQ(table.text(TextRow::Company, 1), "TAVEX股份有限公司   " + address);
    EXPECT_EQ(table.text(TextRow::Company, 2), "TAVEX股份有限公司   " + address);
}

TEST(LanguageTable, UnknownLanguageReadsEnglish)
{
    const LanguageTable table;
    for (const int language : {-1, 3, 1000000, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(language);
        EXPECT_EQ(table.text(TextRow::StartScanModule, language), "Start Scan Module!");
        EXPECT_EQ(table.text(41, language), "Set Factory Test Error");
        EXPECT_EQ(table.text(0, language), table.text(0, 0));
    }
}

TEST(LanguageTable, RowOutsideTableIsEmpty)
{
    const LanguageTable table;
    for (const int row : {-1, 42, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(row);
        for (const int language : {0, 1, 2, 5})
            EXPECT_TRUE(table.text(row, language).empty());
        EXPECT_TRUE(table.text(static_cast<TextRow>(row), 0).empty());
    }
}
