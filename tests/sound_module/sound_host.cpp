#include "sound_host.h"

#include <control_files.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>


namespace {

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

SoundHost::SoundHost() {
    std::string pattern = (std::filesystem::temp_directory_path() / "twsoundhost-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    root_ = pattern;
    std::filesystem::create_directories(soundFolder());
    Write("logfile.txt", "");
    TwPlatformResetFiles();
    TwPlatformSetExecutablePath((root_ / "sim" / "fs.exe").c_str());
    sim_ = std::make_unique<Sim>();
}

SoundHost::~SoundHost() {
    sim_.reset();
    TwPlatformResetFiles();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path SoundHost::soundFolder() const { return root_ / "sim" / "Sound" / "Tarnwick_HX8"; }

std::string SoundHost::moduleSoundFolder() const { return (root_ / "sim").string() + "\\Sound\\Tarnwick_HX8"; }

void SoundHost::Write(const std::string& relative, const std::string& bytes) const {
    std::filesystem::path path = soundFolder() / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void SoundHost::RemoveLogFile() const { std::filesystem::remove(soundFolder() / "logfile.txt"); }

void SoundHost::LoadModuleOnly() {
    std::string error;
    module_ = sim_->LoadModule(TW_SOUND_PATH, &error);
    if (module_ == nullptr) throw std::runtime_error(error);
}

PlacedGauge* SoundHost::Place() {
    gauge_ = sim_->PlaceGauge(module_, "tw_sound");
    if (gauge_ == nullptr) throw std::runtime_error("tw_sound.so has no gauge tw_sound");
    return gauge_;
}

void SoundHost::Load() {
    LoadModuleOnly();
    Place();
}

void SoundHost::Set(const std::string& name, double value) { sim_->variables().Set("L:" + name + ",number", value); }

std::optional<double> SoundHost::Get(const std::string& name) const {
    auto found = sim_->variables().Find("L:" + name);
    if (!found) return std::nullopt;
    return found->value;
}

std::vector<LogEntry> SoundHost::Log() const {
    std::string unmatched;
    std::vector<LogEntry> entries = ParseLog(ReadAll(soundFolder() / "logfile.txt"), &unmatched);
    if (!unmatched.empty()) ADD_FAILURE() << "log text no message matches: " << unmatched.substr(0, 200);
    return entries;
}

void SoundHost::ClearLog() const { std::ofstream(soundFolder() / "logfile.txt", std::ios::trunc); }

std::vector<std::string> SoundHost::SoundCalls() const {
    std::vector<std::string> calls;
    for (size_t i = 0; i < TwSoundCallCount(); ++i) calls.emplace_back(TwSoundCall(i));
    return calls;
}

std::vector<TwSoundBufferInfo> SoundHost::Buffers() const {
    std::vector<TwSoundBufferInfo> buffers(TwSoundListBuffers(nullptr, 0));
    buffers.resize(TwSoundListBuffers(buffers.data(), buffers.size()));
    return buffers;
}

std::vector<std::string> SoundHost::SimConnectCalls() const {
    std::vector<std::string> calls;
    for (size_t i = 0; i < TwSimConnectCallCount(); ++i) calls.emplace_back(TwSimConnectCall(i));
    return calls;
}

ChannelLevels Levels(const std::vector<int16_t>& stereo, size_t firstFrame, size_t frames) {
    double left = 0.0, right = 0.0;
    size_t counted = 0;
    for (size_t f = firstFrame; f < firstFrame + frames && 2 * f + 1 < stereo.size(); ++f, ++counted) {
        left += std::pow(stereo[2 * f] / 32768.0, 2);
        right += std::pow(stereo[2 * f + 1] / 32768.0, 2);
    }
    if (counted == 0) return {};
    return {std::sqrt(left / counted), std::sqrt(right / counted)};
}

double ToneAmplitude(const std::vector<int16_t>& stereo, int channel, double frequency, uint32_t rate,
                     size_t firstFrame, size_t frames) {
    const double w = 2.0 * M_PI * frequency / rate;
    const double coefficient = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0;
    size_t counted = 0;
    for (size_t f = firstFrame; f < firstFrame + frames && 2 * f + 1 < stereo.size(); ++f, ++counted) {
        const double x = stereo[2 * f + channel] / 32768.0;
        const double s0 = x + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    if (counted == 0) return 0.0;
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / counted;
}

size_t FramesPerUpdate(const Sim& sim) { return sim.audioRate() / kUpdatesPerSecond; }
