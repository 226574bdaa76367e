#pragma once

namespace qmr {

// The outcome beep: a tone of a frequency and length, returning when it has sounded.
class Beeper
{
public:
    virtual ~Beeper() = default;
    virtual void Beep(int frequencyHz, int durationMs) = 0;
};

} // namespace qmr
