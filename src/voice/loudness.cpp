#include "voice/loudness.h"
#include "base/translate.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <vector>

namespace vox {
namespace {

constexpr double kMaxGainDb = 40.0;
// The peak the PCM aims at, below the ceiling: lossy coding adds up to about half a decibel.
constexpr double kPeakTarget = kVoicePeakCeiling - 1.0;

double DbToGain(double db) { return std::pow(10.0, db / 20.0); }

// Multiplies by gain, then holds every frame whose peak would pass ceiling down to it. The gain curve is
// the minimum of the needed reductions over a window of 2*look+1 frames, with a slow recovery, averaged
// over look+1 frames: each average only takes values at most the reduction its own frame needs, so no
// frame passes the ceiling, and the curve moves smoothly.
void ApplyGainAndLimit(std::vector<float>& samples, int channels, double gain, double ceiling, int look,
                       int release) {
    const std::size_t frames = samples.size() / static_cast<std::size_t>(channels);
    std::vector<float> need(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        float peak = 0;
        for (int c = 0; c < channels; ++c) peak = std::max(peak, std::fabs(samples[i * channels + c]));
        const double p = peak * gain;
        need[i] = p > ceiling ? static_cast<float>(ceiling / p) : 1.0f;
    }
    // Sliding minimum over [i - look, i + look] (a deque of increasing values).
    std::vector<float> held(frames);
    std::deque<std::size_t> window;
    std::size_t next = 0;
    const float step = 1.0f / static_cast<float>(release);
    float recovering = 1.0f;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::size_t last = std::min(frames - 1, i + static_cast<std::size_t>(look));
        for (; next <= last; ++next) {
            while (!window.empty() && need[window.back()] >= need[next]) window.pop_back();
            window.push_back(next);
        }
        while (window.front() + static_cast<std::size_t>(look) < i) window.pop_front();
        recovering = std::min(need[window.front()], recovering + step);
        held[i] = recovering;
    }
    double sum = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        sum += held[i];
        if (i > static_cast<std::size_t>(look)) sum -= held[i - look - 1];
        const std::size_t n = std::min<std::size_t>(i + 1, static_cast<std::size_t>(look) + 1);
        const double g = gain * std::min(1.0, sum / static_cast<double>(n));
        for (int c = 0; c < channels; ++c) {
            float& s = samples[i * channels + c];
            s = static_cast<float>(s * g);
        }
    }
}

}  // namespace

bool MeasureLoudness(const PcmSound& sound, Loudness& result, std::string& error) {
    if (sound.rate <= 0 || sound.channels <= 0) {
        error = Tr("没有可测量的声音");
        return false;
    }
    const std::unique_ptr<ebur128_state, void (*)(ebur128_state*)> state(
        ebur128_init(static_cast<unsigned>(sound.channels), static_cast<unsigned long>(sound.rate),
                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK),
        [](ebur128_state* s) { ebur128_destroy(&s); });
    if (!state) {
        error = Format(Tr("响度计不接受%s Hz"), std::to_string(sound.rate).c_str());
        return false;
    }
    if (ebur128_add_frames_float(state.get(), sound.samples.data(), sound.Frames()) != EBUR128_SUCCESS ||
        ebur128_loudness_global(state.get(), &result.integrated) != EBUR128_SUCCESS) {
        error = Tr("响度测量失败");
        return false;
    }
    double peak = 0;
    for (int c = 0; c < sound.channels; ++c) {
        double p = 0;
        if (ebur128_true_peak(state.get(), static_cast<unsigned>(c), &p) != EBUR128_SUCCESS) {
            error = Tr("响度测量失败");
            return false;
        }
        peak = std::max(peak, p);
    }
    result.truePeak = peak > 0 ? 20.0 * std::log10(peak) : -HUGE_VAL;
    return true;
}

bool NormalizeLoudness(PcmSound& sound, std::string& error) {
    Loudness before;
    if (!MeasureLoudness(sound, before, error)) return false;
    if (!std::isfinite(before.integrated)) return true;  // silence, or too short to be measured

    const int look = std::max(1, sound.rate / 200);     // 5 ms
    const int release = std::max(1, sound.rate / 20);   // 50 ms
    double gainDb = std::min(kMaxGainDb, kVoiceLoudness - before.integrated);
    double ceiling = DbToGain(kPeakTarget);
    // Limiting lowers the loudness a little and true peaks between samples can pass a sample ceiling;
    // a few rounds of measuring and correcting settle both.
    PcmSound trial;
    for (int round = 0; round < 6; ++round) {
        trial.rate = sound.rate;
        trial.channels = sound.channels;
        trial.samples = sound.samples;
        ApplyGainAndLimit(trial.samples, sound.channels, DbToGain(gainDb), ceiling, look, release);
        Loudness after;
        if (!MeasureLoudness(trial, after, error)) return false;
        const double loudOff = kVoiceLoudness - after.integrated;
        const double peakOver = after.truePeak - kPeakTarget;
        const bool loudOk = std::fabs(loudOff) <= 0.3 || gainDb >= kMaxGainDb;
        if (loudOk && peakOver <= 0) break;
        if (peakOver > 0) ceiling *= DbToGain(-peakOver - 0.05);
        if (!loudOk) gainDb = std::min(kMaxGainDb, gainDb + loudOff);
    }
    sound.samples = std::move(trial.samples);
    return true;
}

}  // namespace vox
