#include "application.h"

#include "form/tfrmmodule.h"

#include <QMessageBox>
#include <exception>

namespace qmr {

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv), m_exceptionBox([](const QString &text) {
          QMessageBox::critical(nullptr, programName(), text);
      })
{
    // The desktop and the window manager know the program by its desktop entry
    // (dist/qmrconfig.desktop) and its window class. No application display name is set: Qt
    // on X11 would append it to every window title, which must show the title row alone.
    setApplicationName(QStringLiteral("qmrconfig"));
    setDesktopFileName(QStringLiteral("qmrconfig"));
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showException(currentExceptionText());
    }
    return false;
}

void Application::showException(const QString &text)
{
    if (m_exceptionBox)
        m_exceptionBox(text);
}

QString Application::programName()
{
    return QString::fromUtf8(ProgramName.data(), qsizetype(ProgramName.size()));
}

QString Application::currentExceptionText()
{
    return QString::fromStdString(qmr::currentExceptionText());
}

} // namespace qmr
