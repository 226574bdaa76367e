#pragma once

#include "beeper.h"
#include "link/clock.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QByteArray>
#include <optional>

namespace qmr {

// The outcome beep on the default sound output: a sine tone of the frequency for the
// duration. Like the blocking system beep it replaces, Beep() returns once the duration has
// passed, and it lets no window events run meanwhile. Without a sound output, or when the
// output fails, it is silent but takes the same time.
class AudioBeeper : public Beeper
{
public:
    // device: the output to use; left out, the system's default output at each beep.
    explicit AudioBeeper(Clock &clock, std::optional<QAudioDevice> device = std::nullopt);

    void Beep(int frequencyHz, int durationMs) override;

    // durationMs of a sine tone at frequencyHz in format, all channels alike, faded in and out
    // over a few milliseconds so that it starts and stops without a click.
    static QByteArray tone(const QAudioFormat &format, int frequencyHz, int durationMs);
    // The format a beep is played in on device: 16-bit mono at 44.1 kHz where the device
    // takes it, else the device's own preferred format.
    static QAudioFormat formatFor(const QAudioDevice &device);

private:
    Clock &m_clock;
    std::optional<QAudioDevice> m_device;
};

} // namespace qmr
