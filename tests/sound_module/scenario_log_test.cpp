// The scenario both builds fly (tests/cases/sound_scenario.h): the native
// module's log of it, line for line. The Windows tests hold tw_sound.gau
// under wine to the same lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "sound_host.h"
#include "sound_scenario.h"

namespace {

using namespace sound_scenario;

TEST(Scenario, TheLogIsLineForLineTheSameAsOnWindows) {
    SoundHost host;
    host.WriteConfig(kScenarioConfig);
    for (const ScenarioFile& file : ScenarioFiles()) host.Write(file.name, file.bytes);
    host.Load();
    for (const ScenarioStep& step : ScenarioSteps()) {
        switch (step.kind) {
            case Step::Set: host.Set(step.name, step.value); break;
            case Step::Update: host.Update(static_cast<int>(step.value)); break;
            case Step::Notice: ASSERT_TRUE(host.sim().SendNotice(step.name, static_cast<uint32_t>(step.value))); break;
            case Step::Slew: host.sim().SetSlew(step.value != 0); break;
            case Step::Remove: host.sim().RemoveGauge(host.gauge()); break;
            case Step::Place: host.Place(); break;
        }
    }
    std::ifstream in(host.soundFolder() / "logfile.txt", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<std::string> lines = MarkSoundFolder(LogLines(bytes), host.moduleSoundFolder());
    const std::vector<std::string>& expected = ScenarioLog();
    if (lines != expected || std::getenv("TW_PRINT_SCENARIO_LOG") != nullptr) {
        // As the table in sound_scenario.h writes them, for a deliberate change.
        for (const std::string& line : lines) {
            std::string quoted;
            for (char c : line) quoted += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
            std::printf("        \"%s\",\n", quoted.c_str());
        }
    }
    for (size_t i = 0; i < std::max(lines.size(), expected.size()); ++i) {
        const std::string got = i < lines.size() ? lines[i] : "(no line)";
        const std::string want = i < expected.size() ? expected[i] : "(no line)";
        ASSERT_EQ(got, want) << "line " << i + 1;
    }
}

}  // namespace
