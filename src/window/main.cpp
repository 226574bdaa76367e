#include "application.h"
#include "audiobeeper.h"
#include "languagetable.h"
#include "link/eventwait.h"
#include "link/link.h"
#include "link/portmap.h"
#include "link/qtserialportbackend.h"
#include "link/systemclock.h"
#include "settings/inisettingsstore.h"
#include "tfrmmodule.h"

int main(int argc, char *argv[])
{
    qmr::Application app(argc, argv);
    QGuiApplication::setApplicationDisplayName(QStringLiteral("TAVEX QLN-72RT Module Config"));
    try {
        const qmr::LanguageTable languages;
        qmr::IniSettingsStore store;
        qmr::SystemClock clock;
        qmr::QtSerialPortBackend port;
        const qmr::SystemPortMap ports(store.portAssignments());
        qmr::Link link(port, clock, ports);
        // While a reply is awaited the window keeps painting, blinking and taking the click
        // that stops process mode.
        // With nothing to do it sleeps until an event or a byte comes instead of waking every
        // millisecond.
        link.setMessagePump([] { QCoreApplication::processEvents(); });
        link.setIdleWait(qmr::processEventsOrWait);
        qmr::AudioBeeper beeper(clock);

        qmr::TfrmModule frmModule(link, clock, store, beeper, languages);
        frmModule.show();
        QApplication::exec();
    } catch (...) {
        // Shown like a failing event handler; the program then ends normally.
        app.showException(qmr::Application::currentExceptionText());
    }
    return 0;
}
