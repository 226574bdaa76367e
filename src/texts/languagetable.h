#pragma once

#include "texts/textrow.h"

#include <array>
#include <string>

namespace qmr {

// Every on-screen text in English, Simplified and Traditional Chinese (UTF-8): 42 rows of 3 texts,
// held as one flat sequence in row order (row r, language l is entry r * 3 + l).
class LanguageTable
{
public:
    static constexpr int Rows = TextRowCount;
    static constexpr int Languages = 3; // 0 English, 1 Simplified, 2 Traditional

    LanguageTable();
    // Row r in language languageIndex, as UTF-8; an index outside 0..2 reads English, a row
    // outside the table is empty. The reference stays valid as long as the table.
    const std::string &text(TextRow row, int languageIndex) const;
    const std::string &text(int row, int languageIndex) const;

private:
    std::array<std::string, Rows * Languages> m_texts;
};

} // namespace qmr
