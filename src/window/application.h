#pragma once

#include <QApplication>
#include <functional>

namespace qmr {

// The program's application object. It names the program "qmrconfig" (application name and
// desktop entry). An exception that escapes an event handler is shown in a message box with
// its text and the program goes on with the next event.
class Application : public QApplication
{
    Q_OBJECT

public:
    // Shows the text of an exception; tests put a recorder in its place so nothing blocks.
    using ExceptionBox = std::function<void(const QString &text)>;

    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    void setExceptionBox(ExceptionBox box) { m_exceptionBox = std::move(box); }
    // Shows the text of an exception that was caught elsewhere (the program entry).
    void showException(const QString &text);
    // The text shown for the exception being handled (inside a catch block): its message, or
    // "Unknown error" for anything that is no std::exception.
    static QString currentExceptionText();
    // The program's name in the title of its message boxes. Deliberately not the application
    // display name: Qt on X11 would append that to every window title.
    static QString programName();

private:
    ExceptionBox m_exceptionBox;
};

} // namespace qmr
