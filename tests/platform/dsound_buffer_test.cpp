// The DirectSound stand-in's buffers: playing once and looping, stopping,
// the play position, volume and pan controls, locking and unlocking, and
// lost buffers.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "sound_fixture.h"

namespace sound_test {
namespace {

using DirectSoundBuffer = SoundTest;

// 16-bit mono at the output rate: one output frame per source frame, and
// every sample distinct, so output frames name the source frames they came from.
std::vector<uint8_t> Ramp(size_t frames) {
    std::vector<uint8_t> bytes(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(i + 1);
        std::memcpy(&bytes[2 * i], &v, 2);
    }
    return bytes;
}

TEST_F(DirectSoundBuffer, PlayedOnceStopsAtItsEndAndGoesBackToTheStart) {
    IDirectSoundBuffer* buffer = Make(Pcm(16, 1, 44100), 1000, 0);
    Fill(buffer, Ramp(1000));
    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    EXPECT_EQ(Status(buffer), DWORD{DSBSTATUS_PLAYING});

    std::vector<int16_t> out = Mix(999);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 1) << "mono feeds both channels";
    EXPECT_EQ(out[2 * 998], 999);
    EXPECT_EQ(Status(buffer), DWORD{DSBSTATUS_PLAYING});
    EXPECT_EQ(Position(buffer), 2u * 999);

    out = Mix(3);
    EXPECT_EQ(out[0], 1000) << "the last frame still plays";
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(Status(buffer), 0u);
    EXPECT_EQ(Position(buffer), 0u);
    EXPECT_EQ(InfoOf(1).framesPlayed, 1000u);

    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    EXPECT_EQ(Mix(1)[0], 1) << "the next Play starts at the beginning";
}

TEST_F(DirectSoundBuffer, EndComesAfterTheLastFrameAtAnyRate) {
    // A 1000-frame buffer lasts 1000 * 44100 / rate output frames.
    struct Case {
        uint32_t rate;
        size_t outputFrames;
    };
    for (const Case& c : {Case{44100, 1000}, Case{22050, 2000}, Case{11025, 4000}, Case{88200, 500}}) {
        SCOPED_TRACE(c.rate);
        IDirectSoundBuffer* buffer = MakeTone(Pcm(8, 2, c.rate), 1000, 100, 0.5);
        ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
        Mix(c.outputFrames - 1);
        EXPECT_EQ(Status(buffer), DWORD{DSBSTATUS_PLAYING});
        Mix(1);
        EXPECT_EQ(Status(buffer), 0u);
        EXPECT_EQ(Position(buffer), 0u);
        buffer->Release();
    }
}

TEST_F(DirectSoundBuffer, LoopingContinuesAcrossTheEnd) {
    IDirectSoundBuffer* buffer = Make(Pcm(16, 1, 44100), 1000, 0);
    Fill(buffer, Ramp(1000));
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(Status(buffer), DWORD{DSBSTATUS_PLAYING | DSBSTATUS_LOOPING});
    const std::vector<int16_t> out = Mix(2500);
    for (size_t i = 0; i < 2500; ++i) ASSERT_EQ(out[2 * i], static_cast<int16_t>(i % 1000 + 1)) << i;
    EXPECT_EQ(Status(buffer), DWORD{DSBSTATUS_PLAYING | DSBSTATUS_LOOPING});
    EXPECT_EQ(Position(buffer), 2u * 500);
    EXPECT_EQ(InfoOf(1).framesPlayed, 2500u);
}

TEST_F(DirectSoundBuffer, TinyLoopWrapsManyTimesInOneMix) {
    // One frame at the highest rate against the lowest output rate: each
    // output frame moves on 2000 source frames.
    TwSoundSetOutputRate(DSBFREQUENCY_MIN);
    IDirectSoundBuffer* buffer = Make(Pcm(16, 2, DSBFREQUENCY_MAX), 1, 0);
    Fill(buffer, {0x10, 0x00, 0x20, 0x00});
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    const std::vector<int16_t> out = Mix(3);
    EXPECT_EQ(out, (std::vector<int16_t>{16, 32, 16, 32, 16, 32}));
    EXPECT_EQ(Position(buffer), 0u);
    EXPECT_EQ(InfoOf(1).framesPlayed, 6000u);
}

TEST_F(DirectSoundBuffer, StopKeepsThePositionAndPlayGoesOnFromIt) {
    IDirectSoundBuffer* buffer = Make(Pcm(16, 1, 44100), 1000, 0);
    Fill(buffer, Ramp(1000));
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    Mix(300);
    ASSERT_EQ(buffer->Stop(), DS_OK);
    EXPECT_EQ(Status(buffer), 0u);
    EXPECT_EQ(Position(buffer), 600u);
    EXPECT_EQ(Mix(50)[0], 0) << "stopped";
    EXPECT_EQ(Position(buffer), 600u);
    EXPECT_EQ(buffer->Stop(), DS_OK) << "stopping a stopped buffer";
    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    EXPECT_EQ(Mix(1)[0], 301);
}

TEST_F(DirectSoundBuffer, PlayWhilePlayingChangesOnlyTheLooping) {
    IDirectSoundBuffer* buffer = Make(Pcm(16, 1, 44100), 1000, 0);
    Fill(buffer, Ramp(1000));
    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    Mix(300);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_EQ(Position(buffer), 600u) << "not restarted";
    EXPECT_EQ(Status(buffer), DWORD{DSBSTATUS_PLAYING | DSBSTATUS_LOOPING});
    EXPECT_EQ(Mix(800)[2 * 750], 51) << "looped round";

    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    EXPECT_EQ(Status(buffer), DWORD{DSBSTATUS_PLAYING});
    Mix(899);
    EXPECT_EQ(Status(buffer), DWORD{DSBSTATUS_PLAYING});
    Mix(1);
    EXPECT_EQ(Status(buffer), 0u) << "no longer looping: stops at the end";
}

TEST_F(DirectSoundBuffer, PlayChecksItsArguments) {
    IDirectSoundBuffer* buffer = Make(Pcm(16, 1, 44100), 100);
    EXPECT_EQ(buffer->Play(1, 0, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->Play(0, 1, 0), DSERR_INVALIDPARAM) << "priority only for deferred buffers";
    EXPECT_EQ(Status(buffer), 0u);
    IDirectSoundBuffer* deferred = Make(Pcm(16, 1, 44100), 100, DSBCAPS_LOCDEFER);
    EXPECT_EQ(deferred->Play(0, 1, 0), DS_OK);
}

TEST_F(DirectSoundBuffer, SetCurrentPosition) {
    // 16-bit stereo: 4-byte blocks, 250 whole frames in 1002 bytes.
    WAVEFORMATEX format = Pcm(16, 2, 44100);
    DSBUFFERDESC desc = Desc(0, 1002, &format);
    IDirectSoundBuffer* buffer = nullptr;
    ASSERT_EQ(device->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
    struct Case {
        DWORD set;
        HRESULT expected;
        DWORD position;
    };
    const Case cases[] = {
        {8, DS_OK, 8},     {10, DS_OK, 8},  {0, DS_OK, 0},   {999, DS_OK, 996},
        {1001, DS_OK, 1000}, {1002, DSERR_INVALIDPARAM, 1000}, {0xFFFFFFFF, DSERR_INVALIDPARAM, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        EXPECT_EQ(buffer->SetCurrentPosition(c.set), c.expected);
        EXPECT_EQ(Position(buffer), c.position);
    }
    // Past the last whole frame: a buffer played once ends at once.
    ASSERT_EQ(buffer->Play(0, 0, 0), DS_OK);
    Mix(1);
    EXPECT_EQ(Status(buffer), 0u);
    EXPECT_EQ(Position(buffer), 0u);
}

TEST_F(DirectSoundBuffer, PositionMovesWhilePlayingFromWhereItWasSet) {
    IDirectSoundBuffer* buffer = Make(Pcm(16, 1, 44100), 1000, 0);
    Fill(buffer, Ramp(1000));
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    Mix(10);
    ASSERT_EQ(buffer->SetCurrentPosition(2 * 900), DS_OK);
    const std::vector<int16_t> out = Mix(2);
    EXPECT_EQ(out[0], 901);
    DWORD play = 0, write = 0;
    ASSERT_EQ(buffer->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, 2u * 902);
    EXPECT_EQ(write, play);
    EXPECT_EQ(buffer->GetCurrentPosition(nullptr, &write), DS_OK);
}

// Volume and pan: capability, range, and the old value kept on a refusal.
TEST_F(DirectSoundBuffer, VolumeAndPanControls) {
    struct Case {
        const char* name;
        bool pan;  // else volume
        LONG value;
        HRESULT expected;
    };
    const Case cases[] = {
        {"volume at the top", false, 0, DS_OK},
        {"volume at the bottom", false, -10000, DS_OK},
        {"volume -600", false, -600, DS_OK},
        {"volume above 0", false, 1, DSERR_INVALIDPARAM},
        {"volume below -10000", false, -10001, DSERR_INVALIDPARAM},
        {"pan left", true, -10000, DS_OK},
        {"pan right", true, 10000, DS_OK},
        {"pan 2500", true, 2500, DS_OK},
        {"pan beyond the right", true, 10001, DSERR_INVALIDPARAM},
        {"pan beyond the left", true, -10001, DSERR_INVALIDPARAM},
    };
    IDirectSoundBuffer* buffer = Make(Pcm(16, 1, 44100), 100);
    LONG volume = -1234, pan = 4321;
    EXPECT_EQ(buffer->GetVolume(&volume), DS_OK);
    EXPECT_EQ(volume, 0);
    EXPECT_EQ(buffer->GetPan(&pan), DS_OK);
    EXPECT_EQ(pan, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LONG before = 0, after = 0;
        auto get = [&](LONG* v) { return c.pan ? buffer->GetPan(v) : buffer->GetVolume(v); };
        ASSERT_EQ(get(&before), DS_OK);
        EXPECT_EQ(c.pan ? buffer->SetPan(c.value) : buffer->SetVolume(c.value), c.expected);
        ASSERT_EQ(get(&after), DS_OK);
        EXPECT_EQ(after, c.expected == DS_OK ? c.value : before);
        EXPECT_EQ(c.pan ? InfoOf(1).pan : InfoOf(1).volume, after);
    }
    EXPECT_EQ(buffer->GetVolume(nullptr), DSERR_INVALIDPARAM);

    // Without the capability, neither can be read or set.
    IDirectSoundBuffer* volumeOnly = Make(Pcm(16, 1, 44100), 100, DSBCAPS_CTRLVOLUME);
    IDirectSoundBuffer* panOnly = Make(Pcm(16, 1, 44100), 100, DSBCAPS_CTRLPAN);
    EXPECT_EQ(volumeOnly->SetPan(0), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(volumeOnly->GetPan(&pan), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(volumeOnly->SetVolume(-100), DS_OK);
    EXPECT_EQ(panOnly->SetVolume(0), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(panOnly->GetVolume(&volume), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(panOnly->SetPan(100), DS_OK);
}

// Locks of a 1000-byte buffer (16-bit mono, 500 frames).
struct LockCase {
    const char* name;
    DWORD offset;
    DWORD bytes;
    DWORD flags;
    bool secondPointer;
    HRESULT expected;
    DWORD firstOffset, firstBytes;
    DWORD secondBytes;  // a second region always starts at 0
};

TEST_F(DirectSoundBuffer, LockRegions) {
    const LockCase cases[] = {
        {"whole buffer", 0, 1000, 0, true, DS_OK, 0, 1000, 0},
        {"entire-buffer flag", 0, 0, DSBLOCK_ENTIREBUFFER, true, DS_OK, 0, 1000, 0},
        {"entire-buffer flag ignores the count", 0, 7, DSBLOCK_ENTIREBUFFER, false, DS_OK, 0, 1000, 0},
        {"middle", 200, 300, 0, false, DS_OK, 200, 300, 0},
        {"up to the end exactly", 100, 900, 0, false, DS_OK, 100, 900, 0},
        {"wrapping", 900, 200, 0, true, DS_OK, 900, 100, 100},
        {"entire buffer from an offset wraps", 200, 0, DSBLOCK_ENTIREBUFFER, true, DS_OK, 200, 800, 200},
        {"from the write cursor", 0, 100, DSBLOCK_FROMWRITECURSOR, true, DS_OK, 400, 100, 0},
        {"wrapping without a second pointer", 900, 200, 0, false, DSERR_INVALIDPARAM, 0, 0, 0},
        {"no bytes", 0, 0, 0, true, DSERR_INVALIDPARAM, 0, 0, 0},
        {"more than the buffer", 0, 1001, 0, true, DSERR_INVALIDPARAM, 0, 0, 0},
        {"offset at the end", 1000, 10, 0, true, DSERR_INVALIDPARAM, 0, 0, 0},
    };
    IDirectSoundBuffer* buffer = Make(Pcm(16, 1, 44100), 500);
    ASSERT_EQ(buffer->SetCurrentPosition(400), DS_OK);
    const uint8_t* base = TwSoundBufferBytes(1);
    for (const LockCase& c : cases) {
        SCOPED_TRACE(c.name);
        void* p1 = this;
        void* p2 = this;
        DWORD n1 = 77, n2 = 77;
        const HRESULT hr = buffer->Lock(c.offset, c.bytes, &p1, &n1, c.secondPointer ? &p2 : nullptr,
                                        c.secondPointer ? &n2 : nullptr, c.flags);
        ASSERT_EQ(hr, c.expected);
        if (hr != DS_OK) {
            EXPECT_EQ(p1, nullptr);
            EXPECT_EQ(n1, 0u);
            continue;
        }
        EXPECT_EQ(p1, base + c.firstOffset);
        EXPECT_EQ(n1, c.firstBytes);
        if (c.secondPointer) {
            EXPECT_EQ(n2, c.secondBytes);
            EXPECT_EQ(p2, c.secondBytes != 0 ? base : nullptr);
        }
        EXPECT_EQ(buffer->Unlock(p1, n1, c.secondPointer ? p2 : nullptr, c.secondPointer ? n2 : 0), DS_OK);
    }
    void* p1;
    DWORD n1;
    EXPECT_EQ(buffer->Lock(0, 10, nullptr, &n1, nullptr, nullptr, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->Lock(0, 10, &p1, nullptr, nullptr, nullptr, 0), DSERR_INVALIDPARAM);
}

TEST_F(DirectSoundBuffer, SplitLockHandsOutTwoHalvesOfWholeBlocks) {
    // 16-bit stereo, 5 frames: halves of 2 and 3 frames.
    IDirectSoundBuffer* buffer = Make(Pcm(16, 2, 44100), 5);
    const uint8_t* base = TwSoundBufferBytes(1);
    void *p1, *p2;
    DWORD n1, n2;
    TwSoundSplitLock(2);
    // Only a caller that can take a second region gets one, and only a lock
    // of the whole buffer from its start is split.
    ASSERT_EQ(buffer->Lock(0, 0, &p1, &n1, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
    EXPECT_EQ(n1, 20u);
    buffer->Unlock(p1, n1, nullptr, 0);
    ASSERT_EQ(buffer->Lock(4, 8, &p1, &n1, &p2, &n2, 0), DS_OK);
    EXPECT_EQ(n1, 8u);
    EXPECT_EQ(p2, nullptr);
    buffer->Unlock(p1, n1, p2, n2);

    for (DWORD flags : {DWORD{DSBLOCK_ENTIREBUFFER}, DWORD{0}}) {
        ASSERT_EQ(buffer->Lock(0, 20, &p1, &n1, &p2, &n2, flags), DS_OK);
        EXPECT_EQ(p1, base);
        EXPECT_EQ(n1, 8u);
        EXPECT_EQ(p2, base + 8);
        EXPECT_EQ(n2, 12u);
        EXPECT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
    }
    ASSERT_EQ(buffer->Lock(0, 20, &p1, &n1, &p2, &n2, 0), DS_OK);
    EXPECT_EQ(n1, 20u) << "two splits used up";
    buffer->Unlock(p1, n1, p2, n2);

    // The module's fill, written through both regions, lands whole.
    TwSoundSplitLock(-1);
    std::vector<uint8_t> bytes(20);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i + 1);
    Fill(buffer, bytes);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), TwSoundBufferBytes(1)));
}

TEST_F(DirectSoundBuffer, UnlockTakesOnlyTheLastLocksRegions) {
    IDirectSoundBuffer* buffer = Make(Pcm(16, 1, 44100), 500);
    void *p1, *p2;
    DWORD n1, n2;
    EXPECT_EQ(buffer->Unlock(const_cast<uint8_t*>(TwSoundBufferBytes(1)), 10, nullptr, 0), DSERR_INVALIDPARAM) << "nothing locked";
    ASSERT_EQ(buffer->Lock(900, 200, &p1, &n1, &p2, &n2, 0), DS_OK);
    auto* first = static_cast<uint8_t*>(p1);
    struct Case {
        const char* name;
        void* p1;
        DWORD n1;
        void* p2;
        DWORD n2;
    };
    const Case refused[] = {
        {"first pointer elsewhere", first + 2, 98, p2, 100},
        {"first pointer null", nullptr, 0, p2, 100},
        {"more than was locked first", first, 101, p2, 100},
        {"second pointer elsewhere", first, 100, first, 100},
        {"more than was locked second", first, 100, p2, 101},
        {"bytes without a second pointer", first, 100, nullptr, 4},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(buffer->Unlock(c.p1, c.n1, c.p2, c.n2), DSERR_INVALIDPARAM);
    }
    EXPECT_EQ(buffer->Unlock(first, 50, p2, 0), DS_OK) << "less than was locked";
    EXPECT_EQ(buffer->Unlock(first, 50, p2, 0), DSERR_INVALIDPARAM) << "already unlocked";

    // A new lock takes the place of one never unlocked.
    ASSERT_EQ(buffer->Lock(0, 10, &p1, &n1, nullptr, nullptr, 0), DS_OK);
    void* older = p1;
    ASSERT_EQ(buffer->Lock(100, 10, &p1, &n1, nullptr, nullptr, 0), DS_OK);
    EXPECT_EQ(buffer->Unlock(older, 10, nullptr, 0), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->Unlock(p1, 10, nullptr, 0), DS_OK);
}

TEST_F(DirectSoundBuffer, LostBufferRefusesPlayAndLockUntilRestored) {
    IDirectSoundBuffer* buffer = MakeTone(Pcm(16, 1, 44100), 500, 441, 0.5);
    ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    Mix(100);
    ASSERT_TRUE(TwSoundLoseBuffer(1, 2));
    EXPECT_EQ(Status(buffer), DWORD{DSBSTATUS_BUFFERLOST}) << "stopped";
    EXPECT_TRUE(InfoOf(1).lost);
    EXPECT_EQ(PeakAbs(Channel(Mix(100), 0)), 0.0);

    void* p1;
    DWORD n1;
    EXPECT_EQ(buffer->Play(0, 0, 0), DSERR_BUFFERLOST);
    EXPECT_EQ(buffer->Lock(0, 10, &p1, &n1, nullptr, nullptr, 0), DSERR_BUFFERLOST);
    EXPECT_EQ(buffer->SetVolume(-100), DS_OK) << "controls still work";
    EXPECT_EQ(buffer->Restore(), DSERR_BUFFERLOST);
    EXPECT_EQ(buffer->Restore(), DSERR_BUFFERLOST);
    EXPECT_EQ(Status(buffer), DWORD{DSBSTATUS_BUFFERLOST});
    EXPECT_EQ(buffer->Restore(), DS_OK);
    EXPECT_EQ(Status(buffer), 0u);
    EXPECT_EQ(buffer->Restore(), DS_OK) << "nothing to restore";

    // Nothing of the sound is left.
    const uint8_t* bytes = TwSoundBufferBytes(1);
    EXPECT_EQ(std::count(bytes, bytes + 1000, 0), 1000);
    EXPECT_EQ(Position(buffer), 0u);
    ASSERT_EQ(buffer->Lock(0, 10, &p1, &n1, nullptr, nullptr, 0), DS_OK);
    EXPECT_EQ(buffer->Unlock(p1, n1, nullptr, 0), DS_OK);
    EXPECT_EQ(buffer->Play(0, 0, 0), DS_OK);
}

TEST_F(DirectSoundBuffer, LostForGoodUntilLostAgainWithACount) {
    IDirectSoundBuffer* buffer = Make(Pcm(16, 1, 44100), 500);
    ASSERT_TRUE(TwSoundLoseBuffer(1, -1));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(buffer->Restore(), DSERR_BUFFERLOST);
    ASSERT_TRUE(TwSoundLoseBuffer(1, 0));
    EXPECT_EQ(buffer->Restore(), DS_OK);
    EXPECT_FALSE(TwSoundLoseBuffer(2, 0)) << "no such buffer";
    EXPECT_FALSE(TwSoundLoseBuffer(0, 0));
    buffer->Release();
    EXPECT_FALSE(TwSoundLoseBuffer(1, 0)) << "released";
}

TEST_F(DirectSoundBuffer, ReleasedBufferGivesItsMemoryBackAndLeavesTheList) {
    IDirectSoundBuffer* first = Make(Pcm(16, 1, 44100), 500);
    IDirectSoundBuffer* second = MakeTone(Pcm(16, 1, 44100), 500, 441, 0.5);
    ASSERT_EQ(second->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    TwSoundBufferInfo list[4];
    ASSERT_EQ(TwSoundListBuffers(list, 1), 2u) << "counts all, copies what fits";
    EXPECT_EQ(list[0].id, 1u);
    ASSERT_EQ(TwSoundListBuffers(list, 4), 2u);
    EXPECT_EQ(list[1].id, 2u);
    EXPECT_TRUE(list[1].playing);
    EXPECT_TRUE(list[1].looping);

    ASSERT_EQ(second->Release(), 0u);
    EXPECT_EQ(PeakAbs(Channel(Mix(100), 0)), 0.0) << "stopped sounding";
    EXPECT_EQ(TwSoundLiveBuffers(), 1u);
    EXPECT_EQ(TwSoundBufferBytes(2), nullptr);
    EXPECT_TRUE(InfoOf(2).released);
    ASSERT_EQ(TwSoundListBuffers(list, 4), 1u);
    EXPECT_EQ(list[0].id, 1u);
    first->Release();
    EXPECT_EQ(TwSoundLiveBuffers(), 0u);
    EXPECT_FALSE(TwSoundGetBuffer(3, nullptr));
}

// In a child with its address space capped: a buffer whose memory cannot
// be had refuses Lock and Play; exits 0 when both said DSERR_OUTOFMEMORY.
[[noreturn, maybe_unused]] void LockAndPlayWithoutMemory(IDirectSoundBuffer* buffer) {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    statm >> pages;
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = pages * static_cast<size_t>(::sysconf(_SC_PAGESIZE)) + 64 * 1024 * 1024;
    setrlimit(RLIMIT_AS, &limit);
    void *p1, *p2;
    DWORD n1, n2;
    const bool lockFailed = buffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER) == DSERR_OUTOFMEMORY;
    const bool playFailed = buffer->Play(0, 0, 0) == DSERR_OUTOFMEMORY;
    std::exit(lockFailed && playFailed ? 0 : 1);
}

TEST_F(DirectSoundBuffer, OutOfMemoryIsAFailureNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any cap allows";
#else
    IDirectSoundBuffer* buffer = Make(Pcm(16, 2, 44100), DSBSIZE_MAX / 4);
    EXPECT_EXIT(LockAndPlayWithoutMemory(buffer), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace sound_test
