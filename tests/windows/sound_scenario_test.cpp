// The scenario both builds fly (tests/cases/sound_scenario.h), by
// tw_sound.gau under wine over the real DirectSound: its logfile.txt must
// be line for line the native module's log of the same scenario.
#include <cstring>

#include "sound_module.h"
#include "sound_scenario.h"

namespace sound_win {
namespace {

using namespace sound_scenario;

using Scenario = SoundModuleTest;

TEST_F(Scenario, TheLogIsLineForLineTheNativeRunsLog) {
    WriteConfig(kScenarioConfig);
    for (const ScenarioFile& file : ScenarioFiles()) Write(file.name, file.bytes);
    Load();
    for (const ScenarioStep& step : ScenarioSteps()) {
        switch (step.kind) {
            case Step::Set: Set(step.name, step.value); break;
            case Step::Update: Update(static_cast<int>(step.value)); break;
            case Step::Notice: ASSERT_TRUE(sim.SendNotice(step.name, static_cast<DWORD>(step.value))); break;
            case Step::Slew: sim.SetSlew(step.value != 0); break;
            case Step::Remove: sim.Remove(gauge); break;
            case Step::Place: Place(); break;
        }
    }
    const std::vector<std::string> lines = MarkSoundFolder(LogLines(LogBytes()), ModuleSoundFolder());
    const std::vector<std::string>& expected = ScenarioLog();
    for (size_t i = 0; i < std::max(lines.size(), expected.size()); ++i) {
        const std::string got = i < lines.size() ? lines[i] : "(no line)";
        const std::string want = i < expected.size() ? expected[i] : "(no line)";
        ASSERT_EQ(got, want) << "line " << i + 1;
    }
}

}  // namespace
}  // namespace sound_win
