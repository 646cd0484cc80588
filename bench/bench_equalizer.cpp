// The equalizer's filters alone: 300 s of sound at 44.1 kHz through the ten
// bands (the preset 摇滚: every band lifted or cut), in blocks of 1152 frames
// as an MP3 decoder hands them on, for a few channel counts. Prints, per count,
// the median, minimum and maximum milliseconds of processor time of ROUNDS
// rounds, and the median per second of sound.
//
// Usage: bench_equalizer [ROUNDS]
#include "BenchClock.h"
#include "Equalizer.h"
#include "GstEqualizerFilter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    constexpr int kRate = 44100, kSeconds = 300, kBlock = 1152;
    const auto &presets = Equalizer::builtInPresets();
    const auto preset = std::find_if(presets.begin(), presets.end(),
                                     [](const Equalizer::Preset &p) { return p.name == QStringLiteral("摇滚"); });
    if (preset == presets.end())
        return 1;
    const EqualizerSettings rock{true, preset->preAmpDb, preset->bandsDb};
    std::printf("| channels | ms per %d s of sound (median) | min | max | ms per second of sound |\n", kSeconds);
    std::printf("| --- | --- | --- | --- | --- |\n");
    for (int channels : {1, 2, 6}) {
        // A tone in every channel, copied in afresh for each block: the
        // filters never run on their own output.
        std::vector<float> source(size_t(kBlock * channels)), block(source.size());
        for (size_t i = 0; i < source.size(); ++i)
            source[i] = float(0.3 * std::sin(double(i / size_t(channels)) * 2 * M_PI * 440 / kRate));
        std::vector<double> times;
        for (int round = 0; round < rounds; ++round) {
            EqualizerBands bands;
            bands.setFormat(kRate, channels);
            bands.design(rock);
            const double start = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
            for (int done = 0; done < kRate * kSeconds; done += kBlock) {
                block = source;
                bands.process(block.data(), kBlock);
            }
            times.push_back(cpuMs(CLOCK_PROCESS_CPUTIME_ID) - start);
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        std::printf("| %d | %.1f | %.1f | %.1f | %.3f |\n", channels, median, times.front(), times.back(),
                    median / kSeconds);
    }
    return 0;
}
