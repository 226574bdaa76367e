// qmrconfig.exe: the configuration window on Windows, over the same core as the Qt window on
// Linux. This builds the program's devices (COM port, clock, port map, registry) and runs the
// window.

#include "link/link.h"
#include "platform/windows/systemclock.h"
#include "platform/windows/systemport.h"
#include "platform/windows/systemportmap.h"
#include "platform/windows/systemsettingsstore.h"
#include "texts/languagetable.h"
#include "win32window.h"
#include "wintext.h"

#include <windows.h>

#include <exception>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    try {
        // The table first, before the window exists.
        const qmr::LanguageTable languages;
        qmr::SystemSettingsStore store;
        qmr::SystemClock clock;
        const auto port = qmr::makeSystemPort(clock);
        const qmr::SystemPortMap ports(qmr::SystemPortMap::registryAssignments());
        qmr::Link link(*port, clock, ports);

        qmr::Win32Window frmModule(link, clock, store, languages, instance);
        // While a reply is awaited the window keeps painting, blinking and taking the click
        // that stops process mode.
        link.setMessagePump([&frmModule] { frmModule.pumpEvents(); });
        frmModule.run(showCommand);
    } catch (...) {
        // Shown like a failing event handler; the program then ends normally.
        MessageBoxW(nullptr, qmr::widen(qmr::currentExceptionText()).c_str(),
                    qmr::widen(qmr::ProgramName).c_str(), MB_OK | MB_ICONERROR);
    }
    return 0;
}
