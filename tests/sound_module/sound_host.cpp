#include "sound_host.h"

#include <control_files.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

#include "log.h"

namespace {

void PutU16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void PutU32(std::string& out, uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One pattern per catalogue message: its lines with every inserted text as
// a group that stays on its line, then the empty line.
struct Pattern {
    int number;
    std::regex regex;
};

std::string Escape(char c) {
    static const std::string special = R"(\^$.|?*+()[]{}/)";
    return special.find(c) != std::string::npos ? std::string("\\") + c : std::string(1, c);
}

const std::vector<Pattern>& Patterns() {
    static const std::vector<Pattern> patterns = [] {
        std::vector<Pattern> result;
        for (int number = 0; number < 100; ++number) {
            const char* lines = LogCatalogueLines(number);
            if (lines == nullptr) continue;
            std::string re;
            for (const char* p = lines; *p != '\0'; ++p) {
                if (p[0] == '{' && (p[1] == '1' || p[1] == '2') && p[2] == '}') {
                    re += "([^\\n]*)";
                    p += 2;
                } else {
                    re += Escape(*p);
                }
            }
            re += "\\n\\n";
            result.push_back({number, std::regex(re)});
        }
        return result;
    }();
    return patterns;
}

}  // namespace

std::string WavFile(uint16_t formatTag, int channels, uint32_t rate, int bits, const std::string& data) {
    const uint32_t align = static_cast<uint32_t>(channels * bits / 8);
    std::string fmt;
    PutU16(fmt, formatTag);
    PutU16(fmt, static_cast<uint32_t>(channels));
    PutU32(fmt, rate);
    PutU32(fmt, rate * align);
    PutU16(fmt, align);
    PutU16(fmt, static_cast<uint32_t>(bits));
    if (formatTag != 1) PutU16(fmt, 0);  // the extra size that every other format has
    std::string body = "WAVEfmt ";
    PutU32(body, static_cast<uint32_t>(fmt.size()));
    body += fmt;
    body += "data";
    PutU32(body, static_cast<uint32_t>(data.size()));
    body += data;
    if (data.size() % 2 != 0) body += '\0';
    std::string file = "RIFF";
    PutU32(file, static_cast<uint32_t>(body.size()));
    return file + body;
}

std::string ToneWav(const Tone& tone) {
    const size_t frames = static_cast<size_t>(std::lround(tone.seconds * tone.rate));
    std::string data;
    for (size_t n = 0; n < frames; ++n) {
        const double s = tone.amplitude * std::sin(2.0 * M_PI * tone.frequency * static_cast<double>(n) / tone.rate);
        for (int c = 0; c < tone.channels; ++c) {
            if (tone.bits == 8) {
                data += static_cast<char>(static_cast<uint8_t>(std::lround(128.0 + 127.0 * s)));
            } else {
                PutU16(data, static_cast<uint16_t>(static_cast<int16_t>(std::lround(32767.0 * s))));
            }
        }
    }
    return WavFile(1, tone.channels, tone.rate, tone.bits, data);
}

void PrintTo(const LogEntry& entry, std::ostream* out) {
    *out << entry.number;
    for (const std::string& text : entry.texts) *out << " \"" << text << "\"";
}

std::vector<int> Numbers(const std::vector<LogEntry>& entries) {
    std::vector<int> numbers;
    for (const LogEntry& e : entries) numbers.push_back(e.number);
    return numbers;
}

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
    std::string text = ReadAll(soundFolder() / "logfile.txt");
    // The file is written in text mode: CR LF for every line end.
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        plain += text[i];
    }
    std::vector<LogEntry> entries;
    auto position = plain.cbegin();
    while (position != plain.cend()) {
        // The longest message that matches here ("FAILED" and "succeeded"
        // messages share their first lines).
        std::smatch best;
        int bestNumber = -1;
        for (const Pattern& pattern : Patterns()) {
            std::smatch match;
            if (std::regex_search(position, plain.cend(), match, pattern.regex, std::regex_constants::match_continuous) &&
                (bestNumber < 0 || match.length(0) > best.length(0))) {
                best = match;
                bestNumber = pattern.number;
            }
        }
        if (bestNumber < 0) {
            ADD_FAILURE() << "log text no message matches: " << std::string(position, plain.cend()).substr(0, 200);
            break;
        }
        LogEntry entry(bestNumber);
        for (size_t g = 1; g < best.size(); ++g) entry.texts.push_back(best[g].str());
        entries.push_back(entry);
        position += best.length(0);
    }
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
