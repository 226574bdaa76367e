#include "application.h"
#include "audiobeeper.h"
#include "platform/unix/eventwait.h"
#include "platform/unix/framelog.h"
#include "platform/unix/systemdevices.h"
#include "qtwindow.h"
#include "texts/languagetable.h"

int main(int argc, char *argv[])
{
    // Names the program (application name, desktop entry) but sets no display name.
    qmr::Application app(argc, argv);
    QGuiApplication::setWindowIcon(qmr::QtWindow::programIcon());
    try {
        const qmr::LanguageTable languages;
        const qmr::SystemDevices system = qmr::makeSystemDevices();
        qmr::Link &link = *system.link;
        qmr::Clock &clock = *system.line.clock;
        // While a reply is awaited the window keeps painting, blinking and taking the click
        // that stops process mode.
        // With nothing to do it sleeps until an event or a byte comes instead of waking every
        // millisecond.
        link.setMessagePump([] { QCoreApplication::processEvents(); });
        // A network port's bytes raise no event here: its waits stay at the 1 ms of a read.
        link.setIdleWait([&port = *system.line.port](std::uint32_t maxMs) {
            qmr::processEventsOrWait(port.network() ? 1 : maxMs);
        });
        // The frame trace on the "qmr.frames" category (QT_LOGGING_RULES turns it on).
        link.setFrameObserver(qmr::frameLogObserver());
        qmr::AudioBeeper beeper(clock);

        qmr::QtWindow frmModule(link, clock, *system.store, beeper, languages);
        frmModule.show();
        QApplication::exec();
    } catch (...) {
        // Shown like a failing event handler; the program then ends normally.
        app.showException(qmr::Application::currentExceptionText());
    }
    return 0;
}
