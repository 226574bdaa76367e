#pragma once

#include <cstdint>

namespace qmr {

// Lets pending events of this thread run; when there are none, blocks until one comes or
// maxMs have passed. An open SerialDevice's port signals arriving bytes as an event,
// so a reply ends the wait at once. For Link::setIdleWait in programs with an event loop.
void processEventsOrWait(std::uint32_t maxMs);

} // namespace qmr
