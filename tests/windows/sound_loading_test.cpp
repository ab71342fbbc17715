// tw_sound.gau loaded as the simulator loads it: its SimConnect.dll comes
// from the side-by-side assembly its manifest names (here the tests' private
// assembly beside this program), its start routine opens SimConnect and
// subscribes to the five system events, the notices reach it through its
// dispatch procedure between gauge calls, and its stop routine closes.
#include <simconnect.h>

#include "sound_module.h"

namespace sound_win {
namespace {

const fs::path kAssembly = "Microsoft.FlightSimulator.SimConnect";

// Keeps a DLL loaded past the module's unload, to read its record afterwards.
struct Pin {
    explicit Pin(HMODULE dll) {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(dll, path, MAX_PATH);
        held = LoadLibraryA(path);
    }
    ~Pin() {
        if (held != nullptr) FreeLibrary(held);
    }
    HMODULE held = nullptr;
};

class Loading : public SoundModuleTest {
protected:
    void SetUp() override {
        SoundModuleTest::SetUp();
        WriteConfig("[general]\nmastercontroller=Master\n[sounditems]\nHorn, horn.wav\n");
        Write("horn.wav", ToneWav({.frequency = 500, .seconds = 0.5}));
    }
};

TEST_F(Loading, SimConnectComesFromThePrivateAssemblyTheManifestNames) {
    // Wine would also take a plain SimConnect.dll beside the program; there
    // is none, so the manifest is what found it.
    ASSERT_FALSE(fs::exists(ProgramFolder() / "SimConnect.dll"));
    ASSERT_TRUE(fs::exists(ProgramFolder() / kAssembly / "SimConnect.dll"));
    LoadModuleOnly();
    HMODULE provider = win32host::ProviderOfImport(sim.module().handle, "SimConnect.dll", "SimConnect_Open");
    ASSERT_NE(provider, nullptr);
    const fs::path loaded = fs::path(win32host::ModulePath(provider)).lexically_normal();
    const fs::path assembly = (ProgramFolder() / kAssembly).lexically_normal();
    EXPECT_EQ(loaded.parent_path(), assembly) << loaded.string();
    EXPECT_EQ(loaded.filename(), "SimConnect.dll");
}

TEST_F(Loading, StartOpensSubscribesDispatchesAndStopCloses) {
    LoadModuleOnly();
    EXPECT_EQ(sim.simConnect().Calls(),
              (std::vector<std::string>{
                  "Open(\"TWSoundGauge\", window 0, user event 0, event handle 0, configuration -1) -> 0",
                  "SubscribeToSystemEvent(0, \"Pause\") -> 0", "SubscribeToSystemEvent(2, \"SimStart\") -> 0",
                  "SubscribeToSystemEvent(3, \"SimStop\") -> 0", "SubscribeToSystemEvent(4, \"View\") -> 0",
                  "SubscribeToSystemEvent(5, \"Sound\") -> 0", "CallDispatch(context 0) -> 0"}));
    EXPECT_TRUE(sim.simConnect().HasDispatch());

    const win32host::SimConnectControl control = sim.simConnect();
    Pin pin(control.dll);
    sim.Unload();
    EXPECT_EQ(control.Calls().back(), "Close() -> 0");
    EXPECT_FALSE(control.IsOpen());
}

TEST_F(Loading, NoticesReachTheModuleBetweenGaugeCalls) {
    Load();
    Update();
    ClearLog();
    CodeLog().clear();
    ASSERT_TRUE(sim.SendNotice("View", 2));
    EXPECT_EQ(CodeLog(), std::vector<std::string>{"2 (>L:ViewSystemStatus, number)"});
    EXPECT_EQ(Get("ViewSystemStatus"), 2);

    ASSERT_TRUE(sim.Pause(true));
    Set("Horn", 1);
    Update();
    EXPECT_EQ(Numbers(Log()), (std::vector<int>{16, 56, 58}));
    EXPECT_EQ(Get("Horn"), -1);  // discarded

    // Not an event, an event the module never subscribed to, a quit: nothing.
    SimConnectMessage quit{sizeof(SimConnectMessage), 1, kSimConnectMessageQuit};
    EXPECT_TRUE(sim.simConnect().SendRawMessage(&quit, sizeof quit));
    EXPECT_TRUE(sim.simConnect().SendEvent(99, 1));
    ClearLog();
    Update(2);
    EXPECT_TRUE(Log().empty());
}

TEST_F(Loading, WithSimConnectRefusedTheModuleWorksWithItsStartValues) {
    std::string error;
    ASSERT_TRUE(sim.LoadOnly(ModulePath(), error)) << error;
    ASSERT_TRUE(sim.simConnect().Complete());
    sim.simConnect().RefuseOpen(TRUE);
    sim.Start();
    EXPECT_EQ(sim.simConnect().Calls().size(), 1u);  // the refused Open alone
    Place();
    EXPECT_FALSE(sim.Pause(true));  // nobody to hear it
    ClearLog();
    Set("Horn", 1);
    Update();
    EXPECT_EQ(Numbers(Log()), (std::vector<int>{4, 14, 60, 62, 52, 59, 64, 55}));
}

}  // namespace
}  // namespace sound_win
