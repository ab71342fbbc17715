// A simulation session run live, for `twsim serve`: one thread steps it at
// the simulator's 18 updates a second of real time, carries out between two
// updates what the page asks for, and after each update publishes what the
// page shows:
//   - the state: the simulator's, every sound item's (its variable, whether
//     its buffer is loaded, playing, looping, its volume and pan), the
//     instruments' variables, the variables the modules read and wrote, what
//     the session found suspicious, how well the updates keep time;
//   - each gauge's picture as the host's renderer draws it, drawn and
//     encoded again only when one of its needles moved;
//   - the sound module's log, line by line;
//   - the sound the mixer made for the update;
//   - the folder: its items, the master controller and the registers, and
//     the checker's findings, again after each "reload folder".
//
// The session belongs to the simulation thread alone: other threads hand it
// actions (Run) and read what was published (NextEvents, NextAudio, ...),
// which waits for the next update. Everything published is made once and
// shared, so a page more costs only the writing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "session.h"

struct LiveOptions {
    SessionSetup setup;
    double imageScale = 2.0;      // gauges are drawn at this many times their size
    size_t logLines = 400;        // the log's last lines kept for a page that opens
    size_t audioChunks = 36;      // updates' sound kept for a page that lags (2 s)
};

// What became of an action: an HTTP status (200, or a 4xx and why) and what
// to tell the page.
struct ActionResult {
    int status = 200;
    std::string message;
    uint64_t update = 0;  // the update that followed it
};

// The instrument variables the page has sliders for.
struct SliderVariable {
    const char* label;
    const char* variable;
    double min, max, step;
    const char* unit;
};
extern const SliderVariable kSliderVariables[8];

// What a page's event stream has been sent so far.
struct EventCursor {
    uint64_t update = 0;
    uint64_t folder = 0;
    std::vector<uint64_t> gauges;  // each gauge's picture version
    uint64_t log = 0;              // the next log line
};

// How well the updates keep to real time, and what they cost.
struct LiveStats {
    uint64_t updates = 0;          // since the start
    double seconds = 0.0;          // real time since the start
    double heldRate = 0.0;         // updates a second from the first update to the last
    double rate = 0.0;             // updates a second over the last few seconds
    double lateMs = 0.0;           // the latest an update started after its time, over the last few seconds
    double maxLateMs = 0.0;        // the same since the start
    uint64_t lateUpdates = 0;      // updates that started more than 10 ms after their time
    uint64_t resyncs = 0;          // times the clock was given up after a stall of more than 1/4 s
    double workMs = 0.0;           // mean time of an update's work (actions, update, publishing)
    double maxWorkMs = 0.0;
    double cpuPercent = 0.0;       // the whole process, of one core, over the last few seconds
    double simCpuPercent = 0.0;    // the simulation thread alone
    double totalCpuPercent = 0.0;  // the whole process since the start
};

class LivePanel {
public:
    // Opens the session and starts the simulation thread; 0 and why on failure.
    static std::unique_ptr<LivePanel> Start(const LiveOptions& options, std::string* error);
    ~LivePanel();
    LivePanel(const LivePanel&) = delete;
    LivePanel& operator=(const LivePanel&) = delete;

    // Ends the simulation thread; every wait returns. Actions not yet run
    // get 503.
    void Stop();

    // Runs `action` on the simulation thread before the next update, and
    // waits for it and for that update (up to `wait`; then 503).
    ActionResult Run(std::function<ActionResult(Session&)> action,
                     std::chrono::milliseconds wait = std::chrono::milliseconds(3000));

    // The server-sent events the cursor has not had yet (state, gauges,
    // log, folder), waiting up to `wait` for an update. Empty after the
    // wait with nothing new; nothing once stopped.
    std::optional<std::string> NextEvents(EventCursor* cursor, std::chrono::milliseconds wait);
    // The sound of the updates from chunk `*next` on, as 16-bit stereo
    // bytes (little-endian), waiting up to `wait` for one. A stream more
    // than half a second behind skips to the newest. Nothing once stopped.
    std::optional<std::string> NextAudio(uint64_t* next, std::chrono::milliseconds wait);
    // The number of the next update's sound chunk.
    uint64_t AudioNext() const;
    uint32_t audioRate() const { return audioRate_; }

    // The sound module unloaded and loaded again with the folder as it is
    // now (Session::ReloadSoundModule), and the folder's document made again.
    ActionResult ReloadFolder();

    // The latest documents, as the event stream sends them.
    std::string StateJson() const;
    std::string FolderJson() const;
    LiveStats Stats() const;

    // Fixed for the session.
    const std::filesystem::path& soundFolder() const { return soundFolder_; }
    const std::filesystem::path& logPath() const { return logPath_; }

private:
    LivePanel() = default;
    void Loop();
    void Publish(bool folderChanged);
    std::string BuildFolder();
    std::string BuildState();
    void ReadLog(std::vector<std::string>* lines);
    void Measure(std::chrono::steady_clock::time_point due, std::chrono::steady_clock::time_point start,
                 std::chrono::steady_clock::time_point end);

    struct Pending {
        std::function<ActionResult(Session&)> action;
        std::promise<ActionResult> done;
    };
    struct Picture {
        const PlacedGauge* gauge = nullptr;
        std::vector<std::optional<double>> angles;
        uint64_t version = 0;
        std::shared_ptr<const std::string> event;  // 0: the gauge shows nothing
    };
    struct AudioChunk {
        uint64_t number;
        std::shared_ptr<const std::string> bytes;
    };

    LiveOptions options_;
    std::unique_ptr<Session> session_;  // the simulation thread's alone once it runs
    std::filesystem::path soundFolder_;
    std::filesystem::path logPath_;
    uint32_t audioRate_ = 0;
    std::thread thread_;

    // The simulation thread's own.
    std::vector<Picture> pictures_;
    uint64_t pictureVersion_ = 0;
    uint64_t logOffset_ = 0;
    std::string logPartial_;
    std::string reloadProblem_;  // why the last folder reload fell short
    bool folderDirty_ = false;    // the folder document is to be made again
    std::map<std::string, size_t> lastCommand_;  // target name ("" for the master) -> index into the report
    size_t commandsSeen_ = 0;
    struct SeenVariable {
        std::string name;
        std::optional<double> value;
        std::string access;
        uint64_t update;
    };
    std::vector<SeenVariable> variables_;
    std::vector<std::string> variableKeys_;

    // Actions for the next update.
    std::mutex actionsMutex_;
    std::condition_variable wake_;
    std::vector<std::unique_ptr<Pending>> actions_;
    bool stopping_ = false;

    // What was published, for the other threads.
    mutable std::mutex publishedMutex_;
    std::condition_variable published_;
    bool stopped_ = false;
    uint64_t update_ = 0;
    std::shared_ptr<const std::string> state_;
    uint64_t folderVersion_ = 0;
    std::shared_ptr<const std::string> folder_;
    std::vector<std::pair<uint64_t, std::shared_ptr<const std::string>>> gaugeEvents_;  // version, event
    std::deque<std::string> log_;  // JSON strings of the last lines
    uint64_t logNext_ = 0;         // number of the line after the last
    std::deque<AudioChunk> audio_;
    uint64_t audioNext_ = 0;

    // Timekeeping (the simulation thread writes, Stats reads).
    LiveStats stats_;
    struct Window {
        std::chrono::steady_clock::time_point at;
        uint64_t updates;
        double cpu, simCpu;
    };
    std::deque<Window> windows_;
    std::deque<std::pair<std::chrono::steady_clock::time_point, double>> lateness_;
    std::chrono::steady_clock::time_point startedAt_;
    std::chrono::steady_clock::time_point firstUpdateAt_;
    double startCpu_ = 0.0;
    double workTotalMs_ = 0.0;
};
