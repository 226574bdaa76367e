#pragma once

#include "texts/textrow.h"
#include "vocabulary/vocabulary.h"

#include <array>
#include <string>

namespace qmr {

// Every on-screen text in English, Simplified and Traditional Chinese (UTF-8): 42 rows, each a
// record of its text in every language.
class LanguageTable
{
public:
    static constexpr int Rows = TextRowCount;
    // 0 English, 1 Simplified, 2 Traditional: a column for each language of the vocabulary.
    static constexpr int Languages = int(qmr::Languages.size());

    LanguageTable();
    // Row r in language languageIndex, as UTF-8; an index outside 0..2 reads English, a row
    // outside the table is empty. The reference stays valid as long as the table.
    const std::string &text(TextRow row, int languageIndex) const;
    const std::string &text(int row, int languageIndex) const;

private:
    std::array<std::array<std::string, Languages>, Rows> m_texts;
};

} // namespace qmr
