#include "eventwait.h"

#include <QCoreApplication>
#include <QTimer>

namespace qmr {

void processEventsOrWait(std::uint32_t maxMs)
{
    // The timer is the latest wake-up; a precise one, so the reply window ends on time.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(int(maxMs));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace qmr
