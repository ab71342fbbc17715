// The DirectSound stand-in's mixer: 32 looping voices of mixed formats
// (8/16-bit, mono/stereo, 22050/44100/48000 Hz) mixed into 44100 Hz stereo.
// The "x_realtime" counter is frames mixed per second over 44100.
#include "control_sound.h"
#include "control_window.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kVoices = 32;
constexpr uint32_t kOutputRate = 44100;

IDirectSoundBuffer* MakeVoice(IDirectSound* device, int index) {
    static constexpr uint32_t kRates[] = {22050, 44100, 48000};
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(1 + index % 2);
    format.wBitsPerSample = static_cast<WORD>(index / 2 % 2 ? 8 : 16);
    format.nSamplesPerSec = kRates[index % 3];
    format.nBlockAlign = static_cast<WORD>(format.nChannels * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    // Lengths that are not multiples of the mix chunk, so voices wrap at
    // different moments.
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN;
    desc.dwBufferBytes = (format.nSamplesPerSec / 3 + 37 * index) * format.nBlockAlign;
    desc.lpwfxFormat = &format;
    IDirectSoundBuffer* buffer = nullptr;
    if (FAILED(device->CreateSoundBuffer(&desc, &buffer, nullptr))) std::abort();

    void* p1;
    DWORD n1;
    if (FAILED(buffer->Lock(0, 0, &p1, &n1, nullptr, nullptr, DSBLOCK_ENTIREBUFFER))) std::abort();
    const double hz = 110.0 * (1 + index % 7);
    auto* bytes = static_cast<uint8_t*>(p1);
    const DWORD frames = n1 / format.nBlockAlign;
    for (DWORD i = 0; i < frames; ++i) {
        const double v = 0.2 * std::sin(2 * M_PI * hz * i / format.nSamplesPerSec);
        for (int c = 0; c < format.nChannels; ++c) {
            if (format.wBitsPerSample == 8) {
                bytes[i * format.nChannels + c] = static_cast<uint8_t>(128 + std::lround(127 * v));
            } else {
                const auto s = static_cast<int16_t>(std::lround(32767 * v));
                std::memcpy(bytes + 2 * (i * format.nChannels + c), &s, 2);
            }
        }
    }
    buffer->Unlock(p1, n1, nullptr, 0);
    buffer->SetVolume(-100 * (index % 10));
    buffer->SetPan(-3000 + 200 * index);
    if (FAILED(buffer->Play(0, 0, DSBPLAY_LOOPING))) std::abort();
    return buffer;
}

void BM_Mix32Voices(benchmark::State& state) {
    TwSoundReset();
    TwPlatformResetWindowsAndTimers();
    TwSoundSetOutputRate(kOutputRate);
    IDirectSound* device = nullptr;
    if (FAILED(DirectSoundCreate(nullptr, &device, nullptr))) std::abort();
    device->SetCooperativeLevel(TwPlatformRegisterWindow("FS98MAIN"), DSSCL_PRIORITY);
    for (int i = 0; i < kVoices; ++i) MakeVoice(device, i);

    const auto frames = static_cast<size_t>(state.range(0));
    std::vector<int16_t> out(2 * frames);
    for (auto _ : state) {
        TwSoundMix(out.data(), frames);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * frames));
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(state.iterations() * frames) / kOutputRate,
                                                      benchmark::Counter::kIsRate);
    device->Release();
    TwSoundReset();
}
// 735 frames: one simulator frame at 60 per second; 44100: one second.
BENCHMARK(BM_Mix32Voices)->Arg(735)->Arg(44100);

}  // namespace

BENCHMARK_MAIN();
