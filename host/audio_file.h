// Sound the host captured, to and from WAV files (libsndfile).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Writes interleaved 16-bit stereo at `rate` frames a second as a PCM WAV
// file. False (and why, in `error`) when the file cannot be written.
bool WriteWavFile(const std::string& path, const std::vector<int16_t>& stereo, uint32_t rate,
                  std::string* error = nullptr);

// A 16-bit stereo PCM WAV file written as the sound comes, for runs too
// long to keep in memory. The header's sizes are right once it is closed.
class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool Open(const std::string& path, uint32_t rate, std::string* error = nullptr);
    // Interleaved left, right; `frames` frames.
    bool Append(const int16_t* stereo, size_t frames, std::string* error = nullptr);
    bool Close(std::string* error = nullptr);
    bool isOpen() const { return file_ != nullptr; }

private:
    struct sf_private_tag* file_ = nullptr;  // SNDFILE
    std::string path_;
};

struct WavContents {
    uint32_t rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
};

// Reads any WAV file libsndfile reads, as 16-bit samples. False (and why)
// when it cannot.
bool ReadWavFile(const std::string& path, WavContents* contents, std::string* error = nullptr);
