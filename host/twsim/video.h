// The panel as a film: frames piped into ffmpeg (H.264, then muxed with the
// sound track into panel.mp4) where ffmpeg is installed, else numbered PNG
// frames in frames/.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "render.h"

// The program's full path when `name` is an executable file in a folder of
// PATH; empty otherwise.
std::string FindProgram(const std::string& name);

class PanelVideo {
public:
    // Frames go to `folder`; the encoder (or the frames folder) is set up on
    // the first frame, when the size is known.
    PanelVideo(std::filesystem::path folder, int fps);
    ~PanelVideo();
    PanelVideo(const PanelVideo&) = delete;
    PanelVideo& operator=(const PanelVideo&) = delete;

    bool usesFfmpeg() const { return !ffmpeg_.empty(); }
    bool Add(const RenderedGauge& frame, std::string* error);
    // Ends the film; with ffmpeg, muxes `soundTrack` into panel.mp4.
    bool Finish(const std::filesystem::path& soundTrack, std::string* error);
    // What was written, for the list of outputs.
    std::string Describe() const;
    int frames() const { return frames_; }

private:
    bool Start(const RenderedGauge& first, std::string* error);
    bool StopEncoder(std::string* error);

    std::filesystem::path folder_;
    int fps_;
    std::string ffmpeg_;
    pid_t encoder_ = -1;
    FILE* pipe_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    int frames_ = 0;
    bool muxed_ = false;
};
