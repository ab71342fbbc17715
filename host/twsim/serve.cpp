#include "serve.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <native_path.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <limits>
#include <nlohmann/json.hpp>
#include <ostream>

#include "page_files.h"
#include "run.h"
#include "variables.h"

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

constexpr size_t kMaxBody = 16 * 1024;    // a command is a few dozen bytes
constexpr int kMaxStreams = 8;            // event and audio streams at once: four pages
constexpr size_t kWorkers = 16;           // each stream holds one
constexpr auto kStreamQuiet = std::chrono::seconds(10);  // a stream with nothing new says it is alive

// A request that cannot be carried out as it is: its status and why.
struct Refusal {
    int status;
    std::string message;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool IsApi(const httplib::Request& req) { return req.path.rfind("/api/", 0) == 0; }

void Answer(httplib::Response& res, int status, const std::string& message, bool asJson) {
    res.status = status;
    if (asJson) {
        res.set_content(json{{"error", message}}.dump(-1, ' ', false, json::error_handler_t::replace) + "\n",
                        "application/json");
    } else {
        res.set_content(message + "\n", "text/plain; charset=utf-8");
    }
}

// The body of a POST as a JSON object.
json Body(const httplib::Request& req) {
    const std::string type = Lower(req.get_header_value("Content-Type"));
    if (type.rfind("application/json", 0) != 0) {
        throw Refusal{415, "send the request as JSON, with Content-Type: application/json"};
    }
    json body;
    try {
        body = json::parse(req.body.empty() ? std::string("{}") : req.body);
    } catch (const json::parse_error& e) {
        throw Refusal{400, std::string("the request is not JSON: ") + e.what()};
    }
    if (!body.is_object()) throw Refusal{400, "the request must be a JSON object, {...}"};
    return body;
}

const json* Field(const json& body, const char* key, bool required) {
    const auto found = body.find(key);
    if (found == body.end() || found->is_null()) {
        if (required) throw Refusal{400, std::string("\"") + key + "\" is missing"};
        return nullptr;
    }
    return &*found;
}

std::optional<int32_t> WholeNumber(const json& body, const char* key, bool required) {
    const json* value = Field(body, key, required);
    if (value == nullptr) return std::nullopt;
    const auto bad = [&] {
        return Refusal{400, std::string("\"") + key + "\" must be a whole number from -2147483648 to 2147483647, not " +
                                value->dump(-1, ' ', false, json::error_handler_t::replace)};
    };
    if (!value->is_number()) throw bad();
    const double number = value->get<double>();
    if (!std::isfinite(number) || number != std::floor(number) || number < std::numeric_limits<int32_t>::min() ||
        number > std::numeric_limits<int32_t>::max()) {
        throw bad();
    }
    return static_cast<int32_t>(number);
}

std::optional<double> FiniteNumber(const json& body, const char* key, bool required) {
    const json* value = Field(body, key, required);
    if (value == nullptr) return std::nullopt;
    if (!value->is_number() || !std::isfinite(value->get<double>())) {
        throw Refusal{400, std::string("\"") + key + "\" must be a number, not " +
                               value->dump(-1, ' ', false, json::error_handler_t::replace)};
    }
    return value->get<double>();
}

std::string Text(const json& body, const char* key) {
    const json* value = Field(body, key, true);
    if (!value->is_string()) throw Refusal{400, std::string("\"") + key + "\" must be a text"};
    return value->get<std::string>();
}

void Reply(httplib::Response& res, const ActionResult& result) {
    if (result.status >= 400) {
        Answer(res, result.status, result.message, true);
        return;
    }
    res.status = result.status;
    res.set_content(json{{"ok", true}, {"update", result.update}, {"message", result.message}}.dump(
                        -1, ' ', false, json::error_handler_t::replace) +
                        "\n",
                    "application/json");
}

// A handler whose refusals and failures become answers: nothing a request
// does reaches past it.
httplib::Server::Handler Guarded(std::function<void(const httplib::Request&, httplib::Response&)> handler) {
    return [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
        try {
            handler(req, res);
        } catch (const Refusal& refusal) {
            Answer(res, refusal.status, refusal.message, true);
        } catch (const std::exception& e) {
            Answer(res, 500, std::string("the server could not do it: ") + e.what(), true);
        }
    };
}

std::optional<SimNotice> NoticeNamed(const std::string& name) {
    static const std::pair<const char*, SimNotice> kNotices[] = {
        {"pause", SimNotice::Pause},       {"unpause", SimNotice::Unpause},   {"simstop", SimNotice::SimStop},
        {"simstart", SimNotice::SimStart}, {"sound_off", SimNotice::SoundOff}, {"sound_on", SimNotice::SoundOn},
        {"view", SimNotice::View}};
    for (const auto& [known, notice] : kNotices) {
        if (name == known) return notice;
    }
    return std::nullopt;
}

const char* ContentTypeOf(const fs::path& path) {
    const std::string extension = Lower(path.extension().string());
    if (extension == ".wav") return "audio/wav";
    if (extension == ".cfg" || extension == ".txt" || extension == ".ini") return "text/plain; charset=windows-1252";
    return "application/octet-stream";
}

// The Host names that reach a server bound to `address`, as they appear in
// a URL: loopback servers answer to "localhost" too.
std::vector<std::string> HostNames(const std::string& address, std::string* inUrl, std::string* error) {
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) {
        if (v4.s_addr == htonl(INADDR_ANY)) {
            *error = "--address 0.0.0.0 would answer every network: give the address of one interface";
            return {};
        }
        *inUrl = address;
        if ((ntohl(v4.s_addr) >> 24) == 127) return {address, "localhost"};
        return {address};
    }
    if (inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_UNSPECIFIED(&v6)) {
            *error = "--address :: would answer every network: give the address of one interface";
            return {};
        }
        *inUrl = "[" + Lower(address) + "]";
        if (IN6_IS_ADDR_LOOPBACK(&v6)) return {*inUrl, "localhost"};
        return {*inUrl};
    }
    *error = "--address " + address + " is not an IP address (127.0.0.1, the default, answers this machine only)";
    return {};
}

double Rounded(double value, int digits) {
    const double scale = std::pow(10.0, digits);
    return std::round(value * scale) / scale;
}

}  // namespace

std::unique_ptr<ServeServer> ServeServer::Start(const ServeOptions& options, std::string* error) {
    std::unique_ptr<ServeServer> server(new ServeServer);
    server->options_ = options;
    if (options.port < 0 || options.port > 65535) {
        *error = "--port must lie between 1 and 65535 (0: any free port)";
        return nullptr;
    }
    const std::vector<std::string> names = HostNames(options.address, &server->hostName_, error);
    if (names.empty()) return nullptr;
    std::error_code ec;
    if (!options.soundFolder.empty() && !fs::is_directory(options.soundFolder, ec)) {
        *error = "the sound folder " + options.soundFolder + " is not a folder";
        return nullptr;
    }

    LiveOptions live;
    live.setup.soundFolder = options.soundFolder;
    for (const std::string& name : options.modules) {
        std::vector<std::string> looked;
        const std::string path = FindModule(name, &looked);
        if (path.empty()) {
            std::string where;
            for (const std::string& folder : looked) where += (where.empty() ? "" : ", ") + folder;
            *error = "module " + name + " not found (looked in " + where + ")";
            return nullptr;
        }
        live.setup.modules.push_back(path);
    }

    server->panel_ = LivePanel::Start(live, error);
    if (!server->panel_) return nullptr;
    server->server_ = std::make_unique<httplib::Server>();
    httplib::Server& http = *server->server_;
    // The library's own options add SO_REUSEPORT, with which a second twsim
    // serve would quietly share the port: only SO_REUSEADDR, so that a
    // restart finds the port free at once.
    http.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    const int port = options.port == 0 ? http.bind_to_any_port(options.address) : options.port;
    if (port <= 0 || (options.port != 0 && !http.bind_to_port(options.address, options.port))) {
        *error = options.port == 0 ? "cannot listen on " + options.address + ": no free port"
                                   : "cannot listen on " + options.address + " port " + std::to_string(options.port) +
                                         ": it is in use (another twsim serve?) or not this machine's; give another with "
                                         "--port, or --port 0 for any free one";
        return nullptr;
    }
    server->port_ = port;
    for (const std::string& name : names) {
        server->hosts_.push_back(Lower(name) + ":" + std::to_string(port));
        if (port == 80) server->hosts_.push_back(Lower(name));
    }

    server->streams_ = std::make_shared<std::atomic<int>>(0);
    server->Routes();
    server->listener_ = std::thread([&http] { http.listen_after_bind(); });
    return server;
}

ServeServer::~ServeServer() { Stop(); }

void ServeServer::Stop() {
    if (stopped_) return;
    stopped_ = true;
    if (panel_) panel_->Stop();  // the streams end with it
    if (server_) server_->stop();
    if (listener_.joinable()) listener_.join();
}

std::string ServeServer::url() const { return "http://" + hostName_ + ":" + std::to_string(port_) + "/"; }

void ServeServer::Routes() {
    httplib::Server& http = *server_;
    LivePanel& panel = *panel_;
    http.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    http.set_payload_max_length(kMaxBody);
    http.set_keep_alive_timeout(2);
    // Sound and pictures go out as they are made, not when a packet is full.
    http.set_tcp_nodelay(true);
    http.set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Content-Security-Policy",
         "default-src 'self'; img-src 'self' data:; media-src 'self'; connect-src 'self'; frame-ancestors 'none'; "
         "base-uri 'none'; form-action 'none'"},
    });

    // Before anything else: only pages of this server may talk to it.
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const std::string host = Lower(req.get_header_value("Host"));
        const std::string own = url();
        if (std::find(hosts_.begin(), hosts_.end(), host) == hosts_.end()) {
            Answer(res, 403,
                   "this server answers only requests for " + own + " (this one was for \"" + req.get_header_value("Host") +
                       "\")",
                   IsApi(req));
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.has_header("Origin")) {
            const std::string origin = Lower(req.get_header_value("Origin"));
            const bool ours = origin.rfind("http://", 0) == 0 &&
                              std::find(hosts_.begin(), hosts_.end(), origin.substr(7)) != hosts_.end();
            if (!ours) {
                Answer(res, 403,
                       "requests from other web pages are refused (this one came from " + req.get_header_value("Origin") +
                           "); open " + own,
                       IsApi(req));
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        if (req.method != "GET" && req.method != "HEAD" && req.has_header("Sec-Fetch-Site")) {
            const std::string site = req.get_header_value("Sec-Fetch-Site");
            if (site != "same-origin" && site != "none") {
                Answer(res, 403, "requests from other web pages are refused (Sec-Fetch-Site: " + site + ")", IsApi(req));
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        std::string message;
        switch (res.status) {
            case 404: message = "nothing here: " + req.method + " " + req.path; break;
            case 413: message = "the request is too large (at most " + std::to_string(kMaxBody) + " bytes)"; break;
            case 400: message = "the request is malformed"; break;
            default: message = "HTTP status " + std::to_string(res.status); break;
        }
        Answer(res, res.status, message, IsApi(req));
    });
    http.set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr error) {
        std::string message = "the server could not answer";
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            message += std::string(": ") + e.what();
        } catch (...) {
        }
        Answer(res, 500, message, IsApi(req));
    });

    // The page.
    for (size_t i = 0; i < kPageFileCount; ++i) {
        const PageFile& file = kPageFiles[i];
        http.Get(file.path, [file](const httplib::Request&, httplib::Response& res) {
            res.set_content(reinterpret_cast<const char*>(file.data), file.size, file.type);
        });
    }
    http.Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });

    // The streams: each holds a worker while the page is open.
    auto openStream = [streams = streams_](httplib::Response& res) {
        if (streams->fetch_add(1) >= kMaxStreams) {
            streams->fetch_sub(1);
            Answer(res, 503, "too many pages are open on this panel (at most " + std::to_string(kMaxStreams / 2) + ")", false);
            return false;
        }
        return true;
    };
    http.Get("/events", [&panel, openStream, streams = streams_](const httplib::Request&, httplib::Response& res) {
        if (!openStream(res)) return;
        auto cursor = std::make_shared<EventCursor>();
        res.set_header("X-Accel-Buffering", "no");
        res.set_chunked_content_provider(
            "text/event-stream",
            [&panel, cursor](size_t, httplib::DataSink& sink) {
                std::optional<std::string> text = panel.NextEvents(cursor.get(), kStreamQuiet);
                if (!text) return false;  // the simulation ended
                if (text->empty()) *text = ": still here\n\n";
                return sink.write(text->data(), text->size());
            },
            [streams](bool) { streams->fetch_sub(1); });
    });
    http.Get("/audio", [&panel, openStream, streams = streams_](const httplib::Request&, httplib::Response& res) {
        if (!openStream(res)) return;
        auto next = std::make_shared<uint64_t>(panel.AudioNext());
        res.set_header("X-Audio-Rate", std::to_string(panel.audioRate()));
        res.set_header("X-Audio-Format", "s16le; channels=2");
        res.set_chunked_content_provider(
            "application/octet-stream",
            [&panel, next](size_t, httplib::DataSink& sink) {
                std::optional<std::string> bytes = panel.NextAudio(next.get(), kStreamQuiet);
                if (!bytes) return false;
                return bytes->empty() || sink.write(bytes->data(), bytes->size());
            },
            [streams](bool) { streams->fetch_sub(1); });
    });

    http.Get("/api/state", [&panel](const httplib::Request&, httplib::Response& res) {
        res.set_content(panel.StateJson(), "application/json");
    });
    http.Get("/api/folder", [&panel](const httplib::Request&, httplib::Response& res) {
        res.set_content(panel.FolderJson(), "application/json");
    });
    http.Get("/api/log", Guarded([&panel](const httplib::Request&, httplib::Response& res) {
        std::ifstream in(panel.logPath(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        res.set_content(text, "text/plain; charset=windows-1252");
    }));

    // A file of the sound folder, and never one outside it.
    http.Get(R"(/folder/(.+))", Guarded([&panel](const httplib::Request& req, httplib::Response& res) {
        const fs::path& folder = panel.soundFolder();
        if (folder.empty()) throw Refusal{404, "there is no sound folder: start twsim serve with --sound-folder DIR"};
        std::string relative = req.matches[1].str();
        std::replace(relative.begin(), relative.end(), '\\', '/');
        std::vector<std::string> parts;
        for (size_t start = 0; start <= relative.size();) {
            size_t end = relative.find('/', start);
            if (end == std::string::npos) end = relative.size();
            parts.push_back(relative.substr(start, end - start));
            start = end + 1;
        }
        for (const std::string& part : parts) {
            if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string::npos) {
                throw Refusal{400, "\"" + relative + "\" is not a path inside the sound folder"};
            }
        }
        // As the module would find it: without regard to case.
        const fs::path wanted = NativePath((folder / relative).string().c_str());
        std::error_code ec;
        const fs::path real = fs::canonical(wanted, ec);
        const fs::path root = fs::canonical(folder, ec);
        if (ec || real.empty()) throw Refusal{404, "there is no file " + relative + " in the sound folder"};
        const fs::path inside = real.lexically_relative(root);
        if (inside.empty() || *inside.begin() == "..") {
            throw Refusal{403, relative + " lies outside the sound folder (a link out of it), and is not served"};
        }
        if (!fs::is_regular_file(real, ec)) throw Refusal{404, relative + " is not a file"};
        const uintmax_t size = fs::file_size(real, ec);
        if (ec) throw Refusal{404, "cannot read " + relative + ": " + ec.message()};
        auto file = std::make_shared<std::ifstream>(real, std::ios::binary);
        if (!*file) throw Refusal{404, "cannot open " + relative};
        res.set_content_provider(static_cast<size_t>(size), ContentTypeOf(real),
                                 [file](size_t offset, size_t length, httplib::DataSink& sink) {
                                     char buffer[64 * 1024];
                                     file->seekg(static_cast<std::streamoff>(offset));
                                     file->read(buffer, static_cast<std::streamsize>(std::min(length, sizeof buffer)));
                                     const auto got = static_cast<size_t>(file->gcount());
                                     return got > 0 && sink.write(buffer, got);
                                 });
    }));

    // What the page asks of the simulation: checked here, carried out by
    // the simulation thread before its next update.
    http.Post("/api/command", Guarded([&panel](const httplib::Request& req, httplib::Response& res) {
        const json body = Body(req);
        const json* item = Field(body, "item", true);
        if (!item->is_string() && !item->is_number_integer()) {
            throw Refusal{400, "\"item\" must be a sound item's name or its index"};
        }
        const int32_t value = *WholeNumber(body, "value", true);
        const std::optional<int32_t> volume = WholeNumber(body, "volume", false);
        const std::optional<int32_t> pan = WholeNumber(body, "pan", false);
        const json which = *item;
        Reply(res, panel.Run([which, value, volume, pan](Session& session) -> ActionResult {
            const auto& targets = session.targets();
            std::optional<size_t> target;
            if (which.is_string()) {
                const std::string name = which.get<std::string>();
                for (size_t i = 0; i < targets.size() && !target; ++i) {
                    if (strcasecmp(targets[i].name.c_str(), name.c_str()) == 0) target = i;
                }
            } else {
                const auto index = which.get<int64_t>();
                for (size_t i = 0; i < targets.size() && !target; ++i) {
                    if (targets[i].slot && static_cast<int64_t>(*targets[i].slot) == index) target = i;
                }
            }
            if (!target) {
                std::string known;
                for (const SoundTarget& t : targets) known += (known.empty() ? "" : ", ") + t.name;
                return {404,
                        "no sound item " + which.dump(-1, ' ', false, json::error_handler_t::replace) + " in twsound.cfg" +
                            (known.empty() ? std::string(" (it has none)") : " (its items: " + known + ")"),
                        0};
            }
            std::string note;
            if (volume && session.volumeRegister().empty()) note += " twsound.cfg sets no buffervolwrite=, so the volume was not written.";
            if (pan && session.panRegister().empty()) note += " twsound.cfg sets no bufferpanwrite=, so the pan was not written.";
            session.Command(*target, value, volume, pan);
            return {200, "written " + std::to_string(value) + " into " + targets[*target].variable + "." + note, 0};
        }));
    }));
    http.Post("/api/master", Guarded([&panel](const httplib::Request& req, httplib::Response& res) {
        const int32_t value = *WholeNumber(Body(req), "value", true);
        Reply(res, panel.Run([value](Session& session) -> ActionResult {
            if (!session.Master(value)) {
                return {409, "twsound.cfg sets no mastercontroller=, so there is no master controller to write to", 0};
            }
            return {200, "written " + std::to_string(value) + " into " + session.masterVariable(), 0};
        }));
    }));
    http.Post("/api/notice", Guarded([&panel](const httplib::Request& req, httplib::Response& res) {
        const json body = Body(req);
        const std::string name = Text(body, "notice");
        const std::optional<SimNotice> notice = NoticeNamed(name);
        if (!notice) {
            throw Refusal{400, "\"notice\" must be one of pause, unpause, simstop, simstart, sound_off, sound_on, view (not " +
                                   name + ")"};
        }
        uint32_t view = 0;
        if (*notice == SimNotice::View) {
            const int32_t given = *WholeNumber(body, "view", true);
            if (given < 0) throw Refusal{400, "\"view\" must not be negative"};
            view = static_cast<uint32_t>(given);
        }
        Reply(res, panel.Run([notice, view, name](Session& session) -> ActionResult {
            session.Notice(*notice, view);
            return {200, name, 0};
        }));
    }));
    http.Post("/api/slew", Guarded([&panel](const httplib::Request& req, httplib::Response& res) {
        const json body = Body(req);
        const json* on = Field(body, "on", true);
        if (!on->is_boolean()) throw Refusal{400, "\"on\" must be true or false"};
        const bool slewing = on->get<bool>();
        Reply(res, panel.Run([slewing](Session& session) -> ActionResult {
            session.Slew(slewing);
            return {200, slewing ? "slew on" : "slew off", 0};
        }));
    }));
    http.Post("/api/test", Guarded([&panel](const httplib::Request& req, httplib::Response& res) {
        const json body = Body(req);
        const std::string name = Text(body, "test");
        if (name != "oil_quantity" && name != "vibration") {
            throw Refusal{400, "\"test\" must be oil_quantity or vibration (not " + name + ")"};
        }
        const double value = FiniteNumber(body, "value", false).value_or(2.0);
        const TestSwitch test = name == "oil_quantity" ? TestSwitch::OilQuantity : TestSwitch::Vibration;
        Reply(res, panel.Run([test, value, name](Session& session) -> ActionResult {
            session.PressTest(test, value);
            return {200, name + " test pressed", 0};
        }));
    }));
    http.Post("/api/variable", Guarded([&panel](const httplib::Request& req, httplib::Response& res) {
        const json body = Body(req);
        const std::string name = Text(body, "name");
        if (!ParseVariableName(name)) {
            throw Refusal{400, "\"" + name + "\" is not a variable name: write A:Name[:index][,unit] or L:Name[,unit]"};
        }
        const double value = *FiniteNumber(body, "value", true);
        Reply(res, panel.Run([name, value](Session& session) -> ActionResult {
            session.SetVariable(name, value);
            return {200, name + " set", 0};
        }));
    }));
    http.Post("/api/reload-panel", Guarded([&panel](const httplib::Request& req, httplib::Response& res) {
        Body(req);
        Reply(res, panel.Run([](Session& session) -> ActionResult {
            session.Reload();
            return {200, "the panel was closed and opened again", 0};
        }));
    }));
    http.Post("/api/reload-folder", Guarded([&panel](const httplib::Request& req, httplib::Response& res) {
        Body(req);
        Reply(res, panel.ReloadFolder());
    }));
}

int RunServe(const ServeOptions& options, std::ostream& out, std::ostream& err) {
    // The signals are taken by this thread alone, with sigwait: every thread
    // started from here on inherits the mask.
    sigset_t signals, previous;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, &previous);

    std::string why;
    std::unique_ptr<ServeServer> server = ServeServer::Start(options, &why);
    if (!server) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        err << "twsim serve: " << why << "\n";
        return 2;
    }
    out << "twsim serve: " << server->url() << "\n";
    const std::string folder = server->panel().soundFolder().string();
    out << "  sound folder: " << (folder.empty() ? std::string("none (give one with --sound-folder DIR)") : folder) << "\n";
    out << "  open the address in a browser; Ctrl-C ends it\n";
    out.flush();

    int signal = 0;
    sigwait(&signals, &signal);
    const LiveStats stats = server->panel().Stats();
    server->Stop();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    out << "twsim serve: ended (" << (signal == SIGINT ? "interrupted" : "terminated") << ") after " << std::fixed
        << std::setprecision(1) << stats.seconds << " s: " << stats.updates << " updates, "
        << std::setprecision(2) << stats.heldRate << " a second (the simulator's 18); an update started at most " << std::setprecision(1) << stats.maxLateMs
        << " ms late (" << stats.lateUpdates << " more than 10 ms late, " << stats.resyncs
        << " stalls), took " << std::setprecision(2) << stats.workMs << " ms on average (at most " << Rounded(stats.maxWorkMs, 1)
        << " ms); CPU " << std::setprecision(1) << stats.totalCpuPercent << " % of one core\n";
    out.flush();
    return 0;
}
