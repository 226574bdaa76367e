#include "audiobeeper.h"

#include "link/deadline.h"

#include <QAudioSink>
#include <QMediaDevices>
#include <cmath>
#include <cstring>
#include <numbers>

namespace qmr {

namespace {

constexpr int FadeMs = 5;
constexpr int WriteStepMs = 5;

void putSample(char *out, QAudioFormat::SampleFormat format, double value)
{
    switch (format) {
    case QAudioFormat::UInt8: {
        const auto sample = quint8(std::lround(127.5 + value * 127.0));
        std::memcpy(out, &sample, sizeof sample);
        break;
    }
    case QAudioFormat::Int16: {
        const auto sample = qint16(std::lround(value * 32767.0));
        std::memcpy(out, &sample, sizeof sample);
        break;
    }
    case QAudioFormat::Int32: {
        const auto sample = qint32(std::llround(value * 2147483647.0));
        std::memcpy(out, &sample, sizeof sample);
        break;
    }
    case QAudioFormat::Float: {
        const auto sample = float(value);
        std::memcpy(out, &sample, sizeof sample);
        break;
    }
    default:
        break;
    }
}

} // namespace

AudioBeeper::AudioBeeper(Clock &clock, std::optional<QAudioDevice> device)
    : m_clock(clock), m_device(std::move(device))
{
}

QAudioFormat AudioBeeper::formatFor(const QAudioDevice &device)
{
    QAudioFormat format;
    format.setSampleRate(44100);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (device.isNull() || device.isFormatSupported(format))
        return format;
    return device.preferredFormat();
}

QByteArray AudioBeeper::tone(const QAudioFormat &format, int frequencyHz, int durationMs)
{
    const int rate = format.sampleRate();
    const int channels = format.channelCount();
    const int sampleBytes = format.bytesPerSample();
    if (rate <= 0 || channels <= 0 || sampleBytes <= 0 || durationMs <= 0)
        return {};
    const qint64 frames = qint64(rate) * durationMs / 1000;
    const qint64 fadeFrames = qMin<qint64>(qint64(rate) * FadeMs / 1000, frames / 2);
    QByteArray pcm(frames * channels * sampleBytes, '\0');
    char *out = pcm.data();
    const double step = 2.0 * std::numbers::pi * frequencyHz / rate;
    for (qint64 i = 0; i < frames; ++i) {
        double gain = 0.5;
        if (fadeFrames > 0) {
            const qint64 edge = qMin(i, frames - 1 - i);
            if (edge < fadeFrames)
                gain *= double(edge) / fadeFrames;
        }
        const double value = gain * std::sin(step * double(i));
        for (int c = 0; c < channels; ++c) {
            putSample(out, format.sampleFormat(), value);
            out += sampleBytes;
        }
    }
    return pcm;
}

void AudioBeeper::Beep(int frequencyHz, int durationMs)
{
    if (durationMs <= 0)
        return;
    const Deadline beep(m_clock, quint32(durationMs));
    const QAudioDevice device = m_device ? *m_device : QMediaDevices::defaultAudioOutput();
    if (!device.isNull() && frequencyHz > 0) {
        const QAudioFormat format = formatFor(device);
        const QByteArray pcm = tone(format, frequencyHz, durationMs);
        QAudioSink sink(device, format);
        sink.setBufferSize(pcm.size());
        QIODevice *output = sink.start();
        qint64 written = 0;
        // The samples are handed over as fast as the output takes them; the time left over is
        // waited out below, so the beep always lasts its duration.
        while (output && sink.error() == QAudio::NoError && written < pcm.size() &&
               beep.elapsed() < quint32(durationMs)) {
            const qint64 now = output->write(pcm.constData() + written, pcm.size() - written);
            if (now < 0)
                break;
            written += now;
            if (written < pcm.size())
                m_clock.sleep(qMin<int>(WriteStepMs, durationMs - int(beep.elapsed())));
        }
        if (beep.elapsed() < quint32(durationMs))
            m_clock.sleep(durationMs - int(beep.elapsed()));
        sink.stop();
        return;
    }
    if (beep.elapsed() < quint32(durationMs))
        m_clock.sleep(durationMs - int(beep.elapsed()));
}

} // namespace qmr
