#include "run.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "audio_file.h"
#include "check.h"
#include "live_audio.h"
#include "scenario.h"
#include "session.h"
#include "video.h"

namespace fs = std::filesystem;

namespace {

// Where named modules are: beside twsim (dist/native), else where the build
// made them.
#ifndef TW_BUILD_MODULE_FOLDERS
#define TW_BUILD_MODULE_FOLDERS ""
#endif

constexpr const char* kDefaultModules[] = {"tw_hx8", "tw_sound"};
constexpr double kLiveLead = 0.25;

// Ctrl-C ends the run early, with its outputs written for the time run.
volatile std::sig_atomic_t interrupted = 0;
void Interrupt(int) { interrupted = 1; }

class CatchInterrupt {
public:
    CatchInterrupt() {
        interrupted = 0;
        struct sigaction action {};
        action.sa_handler = Interrupt;
        sigaction(SIGINT, &action, &previous_);
    }
    ~CatchInterrupt() { sigaction(SIGINT, &previous_, nullptr); }
    CatchInterrupt(const CatchInterrupt&) = delete;
    CatchInterrupt& operator=(const CatchInterrupt&) = delete;

private:
    struct sigaction previous_ {};
};

std::string Seconds(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", t);
    return text;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// A bar on the terminal that shows how far the run is; nothing when the
// messages go to a file or a pipe.
class Progress {
public:
    Progress(double total, bool shown) : total_(total), shown_(shown) {}
    void Show(double t) {
        if (!shown_) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(100) && t < total_) return;
        last_ = now;
        constexpr int width = 40;
        const int filled = static_cast<int>(std::lround(width * std::clamp(t / total_, 0.0, 1.0)));
        std::fprintf(stderr, "\r  [%s%s] %7.2f / %.2f s", std::string(filled, '#').c_str(),
                     std::string(width - filled, '.').c_str(), t, total_);
        std::fflush(stderr);
    }
    void Done() {
        if (shown_) std::fprintf(stderr, "\r\033[K");
    }

private:
    double total_;
    bool shown_;
    std::chrono::steady_clock::time_point last_{};
};

struct Ramp {
    std::string variable;
    std::string key;
    double at, from, to, over;
};

void RemoveOldOutputs(const fs::path& out) {
    std::error_code ec;
    for (const char* name : {"sound.wav", "panel.mp4", "variables.csv", "logfile.txt", "summary.txt", "summary.json"}) {
        fs::remove(out / name, ec);
    }
    fs::remove_all(out / "frames", ec);
    for (auto it = fs::directory_iterator(out, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("panel-", 0) == 0 && it->path().extension() == ".png") fs::remove(it->path(), ec);
    }
}

}  // namespace

std::string FindModule(const std::string& entry, std::vector<std::string>* looked) {
    if (entry.find('/') != std::string::npos) return entry;
    const std::string file = entry.size() > 3 && entry.substr(entry.size() - 3) == ".so" ? entry : entry + ".so";
    std::vector<fs::path> folders;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) folders.push_back(self.parent_path());
    std::string built = TW_BUILD_MODULE_FOLDERS;
    for (size_t start = 0; start < built.size();) {
        size_t end = built.find(':', start);
        if (end == std::string::npos) end = built.size();
        folders.emplace_back(built.substr(start, end - start));
        start = end + 1;
    }
    for (const fs::path& folder : folders) {
        looked->push_back(folder.string());
        if (fs::is_regular_file(folder / file, ec)) return (folder / file).string();
    }
    return {};
}

int RunScenario(const RunOptions& options, std::ostream& out, std::ostream& err) {
    const auto wallStart = std::chrono::steady_clock::now();
    ScenarioError problem;
    std::optional<Scenario> loaded = LoadScenario(options.scenario, &problem);
    if (!loaded) {
        err << "twsim run: " << problem.Text() << "\n";
        return 2;
    }
    Scenario& scenario = *loaded;
    auto bad = [&](int line, const std::string& message) {
        err << "twsim run: " << ScenarioError{scenario.path, line, message}.Text() << "\n";
        return 2;
    };

    // Everything the file names is checked before anything runs.
    CheckReport folder;
    if (!scenario.soundFolder.empty()) {
        std::error_code ec;
        if (!fs::is_directory(scenario.soundFolder, ec)) {
            return bad(scenario.soundFolderLine, "sound_folder " + scenario.soundFolder + " is not a folder");
        }
        folder = RunCheck(scenario.soundFolder);
    }
    if (!ResolveScenario(scenario, folder, &problem)) {
        err << "twsim run: " << problem.Text() << "\n";
        return 2;
    }
    SessionSetup setup;
    setup.soundFolder = scenario.soundFolder;
    setup.gauges = scenario.gauges;
    const std::vector<std::string> moduleNames =
        scenario.modules.empty() ? std::vector<std::string>(std::begin(kDefaultModules), std::end(kDefaultModules))
                                 : scenario.modules;
    for (size_t i = 0; i < moduleNames.size(); ++i) {
        std::vector<std::string> looked;
        const std::string path = FindModule(moduleNames[i], &looked);
        if (path.empty()) {
            std::string where;
            for (const std::string& f : looked) where += (where.empty() ? "" : ", ") + f;
            return bad(i < scenario.moduleLines.size() ? scenario.moduleLines[i] : 0,
                       "module " + moduleNames[i] + " not found (looked in " + where + ")");
        }
        setup.modules.push_back(path);
    }
    const fs::path outFolder = options.out.empty() ? fs::path(fs::path(scenario.path).stem().string() + "-run") : fs::path(options.out);
    if (std::error_code ec; !scenario.soundFolder.empty() && fs::equivalent(outFolder, scenario.soundFolder, ec)) {
        // The outputs would replace the folder's logfile.txt, its switch for logging.
        err << "twsim run: the output folder must not be the sound folder " << scenario.soundFolder << "\n";
        return 2;
    }
    if (options.fps < 0 || options.fps > 120) {
        err << "twsim run: --fps must lie between 0 (no film) and 120\n";
        return 2;
    }

    SessionError openError;
    std::unique_ptr<Session> session = Session::Open(setup, &openError);
    if (!session) {
        int line = 0;
        if (openError.module >= 0 && static_cast<size_t>(openError.module) < scenario.moduleLines.size()) {
            line = scenario.moduleLines[static_cast<size_t>(openError.module)];
        }
        if (openError.gauge >= 0) line = scenario.gaugeLines[static_cast<size_t>(openError.gauge)];
        return bad(line, openError.message);
    }

    LivePlayer player;
    if (options.play) {
        std::string why;
        if (!player.Open(session->audioRate(), kLiveLead, &why)) {
            err << "twsim run: --play: " << why << "\n";
            return 2;
        }
    }

    std::error_code ec;
    fs::create_directories(outFolder, ec);
    if (ec) {
        err << "twsim run: cannot make the output folder " << outFolder.string() << ": " << ec.message() << "\n";
        return 3;
    }
    RemoveOldOutputs(outFolder);
    std::string why;
    auto failed = [&](const std::string& what) {
        err << "twsim run: " << what << "\n";
        return 3;
    };
    WavWriter sound;
    if (!sound.Open((outFolder / "sound.wav").string(), session->audioRate(), &why)) return failed(why);
    std::ofstream csv(outFolder / "variables.csv");
    if (!csv) return failed("cannot write " + (outFolder / "variables.csv").string());
    csv << "time,variable,value,access\n";
    auto writeVariables = [&](double time) {
        char t[32];
        std::snprintf(t, sizeof t, "%.3f", time);
        for (const VariableSample& v : session->lastVariables()) {
            char value[40] = "";
            if (v.value) std::snprintf(value, sizeof value, "%.10g", *v.value);
            csv << t << ',' << CsvField(v.name) << ',' << value << ','
                << (v.read && v.written ? "read+write" : v.written ? "write" : "read") << '\n';
        }
    };
    writeVariables(0.0);  // placing the gauges
    std::optional<PanelVideo> video;
    if (options.fps > 0) video.emplace(outFolder, options.fps);

    const double end = scenario.End();
    const uint64_t endMs = static_cast<uint64_t>(std::llround(end * 1000));
    Progress progress(end, isatty(STDERR_FILENO) != 0);
    std::vector<Ramp> ramps;
    std::vector<std::string> snapshots;
    size_t next = 0;
    int frame = 0;

    const CatchInterrupt catchInterrupt;
    while ((next < scenario.events.size() || UpdateTimeMs(session->updates() + 1) <= endMs) && !interrupted) {
        const uint64_t updateMs = UpdateTimeMs(session->updates() + 1);
        const double updateTime = static_cast<double>(updateMs) / 1000.0;
        std::vector<double> snapshotTimes;
        for (; next < scenario.events.size() && std::llround(scenario.events[next].at * 1000) <= static_cast<long long>(updateMs);
             ++next) {
            const ScenarioEvent& e = scenario.events[next];
            switch (e.kind) {
                case EventKind::Set: {
                    const std::string key = ParseVariableName(e.variable)->key;
                    ramps.erase(std::remove_if(ramps.begin(), ramps.end(), [&](const Ramp& r) { return r.key == key; }),
                                ramps.end());
                    if (e.ramp) {
                        ramps.push_back({e.variable, key, e.at, e.from.value_or(session->Variable(e.variable).value_or(0.0)),
                                         e.to, e.over});
                    } else {
                        session->SetVariable(e.variable, e.value);
                    }
                    break;
                }
                case EventKind::Command: session->Command(e.target, e.command, e.volume, e.pan); break;
                case EventKind::Master: session->Master(e.command); break;
                case EventKind::Notice: session->Notice(e.notice, e.view); break;
                case EventKind::Slew: session->Slew(e.on); break;
                case EventKind::Test: session->PressTest(e.test, e.testValue); break;
                case EventKind::Reload: session->Reload(); break;
                case EventKind::Snapshot: snapshotTimes.push_back(e.at); break;
            }
        }
        for (auto it = ramps.begin(); it != ramps.end();) {
            const double f = std::clamp((updateTime - it->at) / it->over, 0.0, 1.0);
            session->SetVariable(it->variable, it->from + (it->to - it->from) * f);
            it = f >= 1.0 ? ramps.erase(it) : it + 1;
        }

        session->Step();
        const std::vector<int16_t> audio = session->TakeAudio();
        if (!sound.Append(audio.data(), audio.size() / 2, &why)) return failed(why);
        if (options.play) player.Push(audio);
        writeVariables(session->now());

        const bool frameDue = video && frame <= static_cast<int>(std::floor(session->now() * options.fps + 1e-9));
        if (frameDue || !snapshotTimes.empty()) {
            const RenderedGauge panel = session->RenderPanel(options.scale);
            for (; video && frame <= static_cast<int>(std::floor(session->now() * options.fps + 1e-9)); ++frame) {
                if (!video->Add(panel, &why)) return failed(why);
            }
            for (double t : snapshotTimes) {
                std::string name = "panel-" + Seconds(t) + ".png";
                for (int n = 2; std::find(snapshots.begin(), snapshots.end(), name) != snapshots.end(); ++n) {
                    name = "panel-" + Seconds(t) + "-" + std::to_string(n) + ".png";
                }
                if (!WritePng(panel, (outFolder / name).string(), &why)) return failed(why);
                snapshots.push_back(name);
            }
        }
        progress.Show(session->now());
    }
    progress.Done();
    if (options.play) player.Finish();
    session->Finish();

    if (!sound.Close(&why)) return failed(why);
    csv.close();
    if (!csv) return failed("cannot finish " + (outFolder / "variables.csv").string());
    if (video && !video->Finish(outFolder / "sound.wav", &why)) return failed(why);
    fs::copy_file(session->logPath(), outFolder / "logfile.txt", fs::copy_options::overwrite_existing, ec);
    if (ec) return failed("cannot copy the sound module's log: " + ec.message());

    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const SessionReport& report = session->report();
    std::string placed;
    for (const auto& gauge : session->sim().gauges()) placed += (placed.empty() ? "" : ", ") + gauge->name;

    std::vector<std::pair<std::string, std::string>> outputs = {
        {"sound", "sound.wav"},
        {"video", video ? video->Describe() : "no video (--fps 0)"},
        {"variables", "variables.csv"},
        {"log", "logfile.txt"},
        {"summary", "summary.txt"}};
    if (options.json) outputs.emplace_back("json", "summary.json");

    std::ostringstream text;
    text << "Scenario:     " << scenario.path << "\n";
    text << "Sound folder: " << (scenario.soundFolder.empty() ? std::string("(none)") : scenario.soundFolder) << " ("
         << session->soundCheck().items.size() << " sound items)\n";
    text << "Panel:        " << placed << "\n";
    text << "Ran " << Seconds(report.end) << " s of simulated time (" << report.updates << " updates) in " << Seconds(wall)
         << " s" << (options.play ? " (live)" : "")
         << (interrupted ? ", interrupted (the scenario runs to " + Seconds(end) + " s)" : std::string()) << "\n\n";
    text << FormatReportText(report);
    text << "\nOutputs in " << outFolder.string() << ":\n";
    for (const auto& [what, file] : outputs) text << "  " << std::left << std::setw(10) << what << file << "\n";
    for (const std::string& s : snapshots) text << "  " << std::left << std::setw(10) << "snapshot" << s << "\n";

    std::ofstream(outFolder / "summary.txt") << text.str();
    if (options.json) {
        nlohmann::json json = ReportJson(report);
        json["scenario"] = scenario.path;
        json["soundFolder"] = scenario.soundFolder;
        json["gauges"] = nlohmann::json::array();
        for (const auto& gauge : session->sim().gauges()) json["gauges"].push_back(gauge->name);
        json["wallSeconds"] = std::round(wall * 1000) / 1000;
        json["outputFolder"] = outFolder.string();
        json["outputs"] = nlohmann::json::object();
        for (const auto& [what, file] : outputs) json["outputs"][what] = file;
        json["snapshots"] = snapshots;
        json["interrupted"] = interrupted != 0;
        const std::string document = json.dump(2) + "\n";
        std::ofstream(outFolder / "summary.json") << document;
        out << document;
    } else {
        out << text.str();
    }
    out.flush();
    return report.findings.empty() ? 0 : 1;
}
