// The simulation session with a small sound folder of its own: telling the
// sound buffers apart by the commands that use them, sounds shorter than an
// update, the panel reload, the variables of an update, the panel drawing.
#include <control_sound.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "audio_file.h"
#include "session.h"

namespace fs = std::filesystem;

namespace {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::path(TW_TEST_OUTPUT_DIR) / ("session-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::ofstream(folder / "twsound.cfg") << "[general]\nmastercontroller=Master\nbuffervolwrite=Vol\nbufferpanwrite=Pan\n"
                                                 "[sounditems]\nAlpha, alpha.wav, -300\nBeta, beta.wav\nGamma, gamma.wav, -600\n";
        Tone(folder / "alpha.wav", 440, 0.5);
        Tone(folder / "beta.wav", 880, 0.02);  // shorter than one update
        Tone(folder / "gamma.wav", 220, 0.2);
    }

    static void Tone(const fs::path& path, double frequency, double seconds) {
        const uint32_t rate = 22050;
        std::vector<int16_t> stereo;
        for (size_t n = 0; n < static_cast<size_t>(seconds * rate); ++n) {
            const auto v = static_cast<int16_t>(10000 * std::sin(2 * M_PI * frequency * n / rate));
            stereo.push_back(v);
            stereo.push_back(v);
        }
        ASSERT_TRUE(WriteWavFile(path.string(), stereo, rate));
    }

    std::unique_ptr<Session> Open(std::vector<std::string> gauges = {}) {
        SessionSetup setup;
        setup.modules = {TW_HX8_PATH, TW_SOUND_PATH};
        setup.gauges = std::move(gauges);
        setup.soundFolder = folder.string();
        SessionError error;
        std::unique_ptr<Session> session = Session::Open(setup, &error);
        EXPECT_NE(session, nullptr) << error.message;
        return session;
    }

    static size_t Target(const Session& session, const std::string& name) {
        for (size_t i = 0; i < session.targets().size(); ++i) {
            if (session.targets()[i].name == name) return i;
        }
        ADD_FAILURE() << "no target " << name;
        return 0;
    }

    static void Run(Session& session, double seconds) {
        for (int i = 0; i < static_cast<int>(std::lround(seconds * kUpdatesPerSecond)); ++i) session.Step();
    }

    fs::path folder;
};

TEST_F(SessionTest, SoundsCommandedOnTheSameUpdateAreToldApart) {
    auto session = Open();
    ASSERT_TRUE(session);
    session->Command(Target(*session, "Gamma"), 2);
    session->Command(Target(*session, "Alpha"), 7, -1500, 4000);
    Run(*session, 1.0);
    session->Finish();
    const SessionReport& report = session->report();
    ASSERT_EQ(report.plays.size(), 2u);
    // In slot order: Alpha first.
    EXPECT_EQ(report.plays[0].sound, "Alpha");
    EXPECT_EQ(report.plays[0].slot, 0u);
    EXPECT_EQ(report.plays[0].volume, -1500);
    EXPECT_EQ(report.plays[0].pan, 4000);
    EXPECT_NEAR(report.plays[0].seconds(), 0.5, 1e-6);
    EXPECT_EQ(report.plays[0].endedBy, "its end");
    EXPECT_EQ(report.plays[1].sound, "Gamma");
    EXPECT_EQ(report.plays[1].wavName, "gamma.wav");
    EXPECT_EQ(report.plays[1].volume, -600);
    EXPECT_TRUE(report.plays[1].looped);
    EXPECT_EQ(report.plays[1].endedBy, "end of run");
    for (const CommandRecord& command : report.commands) {
        EXPECT_EQ(command.outcome, CommandOutcome::Acknowledged);
        EXPECT_EQ(command.result, "played");
    }
    EXPECT_TRUE(report.findings.empty());
}

TEST_F(SessionTest, ASoundShorterThanAnUpdateIsStillHeardAndTimed) {
    auto session = Open({"tw_sound"});
    ASSERT_TRUE(session);
    Run(*session, 0.5);
    session->Command(Target(*session, "Beta"), 1);
    Run(*session, 0.5);
    const SessionReport& report = session->report();
    ASSERT_EQ(report.plays.size(), 1u);
    EXPECT_EQ(report.plays[0].sound, "Beta");
    EXPECT_NEAR(report.plays[0].start, 0.556, 1e-9);
    EXPECT_NEAR(report.plays[0].seconds(), 0.02, 1e-3);
    EXPECT_EQ(report.plays[0].endedBy, "its end");
}

TEST_F(SessionTest, AReloadEndsTheSoundsAndTheNewBuffersAreNamedAgain) {
    auto session = Open();
    ASSERT_TRUE(session);
    session->Command(Target(*session, "Gamma"), 2);
    Run(*session, 1.0);
    session->Reload();
    Run(*session, 0.5);
    session->Command(Target(*session, "Gamma"), 2);
    Run(*session, 0.5);
    session->Finish();
    const SessionReport& report = session->report();
    ASSERT_EQ(report.plays.size(), 2u);
    EXPECT_EQ(report.plays[0].endedBy, "pre-kill");
    EXPECT_NEAR(report.plays[0].end, 1.0, 0.06);
    EXPECT_EQ(report.plays[1].sound, "Gamma");
    EXPECT_EQ(session->sim().gauges().size(), 9u);
    EXPECT_EQ(TwSoundFaultCount(), 0u) << "no call on a released buffer";
}

TEST_F(SessionTest, AnUpdatesVariablesAreWhatTheModulesTouched) {
    auto session = Open({"tw_sound"});
    ASSERT_TRUE(session);
    auto find = [&](const std::string& name) -> const VariableSample* {
        for (const VariableSample& v : session->lastVariables()) {
            if (v.name == name) return &v;
        }
        return nullptr;
    };
    // Placing the gauge: the configuration sets every item variable to -1.
    ASSERT_NE(find("L:beta,number"), nullptr);
    EXPECT_EQ(find("L:beta,number")->value, -1.0);
    EXPECT_TRUE(find("L:beta,number")->written);

    session->Command(Target(*session, "Alpha"), 3, -2000);
    session->Step();
    const VariableSample* alpha = find("L:alpha,number");
    ASSERT_NE(alpha, nullptr);
    EXPECT_TRUE(alpha->read && alpha->written);
    EXPECT_EQ(alpha->value, -1.0);
    ASSERT_NE(find("L:vol,number"), nullptr);
    EXPECT_EQ(find("L:vol,number")->value, -2000.0);
    ASSERT_NE(find("A:IS SLEW ACTIVE,bool"), nullptr);
    EXPECT_FALSE(find("A:IS SLEW ACTIVE,bool")->value) << "an aircraft variable the simulator does not know";
    EXPECT_EQ(session->report().commands.back().result, "volume -2000");
}

TEST_F(SessionTest, ThePanelIsDrawnAgainOnlyWhenANeedleMoves) {
    auto session = Open();
    ASSERT_TRUE(session);
    session->SetVariable("A:Eng Oil Pressure:1,psi", 20);
    session->Step();
    const RenderedGauge first = session->RenderPanel(1.0);
    EXPECT_EQ(first.width % 2, 0);
    EXPECT_EQ(first.height % 2, 0);
    EXPECT_GT(first.width, 4 * 104);
    EXPECT_GT(first.height, 2 * 104);
    session->Step();
    RenderedGauge same = session->RenderPanel(1.0);
    // The strip's time differs; the gauges below it do not.
    const size_t stripBytes = static_cast<size_t>(first.width) * 4 * 24;
    EXPECT_TRUE(std::equal(first.rgba.begin() + stripBytes, first.rgba.end(), same.rgba.begin() + stripBytes));
    session->SetVariable("A:Eng Oil Pressure:1,psi", 80);
    session->Step();
    const RenderedGauge moved = session->RenderPanel(1.0);
    EXPECT_FALSE(std::equal(first.rgba.begin() + stripBytes, first.rgba.end(), moved.rgba.begin() + stripBytes));
}

TEST_F(SessionTest, SoundsInALinkedFolderAreFoundAndTheBuildersLogIsLeftAlone) {
    const fs::path shared = folder.string() + "-shared";
    fs::remove_all(shared);
    fs::create_directories(shared);
    Tone(shared / "horn.wav", 660, 0.3);
    fs::create_symlink(shared, folder / "linked");
    std::ofstream(folder / "twsound.cfg") << "[sounditems]\nDelta, linked\\horn.wav\n";
    std::ofstream(folder / "logfile.txt") << "the builder's own log\n";
    auto session = Open({"tw_sound"});
    ASSERT_TRUE(session);
    session->Command(Target(*session, "Delta"), 1);
    Run(*session, 0.5);
    ASSERT_EQ(session->report().plays.size(), 1u);
    EXPECT_NEAR(session->report().plays[0].seconds(), 0.3, 1e-6);
    std::ifstream log(folder / "logfile.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()), "the builder's own log\n");
}

TEST_F(SessionTest, ACommandWithoutTheSoundGaugeOnThePanelSaysSo) {
    auto session = Open({"EngOilPress1"});
    ASSERT_TRUE(session);
    session->Command(Target(*session, "Alpha"), 1);
    Run(*session, 0.5);
    session->Finish();
    ASSERT_EQ(session->report().findings.size(), 1u);
    EXPECT_EQ(session->report().findings[0].kind, "never-acknowledged");
    EXPECT_NE(session->report().findings[0].text.find("the tw_sound gauge is not on the panel"), std::string::npos);
}

TEST_F(SessionTest, AnUnknownGaugeOrModuleIsNamedBeforeAnythingIsPlaced) {
    SessionSetup setup;
    setup.modules = {TW_HX8_PATH, TW_SOUND_PATH};
    setup.gauges = {"EngOilPress1", "EngFuelFlow1"};
    SessionError error;
    EXPECT_EQ(Session::Open(setup, &error), nullptr);
    EXPECT_EQ(error.gauge, 1);
    EXPECT_NE(error.message.find("no module has a gauge named \"EngFuelFlow1\""), std::string::npos) << error.message;

    setup.modules = {TW_HX8_PATH, "/no/such/module.so"};
    EXPECT_EQ(Session::Open(setup, &error), nullptr);
    EXPECT_EQ(error.module, 1);
    EXPECT_NE(error.message.find("cannot load /no/such/module.so"), std::string::npos) << error.message;
}

}  // namespace

TEST_F(SessionTest, EachItemsBufferIsKnownBeforeAnyCommandAndFollowsItsCommands) {
    // Two items on one WAV file: the same size and format, told apart by the
    // order the module makes the buffers in. Missing makes none.
    std::ofstream(folder / "twsound.cfg") << "[general]\nbuffervolwrite=Vol\nbufferpanwrite=Pan\n"
                                             "[sounditems]\nAlpha, alpha.wav, -300\nEcho, alpha.wav, -900\n"
                                             "Missing, missing.wav\nGamma, gamma.wav, -600\n";
    auto session = Open({"tw_sound"});
    ASSERT_TRUE(session);
    std::vector<ItemSound> sounds = session->ItemSounds();
    ASSERT_EQ(sounds.size(), 4u);  // Missing is a dropped line, last
    const size_t alpha = Target(*session, "Alpha"), echo = Target(*session, "Echo"), gamma = Target(*session, "Gamma"),
                 missing = Target(*session, "Missing");
    EXPECT_TRUE(sounds[alpha].loaded && sounds[echo].loaded && sounds[gamma].loaded);
    EXPECT_FALSE(sounds[missing].loaded);
    EXPECT_LT(sounds[alpha].buffer, sounds[echo].buffer);
    EXPECT_LT(sounds[echo].buffer, sounds[gamma].buffer);
    const uint32_t echoBuffer = sounds[echo].buffer;
    for (const ItemSound& sound : sounds) EXPECT_FALSE(sound.playing);

    session->Command(echo, 8, -1200, 2500);
    session->Step();
    sounds = session->ItemSounds();
    EXPECT_EQ(sounds[echo].buffer, echoBuffer);
    EXPECT_TRUE(sounds[echo].playing && sounds[echo].looping);
    EXPECT_EQ(sounds[echo].volume, -1200);
    EXPECT_EQ(sounds[echo].pan, 2500);
    EXPECT_FALSE(sounds[alpha].playing) << "the other item on the same file";
    session->Command(echo, 0);
    session->Step();
    EXPECT_FALSE(session->ItemSounds()[echo].playing);
}

TEST_F(SessionTest, ReloadingTheSoundModuleTakesTheFolderAsItIsNow) {
    auto session = Open();
    ASSERT_TRUE(session);
    session->SetVariable("A:Eng Oil Pressure:1,psi", 70);
    session->Command(Target(*session, "Gamma"), 2);
    Run(*session, 0.5);
    const std::vector<PlacedGauge*> before = session->placedGauges();
    const double needle = before[0]->needles[0].angle;
    session->Command(Target(*session, "Alpha"), 1);  // still waiting when the module goes

    // The builder edits twsound.cfg and adds a WAV file.
    std::ofstream(folder / "twsound.cfg") << "[general]\nmastercontroller=Master\n[sounditems]\nGamma, gamma.wav\nDelta, delta.wav, -200\n";
    Tone(folder / "delta.wav", 330, 0.4);
    std::string why;
    ASSERT_TRUE(session->ReloadSoundModule(&why)) << why;

    ASSERT_EQ(session->targets().size(), 2u);
    EXPECT_EQ(session->targets()[1].name, "Delta");
    EXPECT_TRUE(session->volumeRegister().empty());
    const SessionReport& report = session->report();
    EXPECT_EQ(report.plays[0].endedBy, "pre-kill");
    EXPECT_EQ(report.commands[1].outcome, CommandOutcome::Discarded);
    // The instruments were not touched; the sound gauge is in its place again.
    const std::vector<PlacedGauge*>& after = session->placedGauges();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i + 1 < after.size(); ++i) EXPECT_EQ(after[i], before[i]);
    EXPECT_NE(after.back(), nullptr);
    EXPECT_EQ(after.back()->name, "tw_sound");
    EXPECT_EQ(after[0]->needles[0].angle, needle);

    session->TakeAudio();
    session->Command(Target(*session, "Delta"), 1);
    Run(*session, 0.3);
    EXPECT_EQ(report.commands.back().result, "played");
    EXPECT_EQ(report.plays.back().sound, "Delta");
    EXPECT_EQ(report.plays.back().volume, -200);
    const std::vector<int16_t> audio = session->TakeAudio();
    EXPECT_TRUE(std::any_of(audio.begin(), audio.end(), [](int16_t s) { return s != 0; }));
    EXPECT_EQ(TwSoundFaultCount(), 0u);
}

TEST_F(SessionTest, AReloadedSoundModuleIsToldTheSimulatorsState) {
    auto session = Open({"tw_sound"});
    ASSERT_TRUE(session);
    session->Notice(SimNotice::Pause);
    session->Step();
    std::string why;
    ASSERT_TRUE(session->ReloadSoundModule(&why)) << why;
    session->Step();
    session->TakeAudio();
    session->Command(Target(*session, "Alpha"), 1);
    Run(*session, 0.3);
    EXPECT_EQ(session->report().commands.back().outcome, CommandOutcome::Pending) << "paused: the new module takes no command";
    std::vector<int16_t> audio = session->TakeAudio();
    EXPECT_TRUE(std::all_of(audio.begin(), audio.end(), [](int16_t s) { return s == 0; }));

    session->Notice(SimNotice::Unpause);
    session->Step();
    session->Command(Target(*session, "Alpha"), 1);
    Run(*session, 0.3);
    EXPECT_EQ(session->report().commands.back().result, "played");
}

TEST_F(SessionTest, AReloadWithoutTheSoundModuleSaysSo) {
    SessionSetup setup;
    setup.modules = {TW_HX8_PATH};
    setup.soundFolder = folder.string();
    SessionError error;
    std::unique_ptr<Session> session = Session::Open(setup, &error);
    ASSERT_TRUE(session) << error.message;
    std::string why;
    EXPECT_FALSE(session->ReloadSoundModule(&why));
    EXPECT_EQ(why, "no sound module is loaded");
    session->Step();  // and the instruments run on
}
