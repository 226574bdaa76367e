#include "texts/languagetable.h"

#include <array>
#include <cstddef>

namespace qmr {

namespace {

// Every on-screen text, one record a row: English, Simplified Chinese, Traditional Chinese.
// A fourth language is a fourth column. The source file is UTF-8, so the literals are the
// UTF-8 texts byte for byte.
constexpr std::array<std::array<const char *, LanguageTable::Languages>, LanguageTable::Rows>
    Texts = {{
        /*  0 */ {"TAVEX Technology Corp.   www.tavex.example",
                  "TAVEX股份有限公司   www.tavex.example", "TAVEX股份有限公司   www.tavex.example"},
        /*  1 */
        {"TAVEX QLN-72RT Module Config V3.20-01", "TAVEX QLN-72RT 转换模组设定程式 V3.20-01",
         "TAVEX QLN-72RT 轉換模組設定程式 V3.20-01"},
        /*  2 */ {"Start Scan Module!", "请先扫描模组!", "請先掃描模組!"},
        /*  3 */ {"Cancel Process Module", "取消连线", "取消連線"},
        /*  4 */ {"ID", "编号", "編號"},
        /*  5 */ {"BaudRate", "通讯速度", "通訊速度"},
        /*  6 */ {"Set Module Baud Rate (Reset)", "设定通讯速度(重置)", "設定通訊速度(重置)"},
        /*  7 */ {"Process Module", "模组连线", "模組連線"},
        /*  8 */ {"Factory Default", "出厂预设", "出廠預設"},
        /*  9 */ {"One Reader", "单一读卡机", "單一讀卡機"},
        /* 10 */ {"Quick Setting", "快速设定", "快速設定"},
        /* 11 */ {"Default", "预设", "預設"},
        /* 12 */ {"S/N Set", "序号设定", "序號設定"},
        /* 13 */ {"Exit", "结束", "結束"},
        /* 14 */ {"Open COM", "开启串口", "開啟串口"},
        /* 15 */ {"Error", "错误", "錯誤"},
        /* 16 */ {"Scan Module", "扫描模组", "掃描模組"},
        /* 17 */ {"S/N", "序号", "序號"},
        /* 18 */ {"No", "流水号", "流水號"},
        /* 19 */ {"VER", "版本", "版本"},
        /* 20 */ {"Scan COM", "扫描串口", "掃描串口"},
        /* 21 */ {"Get Module Info Ok. (COM", "读取模组资讯完成. (串口", "讀取模組資訊完成. (串口"},
        /* 22 */
        {"Get Module Info Error. (COM", "读取模组资讯错误. (串口", "讀取模組資訊錯誤. (串口"},
        /* 23 */ {"Module Not Find", "模组没有连线", "模組沒有連線"},
        /* 24 */ {"Set Module ID", "设定模组编号", "設定模組編號"},
        /* 25 */ {"Set Module ID Ok", "设定模组编号完成", "設定模組編號完成"},
        /* 26 */ {"Set Module ID Error", "设定模组编号错误", "設定模組編號錯誤"},
        /* 27 */ {"Set Module No", "设定模组流水号", "設定模組流水號"},
        /* 28 */ {"Set Module No Ok", "设定模组流水号完成", "設定模組流水號完成"},
        /* 29 */ {"Set Module No Error", "设定模组流水号错误", "設定模組流水號錯誤"},
        /* 30 */ {"Set Module BaudRate", "设定模组通讯速度", "設定模組通訊速度"},
        /* 31 */ {"Set Module BaudRate Ok", "设定模组通讯速度完成", "設定模組通訊速度完成"},
        /* 32 */ {"Set Module BaudRate Error", "设定模组通讯速度错误", "設定模組通訊速度錯誤"},
        /* 33 */ {"Set Module Mode", "设定模组模式", "設定模組模式"},
        /* 34 */ {"Set Module Mode Ok", "设定模组模式完成", "設定模組模式完成"},
        /* 35 */ {"Set Module Mode Error", "设定模组模式错误", "設定模組模式錯誤"},
        /* 36 */ {"Set Factory Default", "设定出厂预设值", "設定出廠預設值"},
        /* 37 */ {"Set Factory Default Ok", "设定出厂预设值完成", "設定出廠預設值完成"},
        /* 38 */ {"Set Factory Default Error", "设定出厂预设值错误", "設定出廠預設值錯誤"},
        /* 39 */ {"Set Factory Test", "设定出厂测试值", "設定出廠測試值"},
        /* 40 */ {"Set Factory Test Ok", "设定出厂测试值完成", "設定出廠測試值完成"},
        /* 41 */ {"Set Factory Test Error", "设定出厂测试值错误", "設定出廠測試值錯誤"},
    }};

} // namespace

LanguageTable::LanguageTable()
{
    for (std::size_t row = 0; row < Texts.size(); ++row)
        for (std::size_t language = 0; language < Texts[row].size(); ++language)
            m_texts[row][language] = Texts[row][language];
}

const std::string &LanguageTable::text(TextRow row, int languageIndex) const
{
    return text(static_cast<int>(row), languageIndex);
}

const std::string &LanguageTable::text(int row, int languageIndex) const
{
    static const std::string none;
    if (row < 0 || row >= Rows)
        return none;
    // An unknown language reads English rather than a neighbouring row's text.
    if (languageIndex < 0 || languageIndex >= Languages)
        languageIndex = 0;
    return m_texts[std::size_t(row)][std::size_t(languageIndex)];
}

} // namespace qmr
