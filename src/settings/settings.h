#pragma once

#include <QString>
#include <QtGlobal>

namespace qmr {

// The four remembered values and the language index derived from LanguageFlag.
// One instance lives for the whole run; tests make their own.
struct Settings
{
    qint32 ScanCommNo = 0; // 0 or less: no port remembered
    QString ScanBaudRate = QStringLiteral("19200,e,8,1");
    qint32 ScanBaudRateNo = 5; // taken as stored: may lie outside 0..11
    QString LanguageFlag = QStringLiteral("English");
    int LanguageIndex = 0; // 1 only for exactly "ChineseGB", 2 for "ChineseBIG5"

    // LanguageIndex for a remembered language name (exact, case-sensitive).
    static int languageIndexFor(const QString &flag);
};

} // namespace qmr
