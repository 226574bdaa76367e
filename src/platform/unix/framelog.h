#pragma once

#include "link/link.h"

#include <QLoggingCategory>

namespace qmr {

// "qmr.frames": every frame sent and received, off by default (QT_LOGGING_RULES turns it on).
Q_DECLARE_LOGGING_CATEGORY(lcFrames)

// A frame observer for Link::setFrameObserver that writes each frame to lcFrames as debug
// output: "sent", "received" with "ok" or "check failed", "abandoned" (bytes in hex) and
// "no reply".
FrameObserver frameLogObserver();

} // namespace qmr
