#include "video.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr const char* kSilentVideo = ".panel-video.mp4";
constexpr const char* kEncoderLog = ".ffmpeg.log";

// Starts `args` with its standard input from `input` (-1: /dev/null) and its
// messages into `log`. -1 when it cannot start.
pid_t Spawn(const std::vector<std::string>& args, int input, const fs::path& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0) {
        posix_spawn_file_actions_adddup2(&actions, input, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // A group of its own: Ctrl-C at the terminal ends the run, which then
    // still finishes the film, rather than the encoder.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

bool Waited(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Tail(const fs::path& log) {
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.size() > 600) text = "..." + text.substr(text.size() - 600);
    return text.empty() ? "no message" : text;
}

}  // namespace

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return {};
    std::string folders = path;
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        const std::string folder = folders.substr(start, end - start);
        start = end + 1;
        if (folder.empty()) continue;
        const std::string candidate = folder + "/" + name;
        struct stat info;
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

PanelVideo::PanelVideo(fs::path folder, int fps) : folder_(std::move(folder)), fps_(fps), ffmpeg_(FindProgram("ffmpeg")) {}

PanelVideo::~PanelVideo() {
    std::string ignored;
    StopEncoder(&ignored);
    std::error_code ec;
    fs::remove(folder_ / kSilentVideo, ec);
    fs::remove(folder_ / kEncoderLog, ec);
}

bool PanelVideo::Start(const RenderedGauge& first, std::string* error) {
    width_ = first.width;
    height_ = first.height;
    if (!usesFfmpeg()) {
        std::error_code ec;
        fs::create_directories(folder_ / "frames", ec);
        if (ec) {
            *error = "cannot make " + (folder_ / "frames").string() + ": " + ec.message();
            return false;
        }
        return true;
    }
    // A frame the encoder cannot take must not kill the program: the write
    // fails instead and says so.
    signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (pipe(fds) != 0) {
        *error = std::string("cannot start ffmpeg: ") + std::strerror(errno);
        return false;
    }
    fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    const std::vector<std::string> args = {ffmpeg_, "-hide_banner", "-loglevel", "error", "-y",
                                           "-f", "rawvideo", "-pixel_format", "rgba",
                                           "-video_size", std::to_string(width_) + "x" + std::to_string(height_),
                                           "-framerate", std::to_string(fps_), "-i", "pipe:0",
                                           "-c:v", "libx264", "-preset", "veryfast", "-crf", "23", "-pix_fmt", "yuv420p",
                                           (folder_ / kSilentVideo).string()};
    encoder_ = Spawn(args, fds[0], folder_ / kEncoderLog);
    close(fds[0]);
    if (encoder_ < 0) {
        close(fds[1]);
        *error = "cannot start " + ffmpeg_;
        return false;
    }
    pipe_ = fdopen(fds[1], "wb");
    return pipe_ != nullptr;
}

bool PanelVideo::Add(const RenderedGauge& frame, std::string* error) {
    if (frames_ == 0 && !Start(frame, error)) return false;
    if (frame.width != width_ || frame.height != height_) {
        *error = "the panel changed its size during the run";
        return false;
    }
    ++frames_;
    if (!usesFfmpeg()) {
        char name[32];
        std::snprintf(name, sizeof name, "frame-%05d.png", frames_);
        return WritePng(frame, (folder_ / "frames" / name).string(), error);
    }
    if (std::fwrite(frame.rgba.data(), 1, frame.rgba.size(), pipe_) != frame.rgba.size()) {
        StopEncoder(error);
        *error = "ffmpeg stopped taking frames: " + Tail(folder_ / kEncoderLog);
        return false;
    }
    return true;
}

bool PanelVideo::StopEncoder(std::string* error) {
    if (encoder_ < 0) return true;
    if (pipe_ != nullptr) std::fclose(pipe_);
    pipe_ = nullptr;
    const bool ok = Waited(encoder_);
    encoder_ = -1;
    if (!ok) *error = "ffmpeg could not encode the panel: " + Tail(folder_ / kEncoderLog);
    return ok;
}

bool PanelVideo::Finish(const fs::path& soundTrack, std::string* error) {
    if (!usesFfmpeg() || frames_ == 0) return true;
    if (!StopEncoder(error)) return false;
    const std::vector<std::string> args = {ffmpeg_, "-hide_banner", "-loglevel", "error", "-y",
                                           "-i", (folder_ / kSilentVideo).string(), "-i", soundTrack.string(),
                                           "-map", "0:v:0", "-map", "1:a:0", "-c:v", "copy", "-c:a", "aac", "-b:a", "160k",
                                           "-movflags", "+faststart", (folder_ / "panel.mp4").string()};
    const pid_t muxer = Spawn(args, -1, folder_ / kEncoderLog);
    if (muxer < 0 || !Waited(muxer)) {
        *error = "ffmpeg could not add the sound track: " + Tail(folder_ / kEncoderLog);
        return false;
    }
    muxed_ = true;
    return true;
}

std::string PanelVideo::Describe() const {
    if (frames_ == 0) return "no video";
    if (usesFfmpeg()) return muxed_ ? "panel.mp4" : "no video";
    return "frames/frame-00001.png ... frame-" + [this] {
        char n[16];
        std::snprintf(n, sizeof n, "%05d", frames_);
        return std::string(n);
    }() + ".png (ffmpeg not found: PNG frames instead of panel.mp4)";
}
