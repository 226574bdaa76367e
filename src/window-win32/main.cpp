// qmrconfig.exe: the configuration window on Windows, over the same core as the Qt window on
// Linux. The platform's device assembly gives the program's devices (COM port, clock, port
// map, registry); this runs the window over them.

#include "platform/windows/systemdevices.h"
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
        const qmr::SystemDevices system = qmr::makeSystemDevices();
        qmr::Link &link = *system.link;

        qmr::Win32Window frmModule(link, *system.line.clock, *system.store, languages, instance);
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
