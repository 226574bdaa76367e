#include "application.h"
#include "audiobeeper.h"
#include "link/link.h"
#include "platform/unix/eventwait.h"
#include "platform/unix/framelog.h"
#include "platform/unix/systemclock.h"
#include "platform/unix/systemport.h"
#include "platform/unix/systemsettingsstore.h"
#include "qtwindow.h"
#include "systemportmap.h" // the Unix system's own port map
#include "texts/languagetable.h"

int main(int argc, char *argv[])
{
    // Names the program (application name, desktop entry) but sets no display name.
    qmr::Application app(argc, argv);
    QGuiApplication::setWindowIcon(qmr::QtWindow::programIcon());
    try {
        const qmr::LanguageTable languages;
        qmr::SystemSettingsStore store;
        qmr::SystemClock clock;
        const auto port = qmr::makeSystemPort(clock);
        const qmr::SystemPortMap ports(store.portAssignments());
        qmr::Link link(*port, clock, ports);
        // While a reply is awaited the window keeps painting, blinking and taking the click
        // that stops process mode.
        // With nothing to do it sleeps until an event or a byte comes instead of waking every
        // millisecond.
        link.setMessagePump([] { QCoreApplication::processEvents(); });
        // A network port's bytes raise no event here: its waits stay at the 1 ms of a read.
        link.setIdleWait([&port = *port](std::uint32_t maxMs) {
            qmr::processEventsOrWait(port.network() ? 1 : maxMs);
        });
        // The frame trace on the "qmr.frames" category (QT_LOGGING_RULES turns it on).
        link.setFrameObserver(qmr::frameLogObserver());
        qmr::AudioBeeper beeper(clock);

        qmr::QtWindow frmModule(link, clock, store, beeper, languages);
        frmModule.show();
        QApplication::exec();
    } catch (...) {
        // Shown like a failing event handler; the program then ends normally.
        app.showException(qmr::Application::currentExceptionText());
    }
    return 0;
}
