// The sound module's life in the simulator: SimConnect at load, the gauge's
// service codes, the device across pre-kill and connect-to-window, more than
// one tw_sound on a panel, and the order of services the simulator might
// use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <control_mmio.h>

#include "gauge_records.h"
#include "records.h"
#include "sound_calls.h"
#include "sound_host.h"

namespace {

constexpr const char* kConfig =
    "[general]\n"
    "mastercontroller=Master\n"
    "[sounditems]\n"
    "Horn, horn.wav\n"
    "Chime, chime.wav, -1000\n";

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        host.WriteConfig(kConfig);
        host.Write("horn.wav", ToneWav({.frequency = 500, .seconds = 1}));
        host.Write("chime.wav", ToneWav({.frequency = 1000, .seconds = 1}));
    }

    // Plays the horn once and says whether it sounds afterwards.
    bool HornPlays() {
        host.Set("Horn", 1);
        host.Update();
        const std::vector<TwSoundBufferInfo> buffers = host.Buffers();
        return !buffers.empty() && buffers.front().playing;
    }

    SoundHost host;
};

TEST_F(Lifecycle, LoadOpensSimConnectAndSubscribesToTheFiveEvents) {
    host.LoadModuleOnly();
    EXPECT_EQ(host.SimConnectCalls(),
              (std::vector<std::string>{
                  "Open(\"TWSoundGauge\", window 0, user event 0, event handle 0, configuration -1) -> 0",
                  "SubscribeToSystemEvent(0, \"Pause\") -> 0", "SubscribeToSystemEvent(2, \"SimStart\") -> 0",
                  "SubscribeToSystemEvent(3, \"SimStop\") -> 0", "SubscribeToSystemEvent(4, \"View\") -> 0",
                  "SubscribeToSystemEvent(5, \"Sound\") -> 0", "CallDispatch(context 0) -> 0"}));
    EXPECT_TRUE(TwSimConnectHasDispatch());
    host.sim().UnloadModule(host.module());
    EXPECT_EQ(host.SimConnectCalls().back(), "Close() -> 0");
    EXPECT_FALSE(TwSimConnectIsOpen());
}

TEST_F(Lifecycle, AFailedSubscriptionLeavesTheOthers) {
    TwSimConnectRefuseSubscription("SimStart", TRUE);
    host.Load();
    EXPECT_EQ(host.SimConnectCalls().size(), 7u);
    EXPECT_FALSE(host.sim().SimStart());
    EXPECT_TRUE(host.sim().SimStop());
}

TEST_F(Lifecycle, TheGaugeShowsNothingAndHasNoTooltip) {
    host.Load();
    GaugeHeader* header = host.gauge()->header;
    EXPECT_STREQ(header->name, "tw_sound");
    EXPECT_EQ(header->defaultSize, 1u);
    const std::vector<ElementHeader*> chain = ElementChain(*header);
    ASSERT_EQ(chain.size(), 1u);
    EXPECT_EQ(chain[0]->kind, kStaticImage);
    EXPECT_EQ(chain[0]->bitmapId, 1280u);
    EXPECT_EQ(chain[0]->imageFlags, 0x1u);
    const auto bitmap = host.module()->Bitmap(1280);
    ASSERT_GE(bitmap.size(), 40u + 4 + 4);
    const uint8_t* dib = bitmap.data();
    auto u32 = [&](size_t at) { return dib[at] | dib[at + 1] << 8 | dib[at + 2] << 16 | dib[at + 3] << 24; };
    EXPECT_EQ(u32(4), 1u);             // width
    EXPECT_EQ(u32(8), 1u);             // height
    EXPECT_EQ(dib[14], 8);             // bits per pixel, with a palette
    const uint32_t colours = u32(32) != 0 ? u32(32) : 256;
    ASSERT_EQ(bitmap.size(), 40 + 4 * colours + 4);
    const uint8_t index = dib[40 + 4 * colours];
    ASSERT_LT(index, colours);
    EXPECT_EQ(dib[40 + 4 * index] | dib[41 + 4 * index] | dib[42 + 4 * index], 0);  // black
    EXPECT_EQ(host.sim().Tooltip(*host.gauge()), "");
    const MouseRectangle* mouse = header->mouseRectangles;
    EXPECT_EQ(mouse[0].kind, 1u);
    EXPECT_EQ(mouse[1].kind, 3u);
    EXPECT_EQ(mouse[2].kind, 0u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mouse[i].cursor, -1);
}

TEST_F(Lifecycle, PlacingLogsTheDeviceThenLoadsEverySound) {
    host.Load();
    const std::vector<int> numbers = Numbers(host.Log());
    const std::vector<int> device = {20, 21, 23, 25, 2};
    ASSERT_GE(numbers.size(), device.size());
    EXPECT_EQ(std::vector<int>(numbers.begin(), numbers.begin() + 5), device);
    EXPECT_EQ(host.Buffers().size(), 2u);
}

TEST_F(Lifecycle, ServiceCodesOtherThanTheFourDoNothing) {
    host.Load();
    host.ClearLog();
    host.ClearSoundCalls();
    host.sim().ClearCodeLog();
    GaugeHeader* header = host.gauge()->header;
    for (int32_t code : {0, 1, 2, 3, 5, 7, 8, 9, 10, 11, 13, 15, 16, 100, -1, -12, INT32_MIN}) {
        header->callback(header, code, 0);
    }
    EXPECT_TRUE(host.Log().empty());
    EXPECT_TRUE(host.SoundCalls().empty());
    EXPECT_TRUE(host.sim().codeLog().empty());
}

TEST_F(Lifecycle, ASecondPreInitialiseDoesNotReadTheConfigurationAgain) {
    host.Load();
    host.WriteConfig("[sounditems]\nChime, chime.wav\n");
    host.ClearLog();
    host.gauge()->header->callback(host.gauge()->header, 4, 0);
    EXPECT_TRUE(host.Log().empty());
    EXPECT_TRUE(HornPlays());
}

TEST_F(Lifecycle, ASecondConnectMakesAnotherDeviceAndTheSoundsKeepPlaying) {
    host.Load();
    host.Set("Horn", 2);
    host.Update();
    host.ClearLog();
    host.gauge()->header->callback(host.gauge()->header, 14, 0);
    EXPECT_EQ(Numbers(host.Log()), (std::vector<int>{20, 21, 23, 25, 2}));
    EXPECT_EQ(TwSoundLiveDevices(), 2u);
    host.Update(10);
    EXPECT_TRUE(host.Buffers().front().playing);
    host.Set("Horn", 0);
    host.Update();
    EXPECT_FALSE(host.Buffers().front().playing);
    // Pre-kill releases both devices.
    host.sim().RemoveGauge(host.gauge());
    EXPECT_EQ(TwSoundLiveDevices(), 0u);
    EXPECT_EQ(TwSoundLiveBuffers(), 0u);
    EXPECT_EQ(TwSoundFaultCount(), 0u);
}

TEST_F(Lifecycle, PreKillThenConnectGivesTheSoundsBack) {
    host.Load();
    host.Set("Horn", 2);
    host.Update(5);
    host.ClearLog();
    host.sim().RemoveGauge(host.gauge());
    EXPECT_EQ(Numbers(host.Log()), (std::vector<int>{28, 29}));
    EXPECT_EQ(TwSoundLiveDevices(), 0u);
    EXPECT_EQ(TwSoundLiveBuffers(), 0u);

    // The panel opens again: connect-to-window makes a device and the
    // buffers again, filled from the open files; pre-initialise reads nothing.
    host.ClearLog();
    host.Place();
    const std::vector<int> numbers = Numbers(host.Log());
    const std::vector<int> again = {20, 21, 23, 25, 2,                        // the device
                                    30, 32, 34, 35, 36, 39, 41, 42, 43, 44,  // slot 0
                                    30, 32, 34, 35, 36, 39, 41, 42, 43, 44};  // slot 1
    EXPECT_EQ(numbers, again);
    ASSERT_EQ(host.Buffers().size(), 2u);
    EXPECT_TRUE(HornPlays());
    // The refilled buffer holds the sound from its start.
    const TwSoundBufferInfo chime = host.Buffers()[1];
    EXPECT_EQ(0, std::memcmp(TwSoundBufferBytes(chime.id), ToneWav({.frequency = 1000, .seconds = 1}).data() + 44,
                             chime.bytes));
    EXPECT_EQ(TwSoundFaultCount(), 0u);
}

TEST_F(Lifecycle, CommandsWhileNoDeviceIsHeldAreAcknowledgedWithoutFaults) {
    host.Load();
    PlacedGauge* first = host.gauge();
    PlacedGauge* second = host.Place();  // a second tw_sound on the panel
    host.sim().RemoveGauge(first);       // its pre-kill releases the one device
    host.Set("Horn", 1);
    host.Set("Master", 2);
    host.ClearLog();
    host.Update();
    EXPECT_EQ(host.Get("Horn"), -1);
    EXPECT_EQ(host.Get("Master"), 0);
    EXPECT_EQ(TwSoundFaultCount(), 0u);
    EXPECT_EQ(Numbers(host.Log()), (std::vector<int>{61, 60, 61, 60, 4, 14, 60, 62, 52, 53}));
    host.sim().RemoveGauge(second);
}

TEST_F(Lifecycle, TwoGaugesOnAPanelRunTheSameModuleState) {
    host.Load();
    host.Place();
    host.Set("Horn", 1);
    host.Update();  // the first gauge's update executes it; the second finds -1
    EXPECT_EQ(CountCalls(host, LiveBuffer(0), "Play(flags 0)"), 1);
    EXPECT_EQ(TwSoundLiveDevices(), 2u);
}

TEST_F(Lifecycle, PreInitialiseBeforeAnyConnectWaitsForTheFirstConnect) {
    host.LoadModuleOnly();
    // A simulator that initialises first: the callback by hand.
    GaugeHeader* header = host.module()->FindGauge("tw_sound");
    header->callback(header, 4, 0);
    EXPECT_EQ(TwSoundLiveBuffers(), 0u);
    header->callback(header, 14, 0);
    EXPECT_EQ(TwSoundLiveBuffers(), 2u);
    header->callback(header, 4, 0);
    EXPECT_EQ(TwSoundLiveBuffers(), 2u);
    header->callback(header, 6, 0);
    host.Set("Chime", 1);
    header->callback(header, 6, 0);
    EXPECT_TRUE(host.Buffers()[1].playing);
    header->callback(header, 12, 0);
}

TEST_F(Lifecycle, ReloadingTheModuleStartsAfresh) {
    host.Load();
    host.sim().Pause(true);
    host.Update();
    host.sim().UnloadModule(host.module());
    EXPECT_EQ(TwSoundLiveDevices(), 0u);
    host.Load();  // a new aircraft: the new module has heard no pause
    EXPECT_TRUE(HornPlays());
}

TEST_F(Lifecycle, UnloadingGivesBackEveryOpenFileBufferAndDevice) {
    const int before = TwPlatformOpenMmioCount();
    host.Load();
    ASSERT_TRUE(HornPlays());
    EXPECT_EQ(TwPlatformOpenMmioCount(), before + 2);  // each slot keeps its WAV file open
    host.sim().UnloadModule(host.module());
    EXPECT_EQ(TwPlatformOpenMmioCount(), before);
    EXPECT_EQ(TwSoundLiveBuffers(), 0u);
    EXPECT_EQ(TwSoundLiveDevices(), 0u);
    EXPECT_EQ(TwSoundFaultCount(), 0u);
}

TEST_F(Lifecycle, StoppingWithoutAPreKillReleasesTheDeviceToo) {
    const int before = TwPlatformOpenMmioCount();
    host.Load();
    ASSERT_TRUE(HornPlays());
    // A simulator that stops the module with its gauge still placed.
    host.module()->linkage()->moduleStop();
    EXPECT_EQ(TwSoundLiveBuffers(), 0u);
    EXPECT_EQ(TwSoundLiveDevices(), 0u);
    EXPECT_EQ(TwPlatformOpenMmioCount(), before);
}

TEST_F(Lifecycle, WithoutLogfileNothingIsLoggedAndNothingCreated) {
    host.RemoveLogFile();
    host.Load();
    EXPECT_TRUE(HornPlays());
    EXPECT_FALSE(std::filesystem::exists(host.soundFolder() / "logfile.txt"));
}

}  // namespace

namespace {

TEST(ModuleFile, ExportsOnlyWhatTheSimulatorAndTheHostLookUp) {
    // The records the simulator finds by name, and natively the bitmap
    // table that stands in for the resources of the Windows file.
    std::FILE* nm = popen("nm -D --defined-only " TW_SOUND_PATH, "r");
    ASSERT_NE(nm, nullptr);
    std::vector<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, nm) != nullptr) {
        char type = 0;
        char name[256] = {};
        if (std::sscanf(line, "%*s %c %255s", &type, name) == 2 && std::string(name).rfind('_', 0) != 0) {
            exported.emplace_back(name);
        }
    }
    ASSERT_EQ(pclose(nm), 0);
    std::sort(exported.begin(), exported.end());
    EXPECT_EQ(exported, (std::vector<std::string>{"ImportTable", "Linkage", "TwBitmapResources"}));
}

}  // namespace
