// twsim serve's server in this process, spoken to as a page and as anyone
// else on the machine would: who may talk to it, bad requests, the files of
// the sound folder and nothing else, a command heard and acknowledged, what
// the event stream sends again, reloading the folder, and the streams ending
// with the server.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "audio_file.h"
#include "serve.h"

namespace fs = std::filesystem;
using json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 10s;  // how long a test waits for something that takes an update or two

class ServeTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::path(TW_TEST_OUTPUT_DIR) / ("serve-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root);
        folder = root / "sounds";
        fs::create_directories(folder / "sub");
        WriteConfig("[general]\nmastercontroller=Master\nbuffervolwrite=Vol\nbufferpanwrite=Pan\n"
                    "[sounditems]\nAlpha, alpha.wav, -300\nBeta, sub\\beta.wav\n");
        Tone(folder / "alpha.wav", 440, 0.5);
        Tone(folder / "sub" / "beta.wav", 880, 0.2);
    }
    void TearDown() override {
        if (server) server->Stop();
    }

    void WriteConfig(const std::string& text) { std::ofstream(folder / "twsound.cfg", std::ios::binary) << text; }

    static void Tone(const fs::path& path, double frequency, double seconds) {
        const uint32_t rate = 22050;
        std::vector<int16_t> stereo;
        for (size_t n = 0; n < static_cast<size_t>(seconds * rate); ++n) {
            const auto v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * frequency * n / rate));
            stereo.push_back(v);
            stereo.push_back(v);
        }
        ASSERT_TRUE(WriteWavFile(path.string(), stereo, rate));
    }

    void Start() {
        ServeOptions options;
        options.soundFolder = folder.string();
        options.port = 0;
        options.modules = {TW_HX8_PATH, TW_SOUND_PATH};
        std::string why;
        server = ServeServer::Start(options, &why);
        ASSERT_TRUE(server) << why;
        client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
        client->set_read_timeout(10, 0);
    }

    httplib::Headers Own() const { return {{"Origin", "http://127.0.0.1:" + std::to_string(server->port())}}; }

    httplib::Result Post(const std::string& path, const json& body) {
        return client->Post(path.c_str(), Own(), body.dump(), "application/json");
    }

    json State() {
        auto result = client->Get("/api/state");
        EXPECT_TRUE(result && result->status == 200);
        return result ? json::parse(result->body) : json();
    }

    // Polls the state until `check` holds; the last state seen.
    json WaitFor(const std::function<bool(const json&)>& check, const char* what) {
        const auto end = std::chrono::steady_clock::now() + kWait;
        json state;
        while (std::chrono::steady_clock::now() < end) {
            state = State();
            if (check(state)) return state;
            std::this_thread::sleep_for(20ms);
        }
        ADD_FAILURE() << "timed out waiting for " << what << "; last state: " << state.dump();
        return state;
    }

    fs::path root, folder;
    std::unique_ptr<ServeServer> server;
    std::unique_ptr<httplib::Client> client;
};

// Reads a stream (events or audio) on a thread of its own until told to stop.
class StreamReader {
public:
    StreamReader(int port, const char* path) {
        thread_ = std::thread([this, port, path = std::string(path)] {
            httplib::Client client("127.0.0.1", port);
            client.set_read_timeout(20, 0);
            auto result = client.Get(path.c_str(), [this](const char* data, size_t length) {
                std::lock_guard lock(mutex_);
                bytes_.append(data, length);
                return !stop_;
            });
            status_ = result ? result->status : -1;
            ended_ = true;
        });
    }
    ~StreamReader() {
        stop_ = true;
        thread_.join();
    }
    std::string Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(bytes_, std::string());
    }
    bool ended() const { return ended_; }
    int status() const { return status_; }

private:
    std::mutex mutex_;
    std::string bytes_;
    std::atomic<bool> stop_{false}, ended_{false};
    std::atomic<int> status_{0};
    std::thread thread_;
};

double Rms(const std::string& bytes) {
    const size_t count = bytes.size() / 2;
    if (count == 0) return 0.0;
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) {
        int16_t v;
        std::memcpy(&v, bytes.data() + 2 * i, 2);
        sum += static_cast<double>(v) * v;
    }
    return std::sqrt(sum / static_cast<double>(count)) / 32768.0;
}

size_t ItemIndex(const json& folder, const std::string& name) {
    for (size_t i = 0; i < folder["items"].size(); ++i) {
        if (folder["items"][i]["name"] == name) return i;
    }
    ADD_FAILURE() << "no item " << name;
    return 0;
}

TEST_F(ServeTest, OnlyThePagesOfThisServerMayTalkToIt) {
    Start();
    const std::string port = std::to_string(server->port());
    struct Case {
        const char* name;
        const char* method;
        const char* path;
        httplib::Headers headers;
        const char* type;  // a POST's content type
        int status;
        const char* says;
    } cases[] = {
        {"own page", "POST", "/api/master", {{"Origin", "http://127.0.0.1:" + port}}, "application/json", 200, "\"ok\""},
        {"localhost names it too", "POST", "/api/master", {{"Host", "localhost:" + port}, {"Origin", "http://localhost:" + port}},
         "application/json", 200, "\"ok\""},
        {"a tool without Origin", "GET", "/api/state", {}, nullptr, 200, "\"update\""},
        {"another host name (DNS rebinding)", "GET", "/", {{"Host", "attacker.example:" + port}}, nullptr, 403, "answers only requests for"},
        {"another port", "GET", "/api/state", {{"Host", "127.0.0.1:1"}}, nullptr, 403, "answers only requests for"},
        {"another origin reading", "GET", "/api/state", {{"Origin", "http://attacker.example"}}, nullptr, 403, "other web pages"},
        {"another origin's event stream", "GET", "/events", {{"Origin", "http://attacker.example"}}, nullptr, 403, "other web pages"},
        {"another origin commanding", "POST", "/api/master", {{"Origin", "http://attacker.example"}}, "application/json", 403, "other web pages"},
        {"another port's page", "POST", "/api/master", {{"Origin", "http://127.0.0.1:1"}}, "application/json", 403, "other web pages"},
        {"https origin", "POST", "/api/master", {{"Origin", "https://127.0.0.1:" + port}}, "application/json", 403, "other web pages"},
        {"an opaque origin", "POST", "/api/master", {{"Origin", "null"}}, "application/json", 403, "other web pages"},
        {"a cross-site fetch", "POST", "/api/master", {{"Sec-Fetch-Site", "cross-site"}}, "application/json", 403, "Sec-Fetch-Site"},
        {"a form post", "POST", "/api/master", {}, "application/x-www-form-urlencoded", 415, "JSON"},
        {"a no-cors text post", "POST", "/api/master", {}, "text/plain", 415, "JSON"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int status = 0;
        std::string body;
        if (std::string(c.method) == "GET") {
            // A stream let through would never end: its first bytes are enough.
            bool stream = false;
            client->Get(
                c.path, c.headers,
                [&](const httplib::Response& response) {
                    status = response.status;
                    stream = response.get_header_value("Content-Type") == "text/event-stream";
                    return true;
                },
                [&](const char* data, size_t length) {
                    body.append(data, length);
                    return !stream;
                });
        } else {
            const auto result = client->Post(c.path, c.headers, R"({"value": 3})", c.type);
            ASSERT_TRUE(result);
            status = result->status;
            body = result->body;
        }
        EXPECT_EQ(status, c.status);
        EXPECT_NE(body.find(c.says), std::string::npos) << body;
    }
    // Only the two accepted commands reached the simulation.
    EXPECT_EQ(State()["commands"], 2);
}

TEST_F(ServeTest, BadRequestsGetAClearMessageAndTheSimulationRunsOn) {
    Start();
    const std::string big(20000, ' ');
    struct Case {
        const char* path;
        std::string body;
        int status;
        const char* says;
    } cases[] = {
        {"/api/command", "{", 400, "not JSON"},
        {"/api/command", "[1, 2]", 400, "JSON object"},
        {"/api/command", "{}", 400, "\"item\" is missing"},
        {"/api/command", R"({"item": "Alpha"})", 400, "\"value\" is missing"},
        {"/api/command", R"({"item": "Alpha", "value": "1"})", 400, "whole number"},
        {"/api/command", R"({"item": "Alpha", "value": 1.5})", 400, "whole number"},
        {"/api/command", R"({"item": "Alpha", "value": 1e12})", 400, "whole number"},
        {"/api/command", R"({"item": "Alpha", "value": 1, "volume": "loud"})", 400, "\"volume\""},
        {"/api/command", R"({"item": true, "value": 1})", 400, "name or its index"},
        {"/api/command", R"({"item": "Nobody", "value": 1})", 404, "its items: Alpha, Beta"},
        {"/api/command", R"({"item": 7, "value": 1})", 404, "no sound item 7"},
        {"/api/notice", R"({"notice": "explode"})", 400, "must be one of"},
        {"/api/notice", R"({"notice": 3})", 400, "must be a text"},
        {"/api/notice", R"({"notice": "view"})", 400, "\"view\" is missing"},
        {"/api/notice", R"({"notice": "view", "view": -1})", 400, "negative"},
        {"/api/slew", R"({"on": "yes"})", 400, "true or false"},
        {"/api/test", R"({"test": "fuel"})", 400, "oil_quantity or vibration"},
        {"/api/test", R"({"test": "vibration", "value": "high"})", 400, "must be a number"},
        {"/api/variable", R"({"name": "Q:Nothing", "value": 1})", 400, "not a variable name"},
        {"/api/variable", R"({"name": "A:Eng Oil Pressure:1,psi"})", 400, "\"value\" is missing"},
        {"/api/master", R"({"value": null})", 400, "\"value\" is missing"},
        {"/api/command", "{\"item\": \"Alpha\", \"value\": 1, \"pad\": \"" + big + "\"}", 413, "too large"},
        {"/api/nothing", "{}", 404, "nothing here"},
    };
    const uint64_t before = State()["update"];
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + (" " + c.body.substr(0, 60)));
        const auto result = client->Post(c.path, Own(), c.body, "application/json");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, c.status);
        const json answer = json::parse(result->body, nullptr, false);
        ASSERT_TRUE(answer.is_object() && answer.contains("error")) << result->body;
        EXPECT_NE(answer["error"].get<std::string>().find(c.says), std::string::npos) << answer["error"];
    }
    EXPECT_EQ(State()["commands"], 0);
    WaitFor([&](const json& s) { return s["update"] > before + 2; }, "updates after the bad requests");
}

TEST_F(ServeTest, FilesOfTheSoundFolderAndNothingOutsideIt) {
    std::ofstream(root / "secret.txt") << "not for the page";
    fs::create_directories(root / "elsewhere");
    std::ofstream(root / "elsewhere" / "other.wav") << "outside";
    fs::create_symlink(root / "secret.txt", folder / "leak.txt");
    fs::create_symlink(root / "elsewhere", folder / "linked");
    Start();
    const std::string alpha = [&] {
        std::ifstream in(folder / "alpha.wav", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    struct Case {
        const char* path;
        int status;
        const char* type;  // for a file served
    } cases[] = {
        {"/folder/alpha.wav", 200, "audio/wav"},
        {"/folder/ALPHA.WAV", 200, "audio/wav"},  // as the module finds it, without regard to case
        {"/folder/sub/beta.wav", 200, "audio/wav"},
        {"/folder/sub%5Cbeta.wav", 200, "audio/wav"},  // the module's backslash
        {"/folder/twsound.cfg", 200, "text/plain; charset=windows-1252"},
        {"/folder/../secret.txt", 400, nullptr},
        {"/folder/%2e%2e/secret.txt", 400, nullptr},
        {"/folder/sub/..%2F..%2Fsecret.txt", 400, nullptr},
        {"/folder/sub%5C..%5C..%5Csecret.txt", 400, nullptr},
        {"/folder/.", 400, nullptr},
        {"/folder//etc/passwd", 400, nullptr},
        {"/folder/a%00b", 400, nullptr},
        {"/folder/leak.txt", 403, nullptr},          // a link out of the folder
        {"/folder/linked/other.wav", 403, nullptr},  // a linked folder outside it
        {"/folder/missing.wav", 404, nullptr},
        {"/folder/sub", 404, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto result = client->Get(c.path);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, c.status) << result->body;
        if (c.type != nullptr) {
            EXPECT_EQ(result->get_header_value("Content-Type"), c.type);
        } else {
            EXPECT_EQ(result->body.find("not for the page"), std::string::npos);
            EXPECT_NE(result->body, "outside");
        }
    }
    EXPECT_EQ(client->Get("/folder/alpha.wav")->body, alpha);
}

TEST_F(ServeTest, APlayCommandIsHeardAndAcknowledgedAndAPauseStopsIt) {
    Start();
    const json folderDoc = json::parse(client->Get("/api/folder")->body);
    const size_t alpha = ItemIndex(folderDoc, "Alpha");
    StreamReader audio(server->port(), "/audio");
    WaitFor([](const json& s) { return s["update"] > 3; }, "a few updates");
    EXPECT_EQ(Rms(audio.Take()), 0.0) << "silence before any command";

    auto result = Post("/api/command", {{"item", "alpha"}, {"value", 8}, {"volume", -600}, {"pan", 1000}});
    ASSERT_TRUE(result && result->status == 200) << (result ? result->body : "no answer");
    const json state = WaitFor(
        [&](const json& s) {
            const json& item = s["items"][alpha];
            return item["status"] == "looping" && item["command"].is_object() && item["command"]["outcome"] == "acknowledged";
        },
        "Alpha looping, acknowledged");
    const json& item = state["items"][alpha];
    EXPECT_EQ(item["value"], -1.0) << "the module's acknowledgement";
    EXPECT_EQ(item["command"]["result"], "played");
    EXPECT_EQ(item["volume"], -600);
    EXPECT_EQ(item["pan"], 1000);
    EXPECT_EQ(state["registers"]["buffervolwrite"], -600.0);
    std::this_thread::sleep_for(300ms);
    EXPECT_GT(Rms(audio.Take()), 0.01) << "the stream carries the sound";

    ASSERT_EQ(Post("/api/notice", {{"notice", "pause"}})->status, 200);
    const json paused = WaitFor([&](const json& s) { return s["items"][alpha]["status"] == "stopped"; }, "Alpha stopped");
    EXPECT_TRUE(paused["sim"]["paused"]);
    std::this_thread::sleep_for(200ms);
    audio.Take();  // what was mixed before the pause took
    std::this_thread::sleep_for(300ms);
    const std::string after = audio.Take();
    EXPECT_GT(after.size(), 4000u);
    EXPECT_EQ(Rms(after), 0.0);
}

TEST_F(ServeTest, AfterTheFirstEventsOnlyTheGaugeWhoseNeedleMovedIsSentAgain) {
    Start();
    LivePanel& panel = server->panel();
    EventCursor cursor;
    std::string first = *panel.NextEvents(&cursor, kWait);
    // The first update may still be placing the needles: read until all are drawn.
    for (int i = 0; i < 5; ++i) first += *panel.NextEvents(&cursor, kWait);
    auto count = [](const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count(first, "event: folder\n"), 1u);
    EXPECT_GE(count(first, "event: gauge\n"), 8u);
    EXPECT_NE(first.find("\"png\":\"data:image/png;base64,iVBORw0KGgo"), std::string::npos);
    EXPECT_NE(first.find("event: log\n"), std::string::npos);

    const std::string idle = *panel.NextEvents(&cursor, kWait);
    EXPECT_EQ(count(idle, "event: gauge\n"), 0u) << "nothing moved";
    EXPECT_EQ(count(idle, "event: state\n"), 1u);

    ASSERT_EQ(Post("/api/variable", {{"name", "A:Eng Oil Pressure:2,psi"}, {"value", 75}})->status, 200);
    std::string moved;
    for (int i = 0; i < 4; ++i) moved += *panel.NextEvents(&cursor, kWait);
    EXPECT_GE(count(moved, "event: gauge\n"), 1u);
    EXPECT_EQ(count(moved, "event: gauge\n"), count(moved, "\"index\":1,\"name\":\"EngOilPress2\"")) << "only EngOilPress2";
    EXPECT_EQ(count(moved, "event: folder\n"), 0u);
}

TEST_F(ServeTest, ALivePanelKeepsNoRecordThatGrowsWithEveryUpdate) {
    Start();
    auto records = [&] {
        return server->panel().Run([](Session& session) -> ActionResult {
            const Sim& sim = session.sim();
            return {200, std::to_string(sim.serviceCalls().size() + sim.panelCalls().size() + sim.codeLog().size()), 0};
        });
    };
    WaitFor([](const json& s) { return s["update"] > 2; }, "the first updates");
    const ActionResult early = records();
    WaitFor([&](const json& s) { return s["update"] > early.update + 20; }, "twenty updates more");
    EXPECT_EQ(records().message, early.message) << "kept for every update, a panel open for hours would fill the memory";
}

TEST_F(ServeTest, ReloadFolderTakesTheEditedConfigurationAndShowsTheCheck) {
    Start();
    // The builder renames an item, drops the master controller and adds a sound.
    WriteConfig("[sounditems]\nAlpha, alpha.wav\nDelta, delta.wav, -200\n");
    Tone(folder / "delta.wav", 330, 0.4);
    auto result = Post("/api/reload-folder", json::object());
    ASSERT_TRUE(result && result->status == 200) << (result ? result->body : "");
    EXPECT_NE(json::parse(result->body)["message"].get<std::string>().find("2 sound items"), std::string::npos);
    json folderDoc = json::parse(client->Get("/api/folder")->body);
    ASSERT_EQ(folderDoc["items"].size(), 2u);
    EXPECT_EQ(folderDoc["items"][1]["name"], "Delta");
    EXPECT_EQ(folderDoc["items"][1]["defaultVolume"], -200);
    EXPECT_TRUE(folderDoc["check"]["ok"]);
    EXPECT_EQ(folderDoc["master"], "");

    result = Post("/api/master", {{"value", 1}});
    EXPECT_EQ(result->status, 409);
    EXPECT_NE(result->body.find("no mastercontroller="), std::string::npos);
    ASSERT_EQ(Post("/api/command", {{"item", "Delta"}, {"value", 1}})->status, 200);
    WaitFor([](const json& s) { return s["items"][1]["command"].is_object() && s["items"][1]["command"]["result"] == "played"; },
            "Delta played");

    // A mistake in the folder shows in the checker's findings beside it.
    WriteConfig("[sounditems]\nAlpha, alpha.wav\nDelta, delta.wav, -200\nGone, gone.wav\n");
    result = Post("/api/reload-folder", json::object());
    ASSERT_EQ(result->status, 200);
    EXPECT_NE(result->body.find("the checker found problems"), std::string::npos);
    folderDoc = json::parse(client->Get("/api/folder")->body);
    EXPECT_FALSE(folderDoc["check"]["ok"]);
    EXPECT_EQ(folderDoc["check"]["droppedItems"], 1);
    EXPECT_NE(folderDoc["check"]["text"].get<std::string>().find("gone.wav not found"), std::string::npos);
    EXPECT_EQ(folderDoc["items"][2]["dropReason"].get<std::string>().empty(), false);
}

TEST_F(ServeTest, TheStreamsEndWithTheServerAndAreLimited) {
    Start();
    std::vector<std::unique_ptr<StreamReader>> streams;
    for (int i = 0; i < 8; ++i) streams.push_back(std::make_unique<StreamReader>(server->port(), i % 2 ? "/audio" : "/events"));
    WaitFor([&](const json&) {
        return std::all_of(streams.begin(), streams.end(), [](const auto& s) { return !s->Take().empty(); });
    }, "eight streams flowing");
    const auto refused = client->Get("/events");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 503);
    EXPECT_NE(refused->body.find("too many pages"), std::string::npos);

    const auto start = std::chrono::steady_clock::now();
    server->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s) << "the streams let the server stop";
    for (const auto& stream : streams) {
        for (int i = 0; i < 100 && !stream->ended(); ++i) std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(stream->ended());
    }
}

}  // namespace

namespace {

// The program as a builder starts it, when something is wrong: it says what,
// and exits 2 before anything runs.
TEST_F(ServeTest, TheProgramSaysWhatIsWrongWithItsOptions) {
    Start();  // holds a port
    const std::string taken = std::to_string(server->port());
    struct Case {
        std::string arguments;
        const char* says;
    } cases[] = {
        {"--sound-folder " + (root / "nothing").string(), "is not a folder"},
        {"--port " + taken, "is in use"},
        {"--port 70000", "--port must lie between"},
        {"--address 0.0.0.0 --port 0", "would answer every network"},
        {"--address :: --port 0", "would answer every network"},
        {"--address example.org --port 0", "is not an IP address"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        // Should it serve after all, the test fails rather than waits.
        const std::string command = "timeout 20 " + std::string(TW_TWSIM) + " serve " + c.arguments + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buffer[512];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        const int status = pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
    }
}

}  // namespace
