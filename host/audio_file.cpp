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

WavWriter::~WavWriter() { Close(); }

bool WavWriter::Open(const std::string& path, uint32_t rate, std::string* error) {
    Close();
    SF_INFO info{};
    info.samplerate = static_cast<int>(rate);
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file_ == nullptr) {
        SetError(error, "cannot write " + path + ": " + sf_strerror(nullptr));
        return false;
    }
    path_ = path;
    return true;
}

bool WavWriter::Append(const int16_t* stereo, size_t frames, std::string* error) {
    if (file_ == nullptr) {
        SetError(error, "no WAV file open");
        return false;
    }
    if (sf_writef_short(file_, stereo, static_cast<sf_count_t>(frames)) != static_cast<sf_count_t>(frames)) {
        SetError(error, "cannot write " + path_ + ": the disk refused part of it");
        return false;
    }
    return true;
}

bool WavWriter::Close(std::string* error) {
    if (file_ == nullptr) return true;
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
        SetError(error, "cannot finish " + path_ + ": " + sf_error_number(closed));
        return false;
    }
    return true;
}
