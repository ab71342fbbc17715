// Reading a 10 MB WAV file through the reader: Open, one Read of the whole
// "data" chunk (the way the sound output fills a buffer) and a Rewind, over
// the multimedia file I/O stand-ins.
#include "wave_reader.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kDataSize = 10 * 1024 * 1024;

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void PutId(std::vector<uint8_t>& out, const char* id) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(id[i]));
}

// A 16-bit stereo PCM file with a LIST chunk before its data, written once.
const std::string& BenchFile() {
    static const std::string path = [] {
        std::string name = "/tmp/tw_wave_bench_" + std::to_string(::getpid()) + ".wav";
        std::vector<uint8_t> bytes;
        PutId(bytes, "RIFF");
        Put32(bytes, 4 + 8 + 16 + 8 + 22 + 8 + kDataSize);
        PutId(bytes, "WAVE");
        PutId(bytes, "fmt ");
        Put32(bytes, 16);
        for (uint32_t v : {0x00020001u, 44100u, 44100u * 4, 0x00100004u}) Put32(bytes, v);
        PutId(bytes, "LIST");
        Put32(bytes, 22);
        bytes.resize(bytes.size() + 22, 'x');
        PutId(bytes, "data");
        Put32(bytes, kDataSize);
        bytes.reserve(bytes.size() + kDataSize);
        for (uint32_t i = 0; i < kDataSize; ++i) bytes.push_back(static_cast<uint8_t>(i * 31 + (i >> 9)));
        std::FILE* out = std::fopen(name.c_str(), "wb");
        if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) std::abort();
        std::fclose(out);
        std::atexit([] { std::remove(BenchFile().c_str()); });
        return name;
    }();
    return path;
}

void BM_OpenReadWholeRewind(benchmark::State& state) {
    std::vector<BYTE> destination(kDataSize);
    for (auto _ : state) {
        WaveFileReader reader;
        if (reader.Open(BenchFile().c_str()) != S_OK) {
            state.SkipWithError("Open failed");
            break;
        }
        UINT bytesRead = 0;
        if (reader.Read(reader.dataChunk.cksize, destination.data(), &bytesRead) != S_OK || bytesRead != kDataSize) {
            state.SkipWithError("Read failed");
            break;
        }
        reader.Rewind();
        benchmark::DoNotOptimize(destination.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kDataSize);
}
BENCHMARK(BM_OpenReadWholeRewind)->Unit(benchmark::kMillisecond);

// The same data in small reads, as a caller streaming it would.
void BM_ReadInPieces(benchmark::State& state) {
    const UINT piece = static_cast<UINT>(state.range(0));
    std::vector<BYTE> destination(piece);
    WaveFileReader reader;
    if (reader.Open(BenchFile().c_str()) != S_OK) {
        state.SkipWithError("Open failed");
        return;
    }
    for (auto _ : state) {
        reader.Rewind();
        UINT bytesRead = 0;
        do {
            reader.Read(piece, destination.data(), &bytesRead);
            benchmark::DoNotOptimize(destination.data());
        } while (bytesRead != 0);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kDataSize);
}
BENCHMARK(BM_ReadInPieces)->Arg(512)->Arg(64 * 1024)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
