// WAV files for the sound module's tests, made in memory: both builds' tests
// write the same bytes into their sound folders.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

// A WAV file of a sine tone (PCM, 8 or 16 bits, 1 or 2 channels; for two
// channels the tone is on both). Amplitude is a fraction of full scale.
struct Tone {
    double frequency = 440.0;
    double seconds = 0.5;
    uint32_t rate = 22050;
    int bits = 16;
    int channels = 1;
    double amplitude = 0.5;
};

namespace tone_wav_detail {

inline void PutU16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

inline void PutU32(std::string& out, uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

}  // namespace tone_wav_detail

// A WAV file with the given format block fields and data bytes.
inline std::string WavFile(uint16_t formatTag, int channels, uint32_t rate, int bits, const std::string& data) {
    using namespace tone_wav_detail;
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

inline std::string ToneWav(const Tone& tone) {
    using namespace tone_wav_detail;
    constexpr double kPi = 3.14159265358979323846;
    const size_t frames = static_cast<size_t>(std::lround(tone.seconds * tone.rate));
    std::string data;
    for (size_t n = 0; n < frames; ++n) {
        const double s = tone.amplitude * std::sin(2.0 * kPi * tone.frequency * static_cast<double>(n) / tone.rate);
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
