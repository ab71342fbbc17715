// The sound module's costs inside the simulator's frame, through the
// substitute host:
//   - one pre-update with 100 idle items, against the same calculator-code
//     reads made directly with prepared texts through the host's evaluator;
//   - loading 100 WAV files (50 MB in all) into buffers on the first
//     initialisation, against reading the same files into one block.
#include <benchmark/benchmark.h>
#include <control_files.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "sim.h"

namespace {

constexpr int kItems = 100;

struct Folder {
    std::filesystem::path root;
    std::filesystem::path sound;
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

void Put(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
}

std::string Wav(uint32_t dataBytes) {
    std::string wav = "RIFF";
    Put(wav, 36 + dataBytes, 4);
    wav += "WAVEfmt ";
    Put(wav, 16, 4);
    for (auto [v, n] : {std::pair{1u, 2}, {1u, 2}, {22050u, 4}, {44100u, 4}, {2u, 2}, {16u, 2}}) Put(wav, v, n);
    wav += "data";
    Put(wav, dataBytes, 4);
    wav.reserve(wav.size() + dataBytes);
    for (uint32_t i = 0; i < dataBytes; ++i) wav += static_cast<char>(i * 37 + (i >> 7));
    return wav;
}

// A simulator installation with 100 items of `dataBytes` each.
std::unique_ptr<Folder> MakeFolder(uint32_t dataBytes) {
    auto folder = std::make_unique<Folder>();
    folder->root = std::filesystem::temp_directory_path() / ("tw_sound_bench_" + std::to_string(::getpid()));
    folder->sound = folder->root / "sim" / "Sound" / "Tarnwick_HX8";
    std::filesystem::create_directories(folder->sound);
    std::string config = "[general]\nmastercontroller=Master\n[sounditems]\n";
    const std::string wav = Wav(dataBytes);
    for (int i = 0; i < kItems; ++i) {
        const std::string name = "item" + std::to_string(i);
        config += name + ", " + name + ".wav\n";
        std::ofstream(folder->sound / (name + ".wav"), std::ios::binary) << wav;
    }
    std::ofstream(folder->sound / "twsound.cfg", std::ios::binary) << config;
    TwPlatformSetExecutablePath((folder->root / "sim" / "fs.exe").c_str());
    return folder;
}

void BM_PreUpdateWith100IdleItems(benchmark::State& state) {
    auto folder = MakeFolder(64);
    Sim sim;
    sim.KeepCodeLog(false);
    LoadedModule* module = sim.LoadModule(TW_SOUND_PATH);
    PlacedGauge* gauge = module != nullptr ? sim.PlaceGauge(module, "tw_sound") : nullptr;
    if (gauge == nullptr) {
        state.SkipWithError("tw_sound did not load");
        return;
    }
    GaugeHeader* header = gauge->header;
    for (auto _ : state) header->callback(header, 6, 0);
}
BENCHMARK(BM_PreUpdateWith100IdleItems);

// The reads a pre-update makes: the slew variable, the master controller,
// then every item, as prepared texts.
void BM_SameReadsWithPreparedTexts(benchmark::State& state) {
    Sim sim;
    sim.KeepCodeLog(false);
    std::vector<std::string> texts = {"((A:IS SLEW ACTIVE, bool))", "(L:master, number)"};
    for (int i = 0; i < kItems; ++i) texts.push_back("(L:item" + std::to_string(i) + ", number)");
    for (const std::string& text : texts) sim.variables().Set(text.substr(1, text.size() - 2), text[1] == 'L' ? -1 : 0);
    ExecuteCalculatorCodeFn execute = sim.services()->executeCalculatorCode;
    for (auto _ : state) {
        for (const std::string& text : texts) {
            int32_t value = 0;
            execute(text.c_str(), nullptr, &value, nullptr);
            benchmark::DoNotOptimize(value);
        }
    }
}
BENCHMARK(BM_SameReadsWithPreparedTexts);

constexpr uint32_t kLoadBytesPerItem = 500 * 1024;  // 100 files, 50 MB

// Load, connect-to-window and pre-initialise: every sound read and copied
// into its buffer; then the gauge and module go again.
void BM_Load100WavFiles(benchmark::State& state) {
    auto folder = MakeFolder(kLoadBytesPerItem);
    Sim sim;
    sim.KeepCodeLog(false);
    for (auto _ : state) {
        LoadedModule* module = sim.LoadModule(TW_SOUND_PATH);
        if (module == nullptr || sim.PlaceGauge(module, "tw_sound") == nullptr) {
            state.SkipWithError("tw_sound did not load");
            return;
        }
        state.PauseTiming();
        sim.UnloadModule(module);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kItems} * kLoadBytesPerItem);
}
BENCHMARK(BM_Load100WavFiles)->Unit(benchmark::kMillisecond);

// The same files read whole from the page cache into one block.
void BM_Read100WavFilesIntoOneBlock(benchmark::State& state) {
    auto folder = MakeFolder(kLoadBytesPerItem);
    std::vector<char> block(size_t{kItems} * (kLoadBytesPerItem + 44));
    for (auto _ : state) {
        char* at = block.data();
        for (int i = 0; i < kItems; ++i) {
            std::FILE* file = std::fopen((folder->sound / ("item" + std::to_string(i) + ".wav")).c_str(), "rb");
            at += std::fread(at, 1, kLoadBytesPerItem + 44, file);
            std::fclose(file);
        }
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kItems} * kLoadBytesPerItem);
}
BENCHMARK(BM_Read100WavFilesIntoOneBlock)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
