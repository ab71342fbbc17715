// Sound the host captured, to and from WAV files (libsndfile).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes interleaved 16-bit stereo at `rate` frames a second as a PCM WAV
// file. False (and why, in `error`) when the file cannot be written.
bool WriteWavFile(const std::string& path, const std::vector<int16_t>& stereo, uint32_t rate,
                  std::string* error = nullptr);

struct WavContents {
    uint32_t rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
};

// Reads any WAV file libsndfile reads, as 16-bit samples. False (and why)
// when it cannot.
bool ReadWavFile(const std::string& path, WavContents* contents, std::string* error = nullptr);
