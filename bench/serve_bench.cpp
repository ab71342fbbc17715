// What `twsim serve` does after an update for a gauge whose needle moved:
// draw it at twice its size as the host's renderer draws it, then encode the
// PNG picture the page gets. Against the update itself, to show what the
// picture adds to it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "render.h"
#include "sim.h"

namespace {

struct Instruments {
    Sim sim;
    PlacedGauge* gauge = nullptr;
    Instruments() {
        LoadedModule* module = sim.LoadModule(TW_HX8_PATH);
        if (module == nullptr) std::abort();
        gauge = sim.PlaceGauge(module, "EngOilPress1");
        sim.variables().Set("A:Eng Oil Pressure:1,psi", 60);
        sim.Update();
    }
    RenderedGauge Draw(double scale) const {
        return RenderGauge(
            *gauge->header, [&](uint32_t id) { return gauge->module->Bitmap(id); },
            [&](const ElementHeader* element) { return gauge->AngleOf(element); }, scale);
    }
};

void BM_GaugeUpdate(benchmark::State& state) {
    Instruments panel;
    for (auto _ : state) panel.sim.Update();
}
BENCHMARK(BM_GaugeUpdate);

void BM_GaugeDraw(benchmark::State& state) {
    Instruments panel;
    for (auto _ : state) benchmark::DoNotOptimize(panel.Draw(2.0));
}
BENCHMARK(BM_GaugeDraw)->Unit(benchmark::kMillisecond);

void BM_GaugePicture(benchmark::State& state) {
    Instruments panel;
    std::string png;
    for (auto _ : state) {
        if (!EncodePng(panel.Draw(2.0), &png)) std::abort();
    }
    state.counters["png_bytes"] = static_cast<double>(png.size());
}
BENCHMARK(BM_GaugePicture)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
