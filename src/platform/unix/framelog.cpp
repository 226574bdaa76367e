#include "framelog.h"

#include <QByteArray>

namespace qmr {

Q_LOGGING_CATEGORY(lcFrames, "qmr.frames", QtWarningMsg)

namespace {

QByteArray hex(std::string_view bytes)
{
    return QByteArray(bytes.data(), qsizetype(bytes.size())).toHex(' ');
}

} // namespace

FrameObserver frameLogObserver()
{
    // qCDebug evaluates its arguments only when the category is on, so a quiet log costs no
    // hex conversion.
    return [](FrameEvent event, std::string_view bytes) {
        switch (event) {
        case FrameEvent::Sent:
            qCDebug(lcFrames) << "sent" << hex(bytes);
            break;
        case FrameEvent::Received:
            qCDebug(lcFrames) << "received" << hex(bytes) << "ok";
            break;
        case FrameEvent::CheckFailed:
            qCDebug(lcFrames) << "received" << hex(bytes) << "check failed";
            break;
        case FrameEvent::Abandoned:
            qCDebug(lcFrames) << "abandoned" << hex(bytes);
            break;
        case FrameEvent::NoReply:
            qCDebug(lcFrames) << "no reply";
            break;
        }
    };
}

} // namespace qmr
