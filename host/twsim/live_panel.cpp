#include "live_panel.h"

#include <sys/resource.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

#include "calculator_code.h"

namespace fs = std::filesystem;
using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

static_assert(std::endian::native == std::endian::little, "the audio stream is sent as the mixer makes it: little-endian");

const SliderVariable kSliderVariables[8] = {
    {"Oil pressure 1", "A:Eng Oil Pressure:1,psi", 0, 100, 1, "psi"},
    {"Oil pressure 2", "A:Eng Oil Pressure:2,psi", 0, 100, 1, "psi"},
    {"Oil temperature 1", "A:General Eng1 Oil Temperature,Celsius", -50, 180, 1, "\u00b0C"},
    {"Oil temperature 2", "A:General Eng2 Oil Temperature,Celsius", -50, 180, 1, "\u00b0C"},
    {"Oil quantity 1", "A:Eng Oil Quantity:1,percent", 0, 100, 1, "%"},
    {"Oil quantity 2", "A:Eng Oil Quantity:2,percent", 0, 100, 1, "%"},
    {"Vibration 1", "A:Turb Eng Vibration:1,number", 0, 5, 0.1, ""},
    {"Vibration 2", "A:Turb Eng Vibration:2,number", 0, 5, 0.1, ""},
};

namespace {

constexpr const char* kTestVariables[2] = {"L:Eng Oil Qty Test,number", "L:Engine Vibration Test,number"};
constexpr auto kStall = std::chrono::milliseconds(250);
constexpr auto kStatsWindow = std::chrono::seconds(5);
constexpr double kLateMs = 10.0;

// Everything goes out as JSON; texts from the module or a file that are not
// UTF-8 must not stop an update.
std::string Dump(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// The simulator's texts are in the Windows code page; its first 256 code
// points are Latin-1's, which is near enough for a log and a tooltip.
std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                           static_cast<uint8_t>(bytes[i + 2]);
        out += kDigits[v >> 18], out += kDigits[(v >> 12) & 63], out += kDigits[(v >> 6) & 63], out += kDigits[v & 63];
    }
    if (i + 1 == bytes.size()) {
        const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
        out += kDigits[v >> 18], out += kDigits[(v >> 12) & 63], out += "==";
    } else if (i + 2 == bytes.size()) {
        const uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) | (static_cast<uint8_t>(bytes[i + 1]) << 8);
        out += kDigits[v >> 18], out += kDigits[(v >> 12) & 63], out += kDigits[(v >> 6) & 63], out += '=';
    }
    return out;
}

double CpuSeconds(int who) {
    rusage usage{};
    if (getrusage(who, &usage) != 0) return 0.0;
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

json Number(std::optional<double> value) { return value ? json(*value) : json(nullptr); }

// A file of the sound folder as the page asks for it: /folder/ and the
// path with slashes, each part percent-encoded.
std::string FolderUrl(const std::string& name) {
    std::string url = "/folder/";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '/') {
            url += '/';
        } else if (std::isalnum(byte) || c == '-' || c == '_' || c == '.' || c == '~') {
            url += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            url += escaped;
        }
    }
    return url;
}

json CommandJson(const CommandRecord& command) {
    return {{"time", command.time},
            {"value", command.value},
            {"meaning", command.meaning},
            {"outcome", command.outcome == CommandOutcome::Pending ? "pending" : OutcomeName(command.outcome)},
            {"resolvedAt", command.outcome == CommandOutcome::Pending ? json(nullptr) : json(command.resolvedAt)},
            {"result", command.result}};
}

}  // namespace

std::unique_ptr<LivePanel> LivePanel::Start(const LiveOptions& options, std::string* error) {
    std::unique_ptr<LivePanel> panel(new LivePanel);
    panel->options_ = options;
    SessionError why;
    panel->session_ = Session::Open(options.setup, &why);
    if (!panel->session_) {
        *error = why.message;
        return nullptr;
    }
    panel->soundFolder_ = panel->session_->soundFolder();
    panel->logPath_ = panel->session_->logPath();
    panel->audioRate_ = panel->session_->audioRate();
    // The placing of the gauges is the first thing the page shows.
    panel->Publish(true);
    panel->thread_ = std::thread([p = panel.get()] { p->Loop(); });
    return panel;
}

LivePanel::~LivePanel() { Stop(); }

void LivePanel::Stop() {
    {
        std::lock_guard lock(actionsMutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard lock(publishedMutex_);
        stopped_ = true;
    }
    published_.notify_all();
    std::lock_guard lock(actionsMutex_);
    for (auto& pending : actions_) pending->done.set_value({503, "the simulation has ended", 0});
    actions_.clear();
}

ActionResult LivePanel::Run(std::function<ActionResult(Session&)> action, std::chrono::milliseconds wait) {
    auto pending = std::make_unique<Pending>();
    pending->action = std::move(action);
    std::future<ActionResult> done = pending->done.get_future();
    {
        std::lock_guard lock(actionsMutex_);
        if (stopping_) return {503, "the simulation has ended", 0};
        actions_.push_back(std::move(pending));
    }
    if (done.wait_for(wait) != std::future_status::ready) return {503, "the simulation did not get to it in time", 0};
    return done.get();
}

void LivePanel::Loop() {
    Clock::time_point base = Clock::now();
    uint64_t baseUpdate = session_->updates() + 1;  // the update due at `base`
    startedAt_ = base;
    startCpu_ = CpuSeconds(RUSAGE_SELF);
    for (;;) {
        const uint64_t next = session_->updates() + 1;
        const Clock::time_point due = base + std::chrono::milliseconds(UpdateTimeMs(next) - UpdateTimeMs(baseUpdate));
        std::vector<std::unique_ptr<Pending>> actions;
        {
            std::unique_lock lock(actionsMutex_);
            wake_.wait_until(lock, due, [&] { return stopping_; });
            if (stopping_) return;
            actions.swap(actions_);
        }
        const Clock::time_point start = Clock::now();
        if (start - due > kStall) {
            // The machine stalled: carry on from now rather than catching up
            // in a burst the page would hear as a jump.
            base = start;
            baseUpdate = next;
            ++stats_.resyncs;
        }

        std::vector<ActionResult> results(actions.size());
        for (size_t i = 0; i < actions.size(); ++i) {
            try {
                results[i] = actions[i]->action(*session_);
            } catch (const std::exception& e) {
                results[i] = {500, std::string("the simulation could not do it: ") + e.what(), 0};
            }
        }
        try {
            session_->Step();
            // A live panel runs for hours: the records kept for tests go.
            session_->sim().ClearServiceCalls();
            session_->sim().ClearPanelCalls();
            Publish(folderDirty_);
            folderDirty_ = false;
        } catch (const std::exception& e) {
            // Nothing may end the simulation: the update is lost, not the session.
            std::cerr << "twsim serve: update " << session_->updates() << ": " << e.what() << "\n";
        }
        for (size_t i = 0; i < actions.size(); ++i) {
            results[i].update = session_->updates();
            actions[i]->done.set_value(results[i]);
        }
        Measure(due, start, Clock::now());
    }
}

ActionResult LivePanel::ReloadFolder() {
    return Run([this](Session& session) -> ActionResult {
        std::string why;
        const bool done = session.ReloadSoundModule(&why);
        reloadProblem_ = done ? std::string() : why;
        folderDirty_ = true;
        if (!done) return {500, "the sound module could not be reloaded: " + why, 0};
        const CheckReport& check = session.soundCheck();
        return {200,
                "sound module reloaded: " + std::to_string(check.items.size()) + " sound items" +
                    (check.ok() ? std::string() : ", the checker found problems (see beside)"),
                0};
    }, std::chrono::seconds(60));  // a large folder takes a while to read
}

void LivePanel::Measure(Clock::time_point due, Clock::time_point start, Clock::time_point end) {
    const double lateMs = std::chrono::duration<double, std::milli>(start - due).count();
    const double workMs = std::chrono::duration<double, std::milli>(end - start).count();
    std::lock_guard lock(publishedMutex_);
    LiveStats& s = stats_;
    ++s.updates;
    s.seconds = std::chrono::duration<double>(end - startedAt_).count();
    if (s.updates == 1) firstUpdateAt_ = start;
    const double running = std::chrono::duration<double>(start - firstUpdateAt_).count();
    if (running > 0.0) s.heldRate = static_cast<double>(s.updates - 1) / running;
    s.maxLateMs = std::max(s.maxLateMs, lateMs);
    if (lateMs > kLateMs) ++s.lateUpdates;
    workTotalMs_ += workMs;
    s.workMs = workTotalMs_ / static_cast<double>(s.updates);
    s.maxWorkMs = std::max(s.maxWorkMs, workMs);

    lateness_.emplace_back(end, lateMs);
    while (!lateness_.empty() && end - lateness_.front().first > kStatsWindow) lateness_.pop_front();
    s.lateMs = 0.0;
    for (const auto& [at, late] : lateness_) s.lateMs = std::max(s.lateMs, late);

    // Rates over the last few seconds, sampled once a second.
    if (windows_.empty() || end - windows_.back().at >= std::chrono::seconds(1)) {
        windows_.push_back({end, s.updates, CpuSeconds(RUSAGE_SELF), CpuSeconds(RUSAGE_THREAD)});
        while (windows_.size() > 1 && end - windows_.front().at > kStatsWindow) windows_.pop_front();
        const Window& first = windows_.front();
        const Window& last = windows_.back();
        const double span = std::chrono::duration<double>(last.at - first.at).count();
        if (span > 0.5) {
            s.rate = static_cast<double>(last.updates - first.updates) / span;
            s.cpuPercent = 100.0 * (last.cpu - first.cpu) / span;
            s.simCpuPercent = 100.0 * (last.simCpu - first.simCpu) / span;
        }
        if (s.seconds > 0.0) s.totalCpuPercent = 100.0 * (last.cpu - startCpu_) / s.seconds;
    }
}

LiveStats LivePanel::Stats() const {
    std::lock_guard lock(publishedMutex_);
    return stats_;
}

void LivePanel::ReadLog(std::vector<std::string>* lines) {
    std::ifstream in(logPath_, std::ios::binary);
    if (!in) return;
    in.seekg(0, std::ios::end);
    const auto size = static_cast<uint64_t>(in.tellg());
    if (size < logOffset_) logOffset_ = 0, logPartial_.clear();  // emptied
    if (size == logOffset_) return;
    in.seekg(static_cast<std::streamoff>(logOffset_));
    std::string text(size - logOffset_, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    logOffset_ += text.size();
    logPartial_ += text;
    size_t start = 0;
    for (size_t end; (end = logPartial_.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string_view line(logPartial_.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // The blank line after each message only separates them.
        if (!line.empty()) lines->push_back(Latin1ToUtf8(line));
    }
    logPartial_.erase(0, start);
}

std::string LivePanel::BuildFolder() {
    const Session& session = *session_;
    const CheckReport& check = session.soundCheck();
    json folder;
    folder["soundFolder"] = soundFolder_.string();
    folder["audioRate"] = audioRate_;
    folder["reloadProblem"] = reloadProblem_;

    std::map<size_t, int32_t> defaultVolume;
    for (const CheckedItem& item : check.items) defaultVolume[item.index] = item.defaultVolume;
    json items = json::array();
    for (const SoundTarget& target : session.targets()) {
        json item = {{"name", target.name},
                     {"variable", target.variable},
                     {"wav", target.wavName},
                     {"wavUrl", target.wavName.empty() ? std::string() : FolderUrl(target.wavName)},
                     {"line", target.line},
                     {"slot", target.slot ? json(*target.slot) : json(nullptr)},
                     {"defaultVolume", target.slot ? json(defaultVolume[*target.slot]) : json(nullptr)},
                     {"wavProblem", target.wavProblem},
                     {"dropReason", target.dropReason}};
        items.push_back(std::move(item));
    }
    folder["items"] = std::move(items);
    folder["master"] = session.masterVariable();
    json registers = json::object();
    for (const CheckedSetting& setting : check.settings) registers[setting.key] = ReferenceName(setting.reference);
    folder["registers"] = std::move(registers);

    // The checker's findings, as `twsim check` gives them for the builder's
    // own folder (its paths, not the working copy's).
    const CheckReport own = soundFolder_.empty() ? check : RunCheck(soundFolder_.string());
    folder["check"] = {{"ok", own.ok()},
                       {"configRead", own.configRead},
                       {"droppedItems", own.droppedItems},
                       {"unusableWaves", own.unusableWaves},
                       {"ignoredLines", own.ignoredLines.size()},
                       {"notes", own.notes.size()},
                       {"text", FormatCheckText(own)}};

    json sliders = json::array();
    for (const SliderVariable& s : kSliderVariables) {
        sliders.push_back({{"label", s.label}, {"variable", s.variable}, {"min", s.min}, {"max", s.max}, {"step", s.step},
                           {"unit", s.unit}});
    }
    folder["sliders"] = std::move(sliders);
    folder["tests"] = json::array({{{"test", "oil_quantity"}, {"label", "Oil quantity test"}, {"variable", kTestVariables[0]}},
                                   {{"test", "vibration"}, {"label", "Vibration test"}, {"variable", kTestVariables[1]}}});
    json gauges = json::array();
    for (const PlacedGauge* gauge : session.placedGauges()) gauges.push_back(gauge != nullptr ? gauge->name : std::string());
    folder["gauges"] = std::move(gauges);
    return Dump(folder);
}

std::string LivePanel::BuildState() {
    Session& session = *session_;
    const SessionReport& report = session.report();
    json state;
    state["update"] = session.updates();
    state["time"] = session.now();
    const SimState& sim = session.state();
    state["sim"] = {{"paused", sim.paused}, {"running", sim.running}, {"slewing", sim.slewing}, {"soundOn", sim.soundOn},
                    {"view", sim.view}};

    // The last command written to each item and to the master controller.
    for (; commandsSeen_ < report.commands.size(); ++commandsSeen_) {
        const CommandRecord& command = report.commands[commandsSeen_];
        lastCommand_[command.target == "master" && command.variable == session.masterVariable() ? std::string()
                                                                                                 : command.target] =
            commandsSeen_;
    }
    auto lastCommand = [&](const std::string& target) {
        const auto found = lastCommand_.find(target);
        return found == lastCommand_.end() || found->second >= report.commands.size()
                   ? json(nullptr)
                   : CommandJson(report.commands[found->second]);
    };

    const std::vector<ItemSound> sounds = session.ItemSounds();
    json items = json::array();
    for (size_t i = 0; i < session.targets().size(); ++i) {
        const SoundTarget& target = session.targets()[i];
        const ItemSound& sound = sounds[i];
        items.push_back({{"value", Number(session.Variable(target.variable))},
                         {"loaded", sound.loaded},
                         {"status", !sound.loaded ? "not loaded" : sound.looping ? "looping" : sound.playing ? "playing" : "stopped"},
                         {"volume", sound.loaded ? json(sound.volume) : json(nullptr)},
                         {"pan", sound.loaded ? json(sound.pan) : json(nullptr)},
                         {"command", lastCommand(target.name)}});
    }
    state["items"] = std::move(items);
    state["master"] = {{"value", session.masterVariable().empty() ? json(nullptr) : Number(session.Variable(session.masterVariable()))},
                       {"command", lastCommand(std::string())}};
    json registers = json::object();
    for (const CheckedSetting& setting : session.soundCheck().settings) {
        const std::string name = ReferenceName(setting.reference);
        registers[setting.key] = name.empty() ? json(nullptr) : Number(session.Variable(name));
    }
    state["registers"] = std::move(registers);

    json sliders = json::array();
    for (const SliderVariable& s : kSliderVariables) sliders.push_back(Number(session.Variable(s.variable)));
    state["sliders"] = std::move(sliders);
    json tests = json::array();
    for (const char* variable : kTestVariables) tests.push_back(Number(session.Variable(variable)));
    state["tests"] = std::move(tests);

    json gauges = json::array();
    for (const PlacedGauge* gauge : session.placedGauges()) {
        if (gauge == nullptr) {
            gauges.push_back(nullptr);
            continue;
        }
        json needles = json::array();
        for (const NeedleState& needle : gauge->needles) {
            needles.push_back({{"value", needle.value}, {"angle", needle.shown ? json(needle.angle) : json(nullptr)}});
        }
        gauges.push_back({{"name", gauge->name},
                          {"tooltip", Latin1ToUtf8(session.sim().Tooltip(*gauge))},
                          {"needles", std::move(needles)}});
    }
    state["gauges"] = std::move(gauges);

    // Every variable the modules touched so far, the last update's marked.
    for (const VariableSample& sample : session.lastVariables()) {
        const std::string access = sample.read && sample.written ? "read+write" : sample.written ? "write" : "read";
        const auto known = std::find(variableKeys_.begin(), variableKeys_.end(), sample.name);
        if (known == variableKeys_.end()) {
            variableKeys_.push_back(sample.name);
            variables_.push_back({sample.name, sample.value, access, session.updates()});
        } else {
            SeenVariable& seen = variables_[static_cast<size_t>(known - variableKeys_.begin())];
            seen.value = sample.value;
            seen.access = access;
            seen.update = session.updates();
        }
    }
    json variables = json::array();
    for (SeenVariable& seen : variables_) {
        if (seen.update != session.updates()) {
            // Not touched in this update: its value as it is now.
            if (const auto value = session.Variable(seen.name)) seen.value = value;
        }
        variables.push_back({{"name", seen.name},
                             {"value", Number(seen.value)},
                             {"access", seen.access},
                             {"now", seen.update == session.updates()}});
    }
    state["variables"] = std::move(variables);

    const auto& findings = report.findings;
    json recent = json::array();
    for (size_t i = findings.size() > 30 ? findings.size() - 30 : 0; i < findings.size(); ++i) {
        recent.push_back({{"time", findings[i].time}, {"kind", findings[i].kind}, {"text", findings[i].text}});
    }
    state["findings"] = {{"count", findings.size()}, {"recent", std::move(recent)}};
    state["commands"] = report.commands.size();

    const LiveStats perf = Stats();
    state["perf"] = {{"rate", perf.rate},          {"lateMs", perf.lateMs},       {"workMs", perf.workMs},
                     {"cpu", perf.cpuPercent},     {"simCpu", perf.simCpuPercent}, {"updates", perf.updates},
                     {"resyncs", perf.resyncs}};
    return Dump(state);
}

void LivePanel::Publish(bool folderChanged) {
    Session& session = *session_;

    // The gauges whose needles moved are drawn and encoded again.
    const std::vector<PlacedGauge*>& gauges = session.placedGauges();
    pictures_.resize(gauges.size());
    std::vector<std::pair<size_t, std::shared_ptr<const std::string>>> changed;
    for (size_t i = 0; i < gauges.size(); ++i) {
        const PlacedGauge* gauge = gauges[i];
        Picture& picture = pictures_[i];
        std::vector<std::optional<double>> angles;
        if (gauge != nullptr) {
            for (const NeedleState& needle : gauge->needles) angles.push_back(needle.shown ? std::optional(needle.angle) : std::nullopt);
        }
        if (picture.version != 0 && picture.gauge == gauge && picture.angles == angles) continue;
        picture.gauge = gauge;
        picture.angles = std::move(angles);
        picture.version = ++pictureVersion_;
        picture.event.reset();
        if (gauge != nullptr && gauge->module->HasBitmapTable()) {
            const RenderedGauge image = RenderGauge(
                *gauge->header, [&](uint32_t id) { return gauge->module->Bitmap(id); },
                [&](const ElementHeader* element) { return gauge->AngleOf(element); }, options_.imageScale);
            std::string png;
            // A gauge drawn smaller than this shows nothing (the sound gauge's one pixel).
            if (image.width >= 8 && image.height >= 8 && EncodePng(image, &png)) {
                json event = {{"index", i}, {"name", gauge->name}, {"width", image.width}, {"height", image.height}};
                const std::string head = Dump(event);
                // The picture goes in as a data URL, added without a copy through the JSON writer.
                picture.event = std::make_shared<const std::string>("event: gauge\ndata: " + head.substr(0, head.size() - 1) +
                                                                    ",\"png\":\"data:image/png;base64," + Base64(png) + "\"}\n\n");
            }
        }
        changed.emplace_back(i, picture.event);
    }

    std::vector<std::string> lines;
    ReadLog(&lines);
    std::shared_ptr<const std::string> folder;
    if (folderChanged || !folder_) folder = std::make_shared<const std::string>(BuildFolder());

    std::vector<int16_t> sound = session.TakeAudio();
    auto bytes = std::make_shared<const std::string>(reinterpret_cast<const char*>(sound.data()), sound.size() * sizeof(int16_t));
    auto state = std::make_shared<const std::string>(BuildState());

    {
        std::lock_guard lock(publishedMutex_);
        update_ = session.updates() + 1;  // 1 for the placing, before any update
        state_ = std::move(state);
        if (folder) {
            folder_ = std::move(folder);
            ++folderVersion_;
        }
        gaugeEvents_.resize(gauges.size());
        for (auto& [index, event] : changed) gaugeEvents_[index] = {pictures_[index].version, std::move(event)};
        for (const std::string& line : lines) {
            log_.push_back(Dump(json(line)));
            ++logNext_;
        }
        while (log_.size() > options_.logLines) log_.pop_front();
        audio_.push_back({audioNext_++, std::move(bytes)});
        while (audio_.size() > options_.audioChunks) audio_.pop_front();
    }
    published_.notify_all();
}

std::optional<std::string> LivePanel::NextEvents(EventCursor* cursor, std::chrono::milliseconds wait) {
    std::unique_lock lock(publishedMutex_);
    if (!published_.wait_for(lock, wait, [&] { return stopped_ || update_ > cursor->update; })) return std::string();
    if (stopped_) return std::nullopt;
    std::shared_ptr<const std::string> folder;
    if (cursor->folder != folderVersion_) {
        folder = folder_;
        cursor->folder = folderVersion_;
    }
    std::vector<std::shared_ptr<const std::string>> pictures;
    cursor->gauges.resize(gaugeEvents_.size(), 0);
    for (size_t i = 0; i < gaugeEvents_.size(); ++i) {
        const auto& [version, event] = gaugeEvents_[i];
        if (cursor->gauges[i] == version) continue;
        cursor->gauges[i] = version;
        if (event) pictures.push_back(event);
    }
    std::string log;
    const uint64_t firstKept = logNext_ - log_.size();
    for (uint64_t n = std::max(cursor->log, firstKept); n < logNext_; ++n) {
        log += (log.empty() ? "" : ",") + log_[static_cast<size_t>(n - firstKept)];
    }
    cursor->log = logNext_;
    const std::shared_ptr<const std::string> state = state_;
    cursor->update = update_;
    lock.unlock();

    std::string text;
    if (folder) text += "event: folder\ndata: " + *folder + "\n\n";
    for (const auto& picture : pictures) text += *picture;
    if (!log.empty()) text += "event: log\ndata: [" + log + "]\n\n";
    text += "event: state\ndata: " + *state + "\n\n";
    return text;
}

uint64_t LivePanel::AudioNext() const {
    std::lock_guard lock(publishedMutex_);
    return audioNext_;
}

std::optional<std::string> LivePanel::NextAudio(uint64_t* next, std::chrono::milliseconds wait) {
    std::unique_lock lock(publishedMutex_);
    if (!published_.wait_for(lock, wait, [&] { return stopped_ || audioNext_ > *next; })) return std::string();
    if (stopped_) return std::nullopt;
    // Half a second behind: on from the newest, rather than late for good.
    const uint64_t behind = audioNext_ - *next;
    if (behind > kUpdatesPerSecond / 2 || *next < audio_.front().number) *next = audio_.back().number;
    std::string bytes;
    for (const AudioChunk& chunk : audio_) {
        if (chunk.number >= *next) bytes += *chunk.bytes;
    }
    *next = audioNext_;
    return bytes;
}

std::string LivePanel::StateJson() const {
    std::lock_guard lock(publishedMutex_);
    return *state_;
}

std::string LivePanel::FolderJson() const {
    std::lock_guard lock(publishedMutex_);
    return *folder_;
}
