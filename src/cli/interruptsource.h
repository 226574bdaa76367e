#pragma once

namespace qmr {

// Where a request to stop process mode or provisioning comes from (Ctrl-C in qmrctl).
// requested() may be asked from any thread.
class InterruptSource
{
public:
    virtual ~InterruptSource() = default;
    // Called when process mode or provisioning starts: from then on an interrupt asks it to
    // stop.
    virtual void arm() = 0;
    virtual bool requested() const = 0;
};

} // namespace qmr
