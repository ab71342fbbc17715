#include "sim.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "audio_file.h"
#include "calculator_code.h"
#include "control_simconnect.h"
#include "control_sound.h"
#include "control_window.h"
#include "needle_geometry.h"
#include "records.h"

namespace {

bool simExists = false;

double FoldDegrees(double angle) {
    angle = std::fmod(angle, 360.0);
    if (angle > 180.0) angle -= 360.0;
    if (angle <= -180.0) angle += 360.0;
    return angle;
}

// Host install values start here so that they are told apart from 0.
constexpr uint32_t kFirstInstallValue = 0x100;

}  // namespace

uint64_t UpdateTimeMs(uint64_t update) { return (update * 1000 + kUpdatesPerSecond / 2) / kUpdatesPerSecond; }

std::optional<double> PlacedGauge::AngleOf(const ElementHeader* element) const {
    for (const NeedleState& needle : needles) {
        if (&needle.element->head == element && needle.shown) return needle.angle;
    }
    return std::nullopt;
}

Sim::Sim() {
    if (simExists) throw std::logic_error("only one Sim may exist at a time");
    simExists = true;
    TwPlatformResetWindowsAndTimers();
    TwSoundReset();
    TwSimConnectReset();
    SetPanelServiceState(&state_);
    OpenMainWindow();
}

Sim::~Sim() {
    while (!modules_.empty()) UnloadModule(modules_.back().get());
    while (!gauges_.empty()) RemoveGauge(gauges_.back().get());
    SetPanelServiceState(nullptr);
    TwPlatformResetWindowsAndTimers();
    TwSoundReset();
    TwSimConnectReset();
    simExists = false;
}

LoadedModule* Sim::LoadModule(const std::string& path, std::string* error) {
    std::unique_ptr<LoadedModule> module = LoadedModule::Open(path, error);
    if (!module) return nullptr;
    // The simulator loads a gauge file once however many gauges use it; the
    // second handle goes again as `module` ends.
    for (const auto& loaded : modules_) {
        if (loaded->importTable() == module->importTable()) return loaded.get();
    }
    module->importTable()->panelServices = HostPanelServices();
    if (module->linkage()->moduleStart != nullptr) module->linkage()->moduleStart();
    modules_.push_back(std::move(module));
    return modules_.back().get();
}

void Sim::UnloadModule(LoadedModule* module) {
    auto owned = std::find_if(modules_.begin(), modules_.end(), [&](const auto& m) { return m.get() == module; });
    if (owned == modules_.end()) return;
    for (size_t i = gauges_.size(); i-- > 0;) {
        if (gauges_[i]->module == module) RemoveGauge(gauges_[i].get());
    }
    if (module->linkage()->moduleStop != nullptr) module->linkage()->moduleStop();
    // A timer the module left pending would call into unloaded code.
    std::vector<TwPendingTimer> timers(TwPlatformListTimers(nullptr, 0));
    TwPlatformListTimers(timers.data(), timers.size());
    for (const TwPendingTimer& timer : timers) {
        if (module->Contains(reinterpret_cast<const void*>(timer.proc))) KillTimer(timer.window, timer.id);
    }
    modules_.erase(owned);
}

PlacedGauge* Sim::PlaceGauge(LoadedModule* module, std::string_view name) {
    GaugeHeader* header = module != nullptr ? module->FindGauge(name) : nullptr;
    if (header == nullptr) return nullptr;

    auto gauge = std::make_unique<PlacedGauge>();
    gauge->module = module;
    gauge->header = header;
    gauge->name = header->name;
    gauge->installValue = kFirstInstallValue + placements_++;
    for (NeedleElement* needle : NeedleElements(*header)) gauge->needles.push_back({needle});
    PlacedGauge& g = *gauge;
    gauges_.push_back(std::move(gauge));

    SendService(g, 0);
    if (header->query) header->query();
    SendService(g, 1);
    SendService(g, 2);
    if (header->install) header->install(g.installValue);
    SendService(g, 3);
    SendService(g, 14);
    SendService(g, 4);
    if (header->initialise) header->initialise();
    SendService(g, 5);
    SendService(g, 8);
    if (header->generate) header->generate(g.installValue);
    SendService(g, 9);
    return &g;
}

void Sim::RemoveGauge(PlacedGauge* gauge) {
    auto owned = std::find_if(gauges_.begin(), gauges_.end(), [&](const auto& g) { return g.get() == gauge; });
    if (owned == gauges_.end()) return;
    SendService(*gauge, 12);
    if (gauge->header->kill) gauge->header->kill();
    SendService(*gauge, 13);
    gauges_.erase(owned);
}

void Sim::SendService(PlacedGauge& gauge, int32_t code) {
    serviceCalls_.push_back({gauge.header, code});
    if (gauge.header->callback) gauge.header->callback(gauge.header, code, 0);
}

void Sim::Update() {
    ++updates_;
    TwPlatformRunUntil(UpdateTimeMs(updates_));
    // By index: a gauge callback cannot place or remove gauges, but keep the
    // loop safe if the list ever changes under it.
    for (size_t i = 0; i < gauges_.size(); ++i) UpdateGauge(*gauges_[i]);
    MixAudio();
}

void Sim::MixAudio() {
    // The frames that belong to this update: whatever rate the device runs
    // at, the sound keeps step with the clock.
    const uint64_t rate = TwSoundOutputRate();
    const uint64_t due = updates_ * rate / kUpdatesPerSecond;
    const size_t frames = static_cast<size_t>(due - framesMixed_);
    framesMixed_ = due;
    if (!captureAudio_) {
        TwSoundMix(nullptr, frames);
        return;
    }
    const size_t start = audio_.size();
    audio_.resize(start + 2 * frames);
    TwSoundMix(audio_.data() + start, frames);
}

uint32_t Sim::audioRate() const { return TwSoundOutputRate(); }

bool Sim::WriteAudio(const std::string& path, std::string* error) const {
    return WriteWavFile(path, audio_, TwSoundOutputRate(), error);
}

bool Sim::SendNotice(const char* systemEvent, uint32_t data) {
    return TwSimConnectSendSystemEvent(systemEvent, data) != FALSE;
}

void Sim::SetSlew(bool slewing) { variables().Set("A:IS SLEW ACTIVE,bool", slewing ? 1.0 : 0.0); }

void Sim::UpdateGauge(PlacedGauge& gauge) {
    GaugeHeader* header = gauge.header;
    SendService(gauge, 6);
    if (header->update) header->update();
    for (NeedleState& needle : gauge.needles) {
        NeedleElement* element = needle.element;
        needle.value = element->valueCallback != nullptr ? element->valueCallback(element) : 0.0;
        const double target = NeedleSweepForValue(*element, needle.value);
        const double maxStep = static_cast<double>(element->maxDegreesPerSecond) / kUpdatesPerSecond;
        if (!needle.shown || element->maxDegreesPerSecond == 0) {
            needle.sweep = target;
        } else {
            needle.sweep += std::clamp(target - needle.sweep, -maxStep, maxStep);
        }
        needle.angle = FoldDegrees(needle.sweep);
        needle.shown = true;
    }
    SendService(gauge, 7);
    SendService(gauge, 10);
    if (header->draw) header->draw();
    SendService(gauge, 11);
}

void Sim::RunUpdates(int count) {
    for (int i = 0; i < count; ++i) Update();
}

void Sim::RunFor(double seconds) { RunUpdates(static_cast<int>(std::lround(seconds * kUpdatesPerSecond))); }

uint64_t Sim::NowMs() const { return TwPlatformGetTime(); }

void Sim::OpenMainWindow() {
    if (mainWindow_ == nullptr) mainWindow_ = TwPlatformRegisterWindow(kMainWindowClass);
}

void Sim::CloseMainWindow() {
    if (mainWindow_ != nullptr) TwPlatformUnregisterWindow(mainWindow_);
    mainWindow_ = nullptr;
}

std::string Sim::Tooltip(const PlacedGauge& gauge) const {
    const char* tooltip = GaugeTooltip(*gauge.header);
    return tooltip != nullptr ? EvaluateTooltip(state_.calculator.variables, tooltip) : std::string();
}
