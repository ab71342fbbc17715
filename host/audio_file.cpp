#include "audio_file.h"

#include <sndfile.h>

namespace {

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

}  // namespace

bool WriteWavFile(const std::string& path, const std::vector<int16_t>& stereo, uint32_t rate, std::string* error) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        SetError(error, "cannot write " + path + ": " + sf_strerror(nullptr));
        return false;
    }
    const sf_count_t frames = static_cast<sf_count_t>(stereo.size() / 2);
    const sf_count_t written = sf_writef_short(file, stereo.data(), frames);
    const int closed = sf_close(file);
    if (written != frames || closed != 0) {
        SetError(error, "cannot write " + path + ": the disk refused part of it");
        return false;
    }
    return true;
}

bool ReadWavFile(const std::string& path, WavContents* contents, std::string* error) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        SetError(error, "cannot read " + path + ": " + sf_strerror(nullptr));
        return false;
    }
    contents->rate = static_cast<uint32_t>(info.samplerate);
    contents->channels = info.channels;
    contents->samples.assign(static_cast<size_t>(info.frames * info.channels), 0);
    const sf_count_t read = sf_readf_short(file, contents->samples.data(), info.frames);
    sf_close(file);
    contents->samples.resize(static_cast<size_t>(read * info.channels));
    return true;
}
