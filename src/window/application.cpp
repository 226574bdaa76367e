#include "application.h"

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
    return QStringLiteral("TAVEX QLN-72RT Module Config");
}

QString Application::currentExceptionText()
{
    const std::exception_ptr current = std::current_exception();
    if (!current)
        return QStringLiteral("Unknown error");
    try {
        std::rethrow_exception(current);
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

} // namespace qmr
