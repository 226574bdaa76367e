#pragma once

#include "operations/textrow.h"

#include <QString>
#include <array>

namespace qmr {

// Every on-screen text in English, Simplified and Traditional Chinese: 42 rows of 3 texts,
// held as one flat sequence in row order (row r, language l is entry r * 3 + l).
class LanguageTable
{
public:
    static constexpr int Rows = TextRowCount;
    static constexpr int Languages = 3; // 0 English, 1 Simplified, 2 Traditional

    LanguageTable();
    // Row r in language languageIndex; an index outside 0..2 reads English.
    QString text(TextRow row, int languageIndex) const;
    QString text(int row, int languageIndex) const;

private:
    std::array<QString, Rows * Languages> m_texts;
};

} // namespace qmr
