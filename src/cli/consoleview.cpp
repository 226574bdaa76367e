#include "consoleview.h"

#include "link/linedefinition.h"
#include "terminaltext.h"

#include <algorithm>

namespace qmr {

ConsoleView::ConsoleView(const LanguageTable &table, int languageIndex, std::ostream &err)
    : m_table(table), m_languageIndex(languageIndex), m_err(err)
{
    m_processCaption = text(TextRow::ProcessModule);
}

std::string ConsoleView::idText(int id)
{
    std::string text = std::to_string(id);
    return text.size() < 2 ? std::string(2 - text.size(), '0') + text : text;
}

std::string ConsoleView::text(TextRow row) const
{
    return m_table.text(row, m_languageIndex);
}

void ConsoleView::setProgress(bool on)
{
    if (!on)
        clearProgress();
    m_progress = on;
}

void ConsoleView::setMessage(const std::string &text)
{
    m_message = text;
    drawProgress();
}

void ConsoleView::selectBaudRate(int index)
{
    m_baudRateIndex = index;
    drawProgress();
}

void ConsoleView::setId1Position(int position)
{
    position = std::clamp(position, MinReaderId, MaxReaderId);
    if (position == m_id1Position)
        return;
    m_id1Position = position;
    m_id1Text = idText(position);
}

void ConsoleView::setId2Position(int position)
{
    position = std::clamp(position, MinReaderId, MaxReaderId);
    if (position == m_id2Position)
        return;
    m_id2Position = position;
    m_id2Text = idText(position);
}

void ConsoleView::setReader1Data(const std::string &text)
{
    if (m_readerHook)
        m_readerHook(1, text);
}

void ConsoleView::setReader2Data(const std::string &text)
{
    if (m_readerHook)
        m_readerHook(2, text);
}

void ConsoleView::beep(int, int)
{
    // The console has no tone of its own; the outcome is the exit code and the message.
    if (m_bell)
        m_err << '\a' << std::flush;
}

void ConsoleView::processMessages()
{
    if (m_messageHook)
        m_messageHook();
}

void ConsoleView::showError(const std::string &text)
{
    clearProgress();
    m_errors.push_back(text);
    // The text may quote a reply field: its bytes reach the terminal escaped.
    m_err << "qmrctl: " << escapeControls(text, Backslash::AsIs) << '\n' << std::flush;
}

void ConsoleView::drawProgress()
{
    if (!m_progress)
        return;
    // One line, rewritten in place: carriage return, the text, erase to the line's end.
    std::string line = escapeControls(m_message, Backslash::AsIs);
    if (m_baudRateIndex >= 0 && m_baudRateIndex < int(BaudRateTable.size()))
        line += std::string("  (") + BaudRateTable[std::size_t(m_baudRateIndex)] + ")";
    if (m_progressShown && line == m_progressLine)
        return;
    m_err << '\r' << line << "\x1b[K" << std::flush;
    m_progressLine = line;
    m_progressShown = true;
}

void ConsoleView::clearProgress()
{
    if (!m_progressShown)
        return;
    m_err << "\r\x1b[K" << std::flush;
    m_progressShown = false;
}

} // namespace qmr
