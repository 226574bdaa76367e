#include "console.h"

#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qmr {

Console::Console()
    : m_outputTerminal(isatty(STDOUT_FILENO) == 1), m_errorTerminal(isatty(STDERR_FILENO) == 1)
{
}

int Console::outputWidth() const
{
    winsize size{};
    return m_outputTerminal && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? int(size.ws_col) : 0;
}

void Console::arm()
{
    struct sigaction action = {};
    action.sa_handler = &Console::handle;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void Console::handle(int)
{
    s_requested.store(true);
}

} // namespace qmr
