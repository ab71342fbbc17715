#include "session.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <control_files.h>
#include <control_sound.h>
#include <native_path.h>
#include <stdlib.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "calculator_code.h"
#include "log.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kOilQtyTestVariable = "L:Eng Oil Qty Test,number";
constexpr const char* kVibrationTestVariable = "L:Engine Vibration Test,number";
constexpr const char* kSoundGaugeName = "tw_sound";

std::string KeyOf(std::string_view name) {
    const auto parsed = ParseVariableName(name);
    return parsed ? parsed->key : std::string();
}

std::string Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return std::string(text);
}

// The variable of a code text as the module spells it, without the
// parentheses and the blanks around ':' and ',': "L:apustart,number".
std::string Spelled(std::string_view code) {
    if (const size_t open = code.rfind('('); open != std::string_view::npos) code = code.substr(open + 1);
    if (!code.empty() && code.front() == '>') code.remove_prefix(1);
    while (!code.empty() && (code.back() == ')' || code.back() == ' ')) code.remove_suffix(1);
    std::string out;
    for (size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (c == ':' || c == ',') {
            while (!out.empty() && out.back() == ' ') out.pop_back();
            out += c;
            while (i + 1 < code.size() && code[i + 1] == ' ') ++i;
        } else {
            out += c;
        }
    }
    return Trimmed(out);
}

std::string Seconds(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", t);
    return text;
}

const char* ItemCommandMeaning(int32_t value) {
    switch (value) {
        case 0: return "stop";
        case 1: return "play once";
        case 2: return "play looped";
        case 3: return "set volume";
        case 4: return "read volume";
        case 5: return "set pan";
        case 6: return "read pan";
        case 7: return "play once with volume and pan";
        case 8: return "play looped with volume and pan";
        default: return value < 0 ? "(idle value, not a command)" : "(not a command)";
    }
}

const char* MasterMeaning(int32_t value) {
    switch (value) {
        case 0: return "(idle value, not a command)";
        case 1: return "stop all";
        case 2: return "silence all";
        case 3: return "restore all";
        default: return "(not a master command)";
    }
}

bool IsPlay(int32_t value) { return value == 1 || value == 2 || value == 7 || value == 8; }

// "buffer 3 Play(flags 1) -> 0": the buffer, the method, the arguments
// and the result.
struct SoundCall {
    uint32_t buffer = 0;
    std::string method;
    std::string arguments;
    std::string result;
};

std::optional<SoundCall> ParseSoundCall(std::string_view text) {
    constexpr std::string_view prefix = "buffer ";
    if (text.substr(0, prefix.size()) != prefix) return std::nullopt;
    text.remove_prefix(prefix.size());
    SoundCall call;
    size_t i = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') call.buffer = call.buffer * 10 + (text[i++] - '0');
    if (i == 0 || i >= text.size() || text[i] != ' ') return std::nullopt;
    text.remove_prefix(i + 1);
    const size_t arrow = text.find(" -> ");
    std::string_view head = text.substr(0, arrow);
    if (arrow != std::string_view::npos) call.result = std::string(text.substr(arrow + 4));
    if (const size_t open = head.find('('); open != std::string_view::npos) {
        call.method = std::string(head.substr(0, open));
        call.arguments = std::string(head.substr(open + 1, head.size() - open - 2));
    } else {
        call.method = std::string(head);
    }
    return call;
}

// Straight RGBA into a cairo image (premultiplied native-endian ARGB).
cairo_surface_t* SurfaceOf(const RenderedGauge& image) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width, image.height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return surface;
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* px = image.At(x, y);
            const unsigned a = px[3];
            const uint32_t v = (a << 24) | (((px[0] * a + 127) / 255) << 16) | (((px[1] * a + 127) / 255) << 8) |
                               ((px[2] * a + 127) / 255);
            std::memcpy(data + static_cast<size_t>(y) * stride + x * 4, &v, 4);
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

// The strip's font, read straight from its file: cairo's own font lookup
// would go through fontconfig, whose caches live until the program ends.
// One FreeType library for the program; a face is freed with the cairo font
// face that holds it.
#ifndef TW_PANEL_FONT
#define TW_PANEL_FONT "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
#endif

const cairo_user_data_key_t kFaceKey{};

cairo_font_face_t* PanelFont() {
    static FT_Library library = [] {
        FT_Library l = nullptr;
        return FT_Init_FreeType(&l) == 0 ? l : nullptr;
    }();
    FT_Face face = nullptr;
    if (library == nullptr || FT_New_Face(library, TW_PANEL_FONT, 0, &face) != 0) return nullptr;
    cairo_font_face_t* font = cairo_ft_font_face_create_for_ft_face(face, 0);
    if (cairo_font_face_set_user_data(font, &kFaceKey, face, [](void* f) { FT_Done_Face(static_cast<FT_Face>(f)); }) !=
        CAIRO_STATUS_SUCCESS) {
        cairo_font_face_destroy(font);
        FT_Done_Face(face);
        return nullptr;
    }
    return font;
}

}  // namespace

void Session::FontDeleter::operator()(cairo_font_face_t* font) const { cairo_font_face_destroy(font); }

std::string ReferenceName(const std::string& reference) {
    std::string_view name = reference;
    while (!name.empty() && (name.front() == '(' || name.front() == ' ')) name.remove_prefix(1);
    while (!name.empty() && (name.back() == ')' || name.back() == ' ')) name.remove_suffix(1);
    return std::string(name);
}

std::vector<SoundTarget> SoundTargets(const CheckReport& folder) {
    // The module reads its lines in lower case; names are shown as the
    // builder wrote them.
    std::vector<std::string> lines;
    if (!folder.configPath.empty()) {
        std::ifstream in(NativePath(folder.configPath.c_str()), std::ios::binary);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    auto written = [&](size_t lineNumber, const std::string& name) {
        if (lineNumber == 0 || lineNumber > lines.size()) return name;
        const std::string& line = lines[lineNumber - 1];
        const std::string first = Trimmed(line.substr(0, line.find(',')));
        return strcasecmp(first.c_str(), name.c_str()) == 0 ? first : name;
    };
    std::vector<SoundTarget> targets;
    std::vector<std::string> keys;
    for (const CheckedItem& item : folder.items) {
        SoundTarget target;
        target.variable = ReferenceName(item.variable);
        // "L:" + name + ", number"
        const size_t comma = target.variable.rfind(',');
        target.name = written(item.line, target.variable.substr(2, comma == std::string::npos ? std::string::npos : comma - 2));
        target.slot = item.index;
        target.wavName = item.wavName;
        target.line = item.line;
        for (const CheckedWave& wave : folder.waves) {
            if (wave.path == item.wavFile && !wave.usable) target.wavProblem = wave.problem;
        }
        keys.push_back(KeyOf(target.variable));
        targets.push_back(std::move(target));
    }
    // A dropped item line still names the variable a panel gauge would write.
    for (const CheckedLine& line : folder.ignoredLines) {
        if (!line.itemDropped) continue;
        const size_t comma = line.text.find(',');
        if (comma == std::string::npos) continue;
        const std::string name = Trimmed(line.text.substr(0, comma));
        const std::string variable = "L:" + name + ", number";
        const std::string key = KeyOf(variable);
        if (name.empty() || key.empty() || std::find(keys.begin(), keys.end(), key) != keys.end()) continue;
        SoundTarget target;
        target.name = written(line.line, name);
        target.variable = variable;
        target.wavName = Trimmed(line.text.substr(comma + 1, line.text.find(',', comma + 1) - comma - 1));
        target.dropReason = line.reason;
        target.line = line.line;
        keys.push_back(key);
        targets.push_back(std::move(target));
    }
    return targets;
}

std::unique_ptr<Session> Session::Open(const SessionSetup& setup, SessionError* error) {
    auto fail = [&](std::string message, int module = -1, int gauge = -1) -> std::unique_ptr<Session> {
        if (error != nullptr) *error = {std::move(message), module, gauge};
        return nullptr;
    };
    std::unique_ptr<Session> session(new Session);
    std::string why;
    if (!session->Install(setup.soundFolder, &why)) return fail(why);

    session->sim_ = std::make_unique<Sim>();
    Sim& sim = *session->sim_;
    sim.KeepCodeLog(false);
    Session* self = session.get();
    sim.WatchCode([self](const char* code) { self->texts_.push_back({code, TwSoundCallCount()}); });

    session->ReadFolder();

    std::vector<LoadedModule*> modules;
    for (size_t i = 0; i < setup.modules.size(); ++i) {
        LoadedModule* module = sim.LoadModule(setup.modules[i], &why);
        if (module == nullptr) return fail("cannot load " + setup.modules[i] + ": " + why, static_cast<int>(i));
        modules.push_back(module);
    }
    std::vector<std::pair<LoadedModule*, std::string>> placing;
    if (setup.gauges.empty()) {
        for (LoadedModule* module : modules) {
            for (GaugeHeader* header : module->Gauges()) {
                if (header->name != nullptr) placing.emplace_back(module, header->name);
            }
        }
    }
    for (size_t i = 0; i < setup.gauges.size(); ++i) {
        const auto owner = std::find_if(modules.begin(), modules.end(),
                                        [&](LoadedModule* m) { return m->FindGauge(setup.gauges[i]) != nullptr; });
        if (owner == modules.end()) {
            std::string known;
            for (LoadedModule* module : modules) {
                for (GaugeHeader* header : module->Gauges()) {
                    if (header->name == nullptr) continue;
                    known += (known.empty() ? "" : ", ") + std::string(header->name);
                }
            }
            return fail("no module has a gauge named \"" + setup.gauges[i] + "\" (the gauges are: " + known + ")", -1,
                        static_cast<int>(i));
        }
        placing.emplace_back(*owner, setup.gauges[i]);
    }
    for (const auto& [module, name] : placing) session->gauges_.push_back(sim.PlaceGauge(module, name));
    sim.CaptureAudio(true);

    std::error_code ignored;
    session->logOffset_ = fs::file_size(session->logPath(), ignored);
    if (ignored) session->logOffset_ = 0;
    session->ProcessTexts(false);
    session->PollBuffers();
    return session;
}

// What the module will read: its own configuration and WAV reader, run on
// the installed folder before the module reads it.
void Session::ReadFolder() {
    check_ = RunCheck(installedFolder().string());
    targets_ = SoundTargets(check_);
    targetByKey_.clear();
    for (size_t i = 0; i < targets_.size(); ++i) targetByKey_.emplace(KeyOf(targets_[i].variable), static_cast<int>(i));
    master_.clear(), volumeRegister_.clear(), panRegister_.clear();
    for (const CheckedSetting& setting : check_.settings) {
        const std::string name = ReferenceName(setting.reference);
        if (setting.key == "mastercontroller") master_ = name;
        if (setting.key == "buffervolwrite") volumeRegister_ = name;
        if (setting.key == "bufferpanwrite") panRegister_ = name;
    }
    masterKey_ = KeyOf(master_);
}

fs::path Session::installedFolder() const { return root_ / "sim" / "Sound" / "Tarnwick_HX8"; }

bool Session::Install(const std::string& soundFolder, std::string* error) {
    const fs::path temp = [] {
        std::error_code ec;
        fs::path path = fs::temp_directory_path(ec);
        return ec ? fs::path("/tmp") : path;
    }();
    std::string pattern = (temp / "twsim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        *error = "cannot make a temporary folder in " + temp.string() + ": " + std::strerror(errno);
        return false;
    }
    root_ = pattern;
    const fs::path folder = installedFolder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        *error = "cannot make " + folder.string() + ": " + ec.message();
        return false;
    }
    if (!soundFolder.empty()) {
        const fs::path source = fs::absolute(soundFolder, ec);
        if (ec || !fs::is_directory(source, ec)) {
            *error = "the sound folder " + soundFolder + " is not a folder";
            return false;
        }
        soundFolder_ = source;
        if (!LinkSoundFolder(error)) return false;
    }
    // The module logs only when the file is there when it sets up.
    std::ofstream(folder / "logfile.txt").close();
    TwPlatformResetFiles();
    TwPlatformSetExecutablePath((root_ / "sim" / "fs.exe").c_str());
    return true;
}

bool Session::LinkSoundFolder(std::string* error) {
    const fs::path folder = installedFolder();
    std::error_code ec;
    // What an earlier linking left, but the session's log.
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (strcasecmp(it->path().filename().c_str(), "logfile.txt") == 0) continue;
        fs::remove_all(it->path(), ec);  // a link goes, not what it points to
        if (ec) break;
    }
    if (ec) {
        *error = "cannot empty the working copy " + folder.string() + ": " + ec.message();
        return false;
    }
    const fs::path& source = soundFolder_;
    // The files are linked, not copied: a sound folder may be large, and
    // the module only reads them.
    for (auto it = fs::recursive_directory_iterator(source, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        // Lexically: a linked folder's own path is where it goes.
        const fs::path relative = it->path().lexically_relative(source);
        const fs::path target = folder / relative;
        if (it.depth() == 0 && strcasecmp(relative.c_str(), "logfile.txt") == 0) {
            continue;  // the session's own log takes its place
        } else if (it->is_directory(ec) && !it->is_symlink(ec)) {
            fs::create_directories(target, ec);
        } else {
            // A file, or a linked folder (which the walk does not enter):
            // linked as a whole.
            fs::create_symlink(it->path(), target, ec);
            if (ec && it->is_regular_file()) fs::copy_file(it->path(), target, ec);
        }
        if (ec) break;
    }
    if (ec) {
        *error = "cannot install the sound folder " + source.string() + ": " + ec.message();
        return false;
    }
    return true;
}

Session::~Session() {
    if (sim_) sim_->WatchCode(nullptr);
    sim_.reset();
    TwPlatformResetFiles();
    if (!root_.empty()) {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
}

double Session::now() const { return static_cast<double>(UpdateTimeMs(sim_->updates())) / 1000.0; }

double Session::nextUpdateTime() const { return static_cast<double>(UpdateTimeMs(sim_->updates() + 1)) / 1000.0; }

fs::path Session::logPath() const { return installedFolder() / "logfile.txt"; }

int Session::TargetOfKey(const std::string& key) const {
    const auto found = targetByKey_.find(key);
    return found == targetByKey_.end() ? -1 : found->second;
}

void Session::SetVariable(std::string_view name, double value) { sim_->variables().Set(name, value); }

std::optional<double> Session::Variable(std::string_view name) const {
    const auto found = sim_->variables().Find(name);
    if (!found) return std::nullopt;
    return found->value;
}

void Session::AddFinding(double time, const std::string& kind, const std::string& text) {
    report_.findings.push_back({time, kind, text});
}

void Session::Command(size_t target, int32_t value, std::optional<int32_t> volume, std::optional<int32_t> pan) {
    if (target >= targets_.size()) return;
    const SoundTarget& t = targets_[target];
    const double time = nextUpdateTime();
    if (volume && !volumeRegister_.empty()) SetVariable(volumeRegister_, *volume);
    if (pan && !panRegister_.empty()) SetVariable(panRegister_, *pan);

    const std::string key = KeyOf(t.variable);
    if (const auto pending = pendingCommand_.find(key); pending != pendingCommand_.end()) {
        CommandRecord& earlier = report_.commands[pending->second];
        const bool ignored = !earlier.result.empty();  // never going to be taken anyway
        earlier.outcome = CommandOutcome::Replaced;
        earlier.resolvedAt = time;
        earlier.result = ignored ? earlier.result + ", then written over" : "written over before the module took it";
        if (!ignored) {
            AddFinding(earlier.time, "replaced",
                       t.name + " " + earlier.meaning + " (" + std::to_string(earlier.value) + ") at " +
                           Seconds(earlier.time) + " was written over by " + std::to_string(value) + " at " +
                           Seconds(time) + " before the module took it");
        }
    }
    SetVariable(t.variable, value);
    CommandRecord record;
    record.time = time;
    record.target = t.name;
    record.variable = t.variable;
    record.value = value;
    record.meaning = ItemCommandMeaning(value);
    if (volume && !volumeRegister_.empty()) record.volume = volume;
    if (pan && !panRegister_.empty()) record.pan = pan;
    pendingCommand_[key] = report_.commands.size();
    report_.commands.push_back(std::move(record));
}

bool Session::Master(int32_t value) {
    if (master_.empty()) return false;
    const double time = nextUpdateTime();
    if (const auto pending = pendingCommand_.find(masterKey_); pending != pendingCommand_.end()) {
        CommandRecord& earlier = report_.commands[pending->second];
        earlier.outcome = CommandOutcome::Replaced;
        earlier.resolvedAt = time;
        earlier.result = "written over before the module took it";
        AddFinding(earlier.time, "replaced",
                   "master " + earlier.meaning + " at " + Seconds(earlier.time) + " was written over at " + Seconds(time) +
                       " before the module took it");
    }
    SetVariable(master_, value);
    CommandRecord record;
    record.time = time;
    record.target = "master";
    record.variable = master_;
    record.value = value;
    record.meaning = MasterMeaning(value);
    pendingCommand_[masterKey_] = report_.commands.size();
    report_.commands.push_back(std::move(record));
    return true;
}

void Session::NoteStateChange(const std::string& what) { stateChanges_.push_back(what); }

void Session::Notice(SimNotice notice, uint32_t view) {
    switch (notice) {
        case SimNotice::Pause: sim_->Pause(true); state_.paused = true; NoteStateChange("pause"); break;
        case SimNotice::Unpause: sim_->Pause(false); state_.paused = false; NoteStateChange("unpause"); break;
        case SimNotice::SimStop: sim_->SimStop(); state_.running = false; NoteStateChange("sim stop"); break;
        case SimNotice::SimStart: sim_->SimStart(); state_.running = true; NoteStateChange("sim start"); break;
        case SimNotice::SoundOff: sim_->SoundSwitch(false); state_.soundOn = false; NoteStateChange("sound off"); break;
        case SimNotice::SoundOn: sim_->SoundSwitch(true); state_.soundOn = true; NoteStateChange("sound on"); break;
        case SimNotice::View:
            sim_->View(view);
            state_.view = view;
            NoteStateChange("view " + std::to_string(view));
            break;
    }
}

void Session::Slew(bool on) {
    sim_->SetSlew(on);
    state_.slewing = on;
    NoteStateChange(on ? "slew on" : "slew off");
}

void Session::PressTest(TestSwitch test, double value) {
    const char* variable = test == TestSwitch::OilQuantity ? kOilQtyTestVariable : kVibrationTestVariable;
    SetVariable(variable, value);
    report_.tests.push_back({nextUpdateTime(), test == TestSwitch::OilQuantity ? "oil quantity" : "vibration", variable,
                             value, std::nullopt});
    openTests_.push_back({report_.tests.size() - 1, variable});
}

void Session::Reload() {
    std::vector<std::pair<LoadedModule*, std::string>> placed;
    for (const auto& gauge : sim_->gauges()) placed.emplace_back(gauge->module, gauge->name);
    while (!sim_->gauges().empty()) sim_->RemoveGauge(sim_->gauges().back().get());
    gauges_.clear();
    for (const auto& [module, name] : placed) gauges_.push_back(sim_->PlaceGauge(module, name));
    NoteStateChange("panel reload");
}

bool Session::ReloadSoundModule(std::string* error) {
    LoadedModule* sound = nullptr;
    for (const auto& module : sim_->modules()) {
        if (module->FindGauge(kSoundGaugeName) != nullptr) sound = module.get();
    }
    if (sound == nullptr) {
        *error = "no sound module is loaded";
        return false;
    }
    const std::string path = sound->path();
    std::vector<std::pair<size_t, std::string>> places;  // the sound module's gauges in the panel
    for (size_t i = 0; i < gauges_.size(); ++i) {
        if (gauges_[i] != nullptr && gauges_[i]->module == sound) places.emplace_back(i, gauges_[i]->name);
    }

    // Out: its gauges get their pre-kill, the module its stop routine. What
    // it did on the way belongs to the old items, and is settled with them.
    sim_->UnloadModule(sound);
    for (const auto& [index, name] : places) gauges_[index] = nullptr;
    ProcessTexts(false);
    PollBuffers();
    for (const auto& [key, index] : pendingCommand_) {
        CommandRecord& command = report_.commands[index];
        command.outcome = CommandOutcome::Discarded;
        command.resolvedAt = nextUpdateTime();
        command.result = "discarded: the sound module was reloaded before it took it";
    }
    pendingCommand_.clear();
    bufferTarget_.clear();
    stopCause_.clear();
    framesSeen_.clear();

    // The folder as it is now: new files linked in, and the module's own
    // reader run again.
    std::string why;
    const bool linked = soundFolder_.empty() || LinkSoundFolder(&why);
    ReadFolder();

    // In again, its gauges where they were. The simulator's state is told
    // to the new module as it is, so that a paused panel stays silent.
    LoadedModule* reloaded = sim_->LoadModule(path, error);
    if (reloaded == nullptr) return false;
    for (const auto& [index, name] : places) gauges_[index] = sim_->PlaceGauge(reloaded, name);
    if (state_.paused) sim_->Pause(true);
    if (!state_.running) sim_->SimStop();
    if (!state_.soundOn) sim_->SoundSwitch(false);
    if (state_.view != 0) sim_->View(state_.view);
    NoteStateChange("sound module reload");
    ProcessTexts(false);
    PollBuffers();
    if (!linked) {
        *error = why;
        return false;
    }
    return true;
}

std::vector<ItemSound> Session::ItemSounds() const {
    std::vector<ItemSound> sounds(targets_.size());
    std::vector<TwSoundBufferInfo> live(TwSoundListBuffers(nullptr, 0));
    live.resize(TwSoundListBuffers(live.data(), live.size()));
    std::vector<bool> claimed(live.size(), false);
    auto take = [&](size_t target, size_t buffer) {
        const TwSoundBufferInfo& info = live[buffer];
        claimed[buffer] = true;
        sounds[target] = {true, info.playing != FALSE, info.playing != FALSE && info.looping != FALSE,
                          static_cast<int32_t>(info.volume), static_cast<int32_t>(info.pan), info.id};
    };
    // The buffers the item's commands used (the newest, should there be
    // more: a reload makes them again).
    for (size_t b = 0; b < live.size(); ++b) {
        const auto known = bufferTarget_.find(live[b].id);
        if (known != bufferTarget_.end()) take(static_cast<size_t>(known->second), b);
    }
    // The others by what they hold: the module makes its buffers in slot
    // order, each as large as its WAV file's sound and in its format.
    for (size_t t = 0; t < targets_.size(); ++t) {
        const SoundTarget& target = targets_[t];
        if (sounds[t].loaded || !target.slot || !target.wavProblem.empty()) continue;
        const CheckedWave* wave = nullptr;
        for (const CheckedItem& item : check_.items) {
            if (item.index != *target.slot) continue;
            for (const CheckedWave& w : check_.waves) {
                if (w.path == item.wavFile) wave = &w;
            }
        }
        if (wave == nullptr || !wave->format || !wave->dataSize) continue;
        for (size_t b = 0; b < live.size(); ++b) {
            const TwSoundBufferInfo& info = live[b];
            if (claimed[b] || info.bytes != *wave->dataSize || info.format.nChannels != wave->format->channels ||
                info.format.nSamplesPerSec != wave->format->samplesPerSecond ||
                info.format.wBitsPerSample != wave->format->bitsPerSample) {
                continue;
            }
            take(t, b);
            break;
        }
    }
    return sounds;
}

void Session::Step() {
    sim_->Update();
    std::vector<bool> transitions;
    ReadLog(&transitions);
    ProcessTexts(!transitions.empty());
    PollBuffers();
    PollTests();
    std::string causes;
    for (const std::string& change : stateChanges_) causes += (causes.empty() ? "" : ", ") + change;
    for (bool enabled : transitions) report_.transitions.push_back({now(), enabled, causes});
    stateChanges_.clear();
    report_.end = now();
    report_.updates = sim_->updates();
}

void Session::ReadLog(std::vector<bool>* transitions) {
    std::ifstream in(logPath(), std::ios::binary);
    if (!in) return;
    in.seekg(0, std::ios::end);
    const auto size = static_cast<uint64_t>(in.tellg());
    if (size <= logOffset_) {
        logOffset_ = std::min(logOffset_, size);
        return;
    }
    in.seekg(static_cast<std::streamoff>(logOffset_));
    std::string text(size - logOffset_, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    logOffset_ += text.size();
    // The module's messages 16 and 17 are one line each.
    static const std::string disabled = LogCatalogueLines(16);
    static const std::string enabled = LogCatalogueLines(17);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == disabled) transitions->push_back(false);
        if (line == enabled) transitions->push_back(true);
    }
}

void Session::ProcessTexts(bool transition) {
    const size_t callCount = TwSoundCallCount();
    const VariableStore& store = sim_->variables();
    lastVariables_.clear();
    stopCause_.clear();
    std::map<std::string, size_t> sampleOf;

    struct Window {
        bool played = false;
        std::string playFailure;    // the result of a refused Play
        std::string volume, pan;    // last set
        std::string registerWrite;  // a read command's answer
    };
    std::map<int, Window> windows;
    struct Write {
        std::string key;
        double value;
    };
    std::vector<Write> writes;
    std::vector<std::string> itemReads;
    int item = -1;  // the item whose command the module is running
    bool inMaster = false;

    for (size_t i = 0; i < texts_.size(); ++i) {
        const std::string& text = texts_[i].text;
        if (const auto access = DescribeCalculatorCode(text)) {
            const std::string& key = access->name.key;
            const std::string& spelling = spelling_.emplace(key, Spelled(text)).first->second;
            auto [at, added] = sampleOf.emplace(key, lastVariables_.size());
            if (added) lastVariables_.push_back({spelling, std::nullopt, false, false});
            VariableSample& sample = lastVariables_[at->second];
            (access->write ? sample.written : sample.read) = true;
            if (!access->write) {
                if (!masterKey_.empty() && key == masterKey_) {
                    inMaster = true;
                    item = -1;
                } else if (const int t = TargetOfKey(key); t >= 0) {
                    item = t;
                    inMaster = false;
                    itemReads.push_back(key);
                }
            } else {
                writes.push_back({key, access->value});
                if (item >= 0 && TargetOfKey(key) < 0 && key != masterKey_) {
                    char value[32];
                    std::snprintf(value, sizeof value, "%g", access->value);
                    windows[item].registerWrite = std::string(value) + " into " + spelling;
                }
            }
        }
        const size_t from = texts_[i].soundCall;
        const size_t to = i + 1 < texts_.size() ? texts_[i + 1].soundCall : callCount;
        for (size_t c = from; c < to; ++c) {
            const auto call = ParseSoundCall(TwSoundCall(c));
            if (!call) continue;
            if (item >= 0) {
                bufferTarget_[call->buffer] = item;
                Window& window = windows[item];
                if (call->method == "Play") {
                    if (call->result == "0") {
                        window.played = true;
                    } else {
                        window.playFailure = call->result;
                    }
                }
                if (call->method == "SetVolume") window.volume = call->arguments;
                if (call->method == "SetPan") window.pan = call->arguments;
            }
            if (call->method == "Stop") {
                stopCause_[call->buffer] = transition  ? "enable-state change"
                                           : inMaster  ? "stop all"
                                           : item >= 0 ? "stop command"
                                                       : "stopped";
            }
        }
    }
    for (const auto& [key, index] : sampleOf) {
        if (const auto found = store.All().find(key); found != store.All().end()) {
            lastVariables_[index].value = found->second.value;
        } else if (key[0] == 'L') {
            lastVariables_[index].value = 0.0;  // locals read 0 until written
        }
    }

    // What became of the commands waiting in the variables written.
    const double time = now();
    for (const Write& write : writes) {
        const auto pending = pendingCommand_.find(write.key);
        if (pending == pendingCommand_.end()) continue;
        const bool master = write.key == masterKey_;
        if (write.value != (master ? 0.0 : -1.0)) continue;
        CommandRecord& command = report_.commands[pending->second];
        pendingCommand_.erase(pending);
        command.resolvedAt = time;
        const std::string what = command.target + " " + command.meaning + " at " + Seconds(command.time);
        if (transition) {
            command.outcome = CommandOutcome::Discarded;
            command.result = "discarded: the enable state changed, which resets every command";
            AddFinding(command.time, "discarded",
                       what + " was discarded, not run: the sound module's enable state changed at " + Seconds(time) +
                           " and every command was reset");
            continue;
        }
        command.outcome = CommandOutcome::Acknowledged;
        if (master) {
            if (command.value >= 1 && command.value <= 3) {
                command.result = command.meaning;
            } else {
                command.result = "nothing: not a master command";
                AddFinding(command.time, "ignored-value",
                           "master value " + std::to_string(command.value) + " at " + Seconds(command.time) +
                               " is not a master command (1 stop all, 2 silence all, 3 restore all): the module wrote 0 "
                               "back and did nothing");
            }
            continue;
        }
        const int t = TargetOfKey(write.key);
        const Window window = t >= 0 && windows.count(t) ? windows[t] : Window{};
        const SoundTarget* target = t >= 0 ? &targets_[static_cast<size_t>(t)] : nullptr;
        if (IsPlay(command.value)) {
            if (window.played) {
                command.result = "played";
            } else if (!window.playFailure.empty()) {
                command.result = "the device refused to play it";
                AddFinding(command.time, "play-failed", what + ": the sound device refused to play it (" + window.playFailure + ")");
            } else if (target != nullptr && !target->wavProblem.empty()) {
                command.result = "played nothing: its WAV file did not load";
                AddFinding(command.time, "wav-not-loaded",
                           what + " played nothing: its WAV file " + target->wavName + " did not load (" +
                               target->wavProblem + ")");
            } else {
                command.result = "played nothing: no sound buffer";
                AddFinding(command.time, "wav-not-loaded",
                           what + " played nothing: the module holds no sound buffer for it");
            }
        } else if (command.value == 0) {
            command.result = "stopped";
        } else if (command.value == 3) {
            command.result = window.volume.empty() ? "no buffer to set" : "volume " + window.volume;
        } else if (command.value == 5) {
            command.result = window.pan.empty() ? "no buffer to set" : "pan " + window.pan;
        } else {
            command.result = window.registerWrite.empty() ? "read" : "wrote " + window.registerWrite;
        }
    }
    // A value the module read and left where it was: it is not a command.
    for (const std::string& key : itemReads) {
        const auto pending = pendingCommand_.find(key);
        if (pending == pendingCommand_.end()) continue;
        CommandRecord& command = report_.commands[pending->second];
        if ((command.value >= 0 && command.value <= 8) || !command.result.empty()) continue;
        command.result = "ignored by the module";
        AddFinding(command.time, "ignored-value",
                   command.target + " " + std::to_string(command.value) + " at " + Seconds(command.time) +
                       " is not a command the module knows (0 to 8): " +
                       (command.value < 0 ? std::string("negative values are the idle state, and nothing is done")
                                          : std::string("it does nothing and leaves the value in the variable, "
                                                        "so the command is never acknowledged")));
    }
    texts_.clear();
    TwSoundClearCalls();
}

void Session::PollBuffers() {
    std::vector<TwSoundBufferInfo> live(TwSoundListBuffers(nullptr, 0));
    live.resize(TwSoundListBuffers(live.data(), live.size()));
    const double time = now();

    auto describe = [&](uint32_t id, SoundPlay& play) {
        const auto known = bufferTarget_.find(id);
        if (known == bufferTarget_.end()) {
            play.sound = "buffer " + std::to_string(id);
            return;
        }
        const SoundTarget& target = targets_[static_cast<size_t>(known->second)];
        play.sound = target.name;
        play.slot = target.slot;
        play.wavName = target.wavName;
    };
    auto seconds = [](uint64_t frames, uint32_t rate) { return rate == 0 ? 0.0 : static_cast<double>(frames) / rate; };

    for (auto it = playing_.begin(); it != playing_.end();) {
        const uint32_t id = it->first;
        OpenPlay& open = it->second;
        SoundPlay& play = report_.plays[open.play];
        TwSoundBufferInfo info{};
        const bool have = TwSoundGetBuffer(id, &info) != FALSE;
        const bool gone = !have || info.released || info.dead;
        if (gone || !info.playing) {
            play.end = play.start + seconds(have ? info.framesPlayed - open.startFrames : 0, open.rate);
            const auto cause = stopCause_.find(id);
            play.endedBy = gone ? "pre-kill" : cause != stopCause_.end() ? cause->second : "its end";
            if (have) framesSeen_[id] = info.framesPlayed;  // not a new play below
            it = playing_.erase(it);
            continue;
        }
        const PlayChange current = play.changes.empty() ? PlayChange{play.start, play.volume, play.pan, play.looped}
                                                        : play.changes.back();
        const bool looped = info.looping != FALSE;
        if (info.volume != current.volume || info.pan != current.pan || looped != current.looped) {
            play.changes.push_back({time, static_cast<int32_t>(info.volume), static_cast<int32_t>(info.pan), looped});
        }
        ++it;
    }

    for (const TwSoundBufferInfo& info : live) {
        const auto seen = framesSeen_.find(info.id);
        const uint64_t before = seen == framesSeen_.end() ? 0 : seen->second;
        framesSeen_[info.id] = info.framesPlayed;
        if (playing_.count(info.id) != 0) continue;
        // Started in this update; or shorter than an update and already over.
        if (!info.playing && info.framesPlayed == before) continue;
        SoundPlay play;
        describe(info.id, play);
        play.start = time;
        play.looped = info.looping != FALSE;
        play.volume = static_cast<int32_t>(info.volume);
        play.pan = static_cast<int32_t>(info.pan);
        const uint32_t rate = info.format.nSamplesPerSec;
        if (play.volume <= -10000) {
            AddFinding(time, "silent-play",
                       play.sound + " started at " + Seconds(time) + " at volume " + std::to_string(play.volume) +
                           ", which cannot be heard");
        }
        if (!info.playing) {
            play.end = time + seconds(info.framesPlayed - before, rate);
            play.endedBy = "its end";
            report_.plays.push_back(std::move(play));
            continue;
        }
        playing_[info.id] = {report_.plays.size(), before, rate};
        report_.plays.push_back(std::move(play));
    }
}

void Session::PollTests() {
    for (auto it = openTests_.begin(); it != openTests_.end();) {
        if (Variable(it->variable) == 1.0) {
            report_.tests[it->run].returnedAt = now();
            it = openTests_.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<int16_t> Session::TakeAudio() {
    std::vector<int16_t> audio;
    if (!audioTaken_) {
        // The host mixes after each update the sound of the next 1/18 s, so
        // the first update's sound starts at its time, not at 0: the stretch
        // before it is silence, and with it the sound keeps simulated time
        // (a sound started by the update at 1 s starts 1 s in).
        audioTaken_ = true;
        audio.assign(2 * static_cast<size_t>(sim_->audioRate() / kUpdatesPerSecond), 0);
    }
    audio.insert(audio.end(), sim_->audio().begin(), sim_->audio().end());
    sim_->ClearAudio();
    return audio;
}

std::vector<std::string> Session::PlayingNow() const {
    std::vector<std::string> names;
    for (const auto& [id, open] : playing_) {
        const SoundPlay& play = report_.plays[open.play];
        const bool looped = play.changes.empty() ? play.looped : play.changes.back().looped;
        names.push_back(play.sound + (looped ? " (looped)" : ""));
    }
    return names;
}

void Session::Finish() {
    if (finished_) return;
    finished_ = true;
    const double end = now();
    for (const auto& [id, open] : playing_) {
        SoundPlay& play = report_.plays[open.play];
        TwSoundBufferInfo info{};
        const uint64_t frames = TwSoundGetBuffer(id, &info) ? info.framesPlayed - open.startFrames : 0;
        play.end = open.rate == 0 ? end : play.start + static_cast<double>(frames) / open.rate;
        play.endedBy = "end of run";
    }
    playing_.clear();

    bool enabled = true;
    double disabledSince = 0.0;
    std::string disabledBy;
    for (const EnableTransition& t : report_.transitions) {
        enabled = t.enabled;
        if (!enabled) disabledSince = t.time, disabledBy = t.causes;
    }
    const bool soundGauge = std::any_of(gauges_.begin(), gauges_.end(), [](const PlacedGauge* g) {
        return g != nullptr && strcasecmp(g->name.c_str(), kSoundGaugeName) == 0;
    });
    for (const auto& [key, index] : pendingCommand_) {
        CommandRecord& command = report_.commands[index];
        const std::string what = command.target + " " + command.meaning + " (" + std::to_string(command.value) + ") at " +
                                 Seconds(command.time);
        const int t = TargetOfKey(key);
        const SoundTarget* target = t >= 0 ? &targets_[static_cast<size_t>(t)] : nullptr;
        if (!soundGauge) {
            command.result = "no sound gauge on the panel";
            AddFinding(command.time, "never-acknowledged",
                       what + " was never acknowledged: the tw_sound gauge is not on the panel, so nothing runs the sound module");
        } else if (target != nullptr && !target->slot) {
            command.result = "nothing reads the variable";
            AddFinding(command.time, "not-an-item",
                       what + " was never acknowledged: the sound module has no item " + target->name + " (line " +
                           std::to_string(target->line) + " of twsound.cfg was dropped: " + target->dropReason + ")");
        } else if (command.target != "master" && (command.value < 0 || command.value > 8)) {
            if (command.result.empty()) {  // written after the module's last read
                command.result = "ignored by the module";
                AddFinding(command.time, "ignored-value",
                           what + " was never acknowledged: the module ignores " +
                               (command.value < 0 ? std::string("negative values (the idle state)")
                                                  : std::string("values above 8; the value stays in the variable")));
            }
        } else if (!enabled) {
            command.result = "never taken: sounds disabled";
            AddFinding(command.time, "never-acknowledged",
                       what + " was never acknowledged: sounds were disabled from " + Seconds(disabledSince) +
                           (disabledBy.empty() ? "" : " (" + disabledBy + ")") + " to the end of the run");
        } else {
            command.result = "never taken";
            AddFinding(command.time, "never-acknowledged",
                       what + " was never acknowledged: the run ended before the module took it");
        }
    }
    pendingCommand_.clear();

    for (const OpenTest& open : openTests_) {
        const TestRun& run = report_.tests[open.run];
        const bool oil = open.variable == kOilQtyTestVariable;
        const char* owner = oil ? "EngOilQty1" : "EngVib1";
        const bool placed = std::any_of(gauges_.begin(), gauges_.end(), [&](const PlacedGauge* g) {
            return g != nullptr && strcasecmp(g->name.c_str(), owner) == 0;
        });
        char value[32];
        std::snprintf(value, sizeof value, "%g", Variable(open.variable).value_or(0.0));
        AddFinding(run.time, "test-not-reset",
                   "the " + run.test + " test at " + Seconds(run.time) + " never ended: " + open.variable + " stayed at " +
                       value + (placed ? std::string(" (the run ended within its second)")
                                       : std::string(": only ") + owner + " starts and ends the test, and it is not on the panel"));
    }
    openTests_.clear();
    std::stable_sort(report_.findings.begin(), report_.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.time < b.time; });
    report_.end = end;
    report_.updates = sim_->updates();
}

void Session::SurfaceDeleter::operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }

RenderedGauge Session::RenderPanel(double scale) const {
    images_.resize(gauges_.size());
    struct Shown {
        cairo_surface_t* surface;
        int width, height;
    };
    std::vector<Shown> shown;
    for (size_t i = 0; i < gauges_.size(); ++i) {
        const PlacedGauge* gauge = gauges_[i];
        if (gauge == nullptr || !gauge->module->HasBitmapTable()) continue;
        std::vector<std::optional<double>> angles;
        for (const NeedleState& needle : gauge->needles) {
            angles.push_back(needle.shown ? std::optional<double>(needle.angle) : std::nullopt);
        }
        GaugeImage& cached = images_[i];
        if (cached.gauge != gauge || cached.scale != scale || cached.angles != angles) {
            const RenderedGauge image = RenderGauge(
                *gauge->header, [&](uint32_t id) { return gauge->module->Bitmap(id); },
                [&](const ElementHeader* element) { return gauge->AngleOf(element); }, scale);
            cached.gauge = gauge;
            cached.scale = scale;
            cached.angles = std::move(angles);
            cached.width = image.width;
            cached.height = image.height;
            // A gauge drawn smaller than this shows nothing (the sound gauge's one pixel).
            cached.surface.reset(image.width < 8 || image.height < 8 ? nullptr : SurfaceOf(image));
        }
        if (cached.surface) shown.push_back({cached.surface.get(), cached.width, cached.height});
    }
    const int margin = static_cast<int>(std::lround(8 * scale));
    const int strip = static_cast<int>(std::lround(18 * scale));
    int cellW = 0, cellH = 0;
    for (const Shown& image : shown) cellW = std::max(cellW, image.width), cellH = std::max(cellH, image.height);
    const int columns = std::max(1, std::min<int>(4, static_cast<int>(shown.size())));
    const int rows = (static_cast<int>(shown.size()) + columns - 1) / columns;
    RenderedGauge panel;
    panel.width = std::max(columns * (cellW + margin) + margin, static_cast<int>(std::lround(320 * scale)));
    panel.height = strip + rows * (cellH + margin) + margin;
    // Even sizes: video encoders halve the colour planes.
    panel.width += panel.width % 2;
    panel.height += panel.height % 2;

    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, panel.width, panel.height);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 58 / 255.0, 62 / 255.0, 66 / 255.0);  // panel paint
    cairo_paint(cr);
    for (size_t i = 0; i < shown.size(); ++i) {
        const int x = margin + static_cast<int>(i % columns) * (cellW + margin);
        const int y = strip + margin + static_cast<int>(i / columns) * (cellH + margin);
        cairo_set_source_surface(cr, shown[i].surface, x, y);
        cairo_paint(cr);
    }

    // The strip: time, the simulator's state, the sounds playing.
    char time[32];
    std::snprintf(time, sizeof time, "%.2f s", now());
    std::string status;
    if (state_.paused) status += "paused  ";
    if (!state_.running) status += "sim stopped  ";
    if (state_.slewing) status += "slewing  ";
    if (!state_.soundOn) status += "sound off  ";
    std::string playing;
    for (const std::string& name : PlayingNow()) playing += (playing.empty() ? "playing: " : ", ") + name;
    if (!font_) font_.reset(PanelFont());
    if (!font_) {  // no font: the strip stays without its text
        cairo_destroy(cr);
        cr = nullptr;
    } else {
        cairo_set_font_face(cr, font_.get());
        cairo_set_font_size(cr, 10 * scale);
    }
    if (cr != nullptr) {
        const double baseline = strip - 4 * scale;
        cairo_set_source_rgb(cr, 0.92, 0.92, 0.92);
        cairo_move_to(cr, margin, baseline);
        cairo_show_text(cr, time);
        cairo_set_source_rgb(cr, 1.0, 0.75, 0.3);
        cairo_move_to(cr, margin + 58 * scale, baseline);
        cairo_show_text(cr, status.c_str());
        cairo_text_extents_t extents;
        cairo_text_extents(cr, status.c_str(), &extents);
        cairo_set_source_rgb(cr, 0.6, 0.85, 1.0);
        cairo_move_to(cr, margin + 58 * scale + extents.x_advance, baseline);
        cairo_show_text(cr, playing.c_str());
        cairo_destroy(cr);
    }

    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    panel.rgba.resize(static_cast<size_t>(panel.width) * panel.height * 4);
    for (int y = 0; y < panel.height; ++y) {
        for (int x = 0; x < panel.width; ++x) {
            uint32_t v;
            std::memcpy(&v, data + static_cast<size_t>(y) * stride + x * 4, 4);
            uint8_t* px = &panel.rgba[(static_cast<size_t>(y) * panel.width + x) * 4];
            px[0] = static_cast<uint8_t>(v >> 16), px[1] = static_cast<uint8_t>(v >> 8), px[2] = static_cast<uint8_t>(v);
            px[3] = 255;  // painted all over: opaque
        }
    }
    cairo_surface_destroy(surface);
    return panel;
}
