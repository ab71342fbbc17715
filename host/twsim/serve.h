// `twsim serve`: the live panel in a browser. Both modules run in a session
// stepped at 18 updates a second of real time (LivePanel); a small web
// server on this machine gives the page that shows it and takes what the
// page asks for.
//
//   GET  /                  the page (with /app.js and /style.css; all built into the program)
//   GET  /events            server-sent events: "folder", "gauge" (a picture as a data URL),
//                           "log" (new lines of the sound module's log) and "state", after every update
//   GET  /audio             the mixer's sound as it is made: 16-bit little-endian stereo at
//                           the rate in X-Audio-Rate, one update's worth after every update
//   GET  /api/state         the latest state document; /api/folder the folder's
//   GET  /api/log           the sound module's whole log of this session
//   GET  /folder/<path>     a file of the sound folder (a WAV file, twsound.cfg), nothing outside it
//   POST /api/command       {"item": name or index, "value": n, "volume": n, "pan": n}
//   POST /api/master        {"value": n}
//   POST /api/notice        {"notice": "pause" | "unpause" | "simstop" | "simstart" | "sound_off" |
//                           "sound_on" | "view", "view": n}
//   POST /api/slew          {"on": true | false}
//   POST /api/test          {"test": "oil_quantity" | "vibration", "value": n}
//   POST /api/variable      {"name": "A:Eng Oil Pressure:1,psi", "value": n}
//   POST /api/reload-panel  {}
//   POST /api/reload-folder {}
//
// It is a tool on the builder's own machine, and any web page the builder
// opens could try to reach it: it listens on 127.0.0.1 unless told
// otherwise, answers only requests that name it as their host (no DNS
// rebinding), refuses every request a page of another origin sends, and takes
// commands only as JSON. Bad requests get a 4xx status and a message that
// says what is wrong; nothing a request holds reaches the simulation
// unchecked.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <thread>

#include "live_panel.h"

namespace httplib {
class Server;
}

struct ServeOptions {
    std::string soundFolder;         // empty: no sounds
    std::string address = "127.0.0.1";
    int port = 8018;                 // 0: any free port
    std::vector<std::string> modules = {"tw_hx8", "tw_sound"};  // names beside twsim, or paths
};

class ServeServer {
public:
    // Checks the options, opens the session, binds the port and starts
    // answering. 0 and why on failure.
    static std::unique_ptr<ServeServer> Start(const ServeOptions& options, std::string* error);
    ~ServeServer();
    ServeServer(const ServeServer&) = delete;
    ServeServer& operator=(const ServeServer&) = delete;

    // Ends the simulation and the streams, then the server.
    void Stop();

    int port() const { return port_; }
    // "http://127.0.0.1:8018/"
    std::string url() const;
    LivePanel& panel() { return *panel_; }

private:
    ServeServer() = default;
    void Routes();

    ServeOptions options_;
    int port_ = 0;
    std::string hostName_;                // as it goes into a URL: "127.0.0.1", "[::1]"
    std::vector<std::string> hosts_;      // Host header values answered, lower case
    std::unique_ptr<LivePanel> panel_;
    std::unique_ptr<httplib::Server> server_;
    std::thread listener_;
    std::shared_ptr<std::atomic<int>> streams_;
    bool stopped_ = false;
};

// Runs until SIGINT or SIGTERM; says where it answers on `out`, and how well
// it kept time when it ends. Exit codes: 0 ended by a signal, 2 the options
// are wrong or the port cannot be had.
int RunServe(const ServeOptions& options, std::ostream& out, std::ostream& err);
