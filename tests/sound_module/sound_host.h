// The sound module tw_sound.so as the simulator runs it: loaded by the
// substitute host, its gauge placed on a panel, its sound folder in a
// temporary simulator installation, its log on, the sound device stand-in
// mixed in step with the host's updates.
#pragma once

#include <control_simconnect.h>
#include <control_sound.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim.h"
#include "sound_log.h"
#include "tone_wav.h"

class SoundHost {
public:
    // A simulator installation with an empty sound folder and logfile.txt
    // (logging on); nothing loaded yet.
    SoundHost();
    ~SoundHost();
    SoundHost(const SoundHost&) = delete;
    SoundHost& operator=(const SoundHost&) = delete;

    std::filesystem::path soundFolder() const;
    // The sound folder as the module spells it (backslashes after the simulator folder).
    std::string moduleSoundFolder() const;
    void Write(const std::string& relative, const std::string& bytes) const;
    void WriteConfig(const std::string& text) const { Write("twsound.cfg", text); }
    void RemoveLogFile() const;

    // Loads tw_sound.so (its start routine opens SimConnect) and places the
    // tw_sound gauge (connect-to-window, pre-initialise, ...).
    void Load();
    void LoadModuleOnly();
    PlacedGauge* Place();
    Sim& sim() { return *sim_; }
    const Sim& sim() const { return *sim_; }
    LoadedModule* module() const { return module_; }
    PlacedGauge* gauge() const { return gauge_; }

    void Update(int count = 1) { sim_->RunUpdates(count); }

    // Local variables as the other gauges see them, by their bare name.
    void Set(const std::string& name, double value);
    std::optional<double> Get(const std::string& name) const;

    std::vector<LogEntry> Log() const;
    void ClearLog() const;

    // The sound device stand-in's call record since the last clear, and its
    // buffers.
    std::vector<std::string> SoundCalls() const;
    void ClearSoundCalls() const { TwSoundClearCalls(); }
    std::vector<TwSoundBufferInfo> Buffers() const;
    std::vector<std::string> SimConnectCalls() const;

private:
    std::filesystem::path root_;
    std::unique_ptr<Sim> sim_;
    LoadedModule* module_ = nullptr;
    PlacedGauge* gauge_ = nullptr;
};

// Sound analysis of captured interleaved stereo.
struct ChannelLevels {
    double left = 0.0;   // RMS, as a fraction of full scale
    double right = 0.0;
};
ChannelLevels Levels(const std::vector<int16_t>& stereo, size_t firstFrame, size_t frames);
// The amplitude (fraction of full scale) of `frequency` in one channel
// (0 left, 1 right), by a Goertzel filter over the frames given.
double ToneAmplitude(const std::vector<int16_t>& stereo, int channel, double frequency, uint32_t rate,
                     size_t firstFrame, size_t frames);
// Frames per host update at the mixer's rate.
size_t FramesPerUpdate(const Sim& sim);
