// The DirectSound stand-in's device: creating it, the cooperative level,
// which buffers it makes and refuses, the refusals the host injects, what
// releasing does to it and its buffers, and the call record.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "sound_fixture.h"

namespace sound_test {
namespace {

using DirectSoundDevice = SoundTest;

TEST_F(DirectSoundDevice, CreateChecksItsArgumentsAndNumbersDevices) {
    IDirectSound* second = reinterpret_cast<IDirectSound*>(1);
    GUID someDevice{};
    EXPECT_EQ(DirectSoundCreate(&someDevice, &second, nullptr), DSERR_NODRIVER) << "only the default device";
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(DirectSoundCreate(nullptr, nullptr, nullptr), DSERR_INVALIDPARAM);
    second = reinterpret_cast<IDirectSound*>(1);
    EXPECT_EQ(DirectSoundCreate(nullptr, &second, reinterpret_cast<IUnknown*>(device)), DSERR_INVALIDPARAM);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(TwSoundLiveDevices(), 1u);

    ASSERT_EQ(DirectSoundCreate(nullptr, &second, nullptr), DS_OK);
    EXPECT_NE(second, device);
    EXPECT_EQ(TwSoundLiveDevices(), 2u);
    EXPECT_EQ(Calls().back(), "DirectSoundCreate -> 0, device 2");
    EXPECT_EQ(second->Release(), 0u);
    EXPECT_EQ(TwSoundLiveDevices(), 1u);
}

TEST_F(DirectSoundDevice, CooperativeLevelNeedsARegisteredWindow) {
    HWND other = TwPlatformRegisterWindow("Other");
    EXPECT_EQ(device->SetCooperativeLevel(other, DSSCL_NORMAL), DS_OK);
    // No "FS98MAIN" window: FindWindowA gives 0.
    TwPlatformUnregisterWindow(window);
    EXPECT_EQ(device->SetCooperativeLevel(FindWindowA("FS98MAIN", nullptr), DSSCL_PRIORITY), DSERR_INVALIDPARAM);
    EXPECT_EQ(device->SetCooperativeLevel(window, DSSCL_PRIORITY), DSERR_INVALIDPARAM) << "window gone";
    EXPECT_EQ(device->SetCooperativeLevel(other, 0), DSERR_INVALIDPARAM) << "no such level";
    EXPECT_EQ(device->SetCooperativeLevel(other, 5), DSERR_INVALIDPARAM);
}

TEST_F(DirectSoundDevice, ReferenceCountsAndInterfaces) {
    EXPECT_EQ(device->AddRef(), 2u);
    EXPECT_EQ(device->Release(), 1u);
    void* object = this;
    EXPECT_EQ(device->QueryInterface(GUID{}, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(device->GetCaps(nullptr), DSERR_UNSUPPORTED);
    EXPECT_EQ(device->Initialize(nullptr), DSERR_INVALIDCALL) << "already initialized";
    EXPECT_EQ(device->Compact(), DS_OK);
    DWORD speakers = 0;
    EXPECT_EQ(device->GetSpeakerConfig(&speakers), DS_OK);
    EXPECT_EQ(speakers, 4u) << "stereo";

    IDirectSoundBuffer* buffer = Make(Pcm(16, 1, 22050), 100);
    EXPECT_EQ(buffer->AddRef(), 2u);
    EXPECT_EQ(buffer->Release(), 1u);
    EXPECT_EQ(buffer->QueryInterface(GUID{}, &object), E_NOINTERFACE);
    EXPECT_EQ(buffer->Release(), 0u);
    EXPECT_EQ(device->Release(), 0u);
    EXPECT_EQ(TwSoundLiveDevices(), 0u);
}

// CreateSoundBuffer's checks, in the order DirectSound makes them.
struct CreateCase {
    const char* name;
    std::function<void(DSBUFFERDESC&, WAVEFORMATEX&)> change;
    HRESULT expected;
};

TEST_F(DirectSoundDevice, CreateSoundBufferValidation) {
    const std::vector<CreateCase> cases = {
        {"a valid buffer", [](auto&, auto&) {}, DS_OK},
        {"smallest size", [](auto& d, auto&) { d.dwBufferBytes = DSBSIZE_MIN; }, DS_OK},
        {"largest size", [](auto& d, auto&) { d.dwBufferBytes = DSBSIZE_MAX; }, DS_OK},
        {"size not whole blocks", [](auto& d, auto&) { d.dwBufferBytes = 4003; }, DS_OK},
        {"8-bit stereo at the lowest rate",
         [](auto&, auto& f) { f = Pcm(8, 2, DSBFREQUENCY_MIN); }, DS_OK},
        {"16-bit mono at the highest rate",
         [](auto&, auto& f) { f = Pcm(16, 1, DSBFREQUENCY_MAX); }, DS_OK},
        {"dwSize too small", [](auto& d, auto&) { d.dwSize = sizeof(DSBUFFERDESC) - 16; }, DSERR_INVALIDPARAM},
        {"dwSize 0", [](auto& d, auto&) { d.dwSize = 0; }, DSERR_INVALIDPARAM},
        {"primary buffer", [](auto& d, auto&) { d.dwFlags |= DSBCAPS_PRIMARYBUFFER; }, DSERR_UNSUPPORTED},
        {"no format", [](auto& d, auto&) { d.lpwfxFormat = nullptr; }, DSERR_INVALIDPARAM},
        {"not PCM", [](auto&, auto& f) { f.wFormatTag = 3; }, DSERR_BADFORMAT},
        {"24-bit", [](auto&, auto& f) { f = Pcm(24, 2, 44100); }, DSERR_BADFORMAT},
        {"4-bit", [](auto&, auto& f) { f.wBitsPerSample = 4; }, DSERR_BADFORMAT},
        {"no channels", [](auto&, auto& f) { f.nChannels = 0; }, DSERR_BADFORMAT},
        {"three channels", [](auto&, auto& f) { f = Pcm(16, 3, 44100); }, DSERR_BADFORMAT},
        {"block align too large", [](auto&, auto& f) { f.nBlockAlign = 8; }, DSERR_INVALIDPARAM},
        {"block align 0", [](auto&, auto& f) { f.nBlockAlign = 0; }, DSERR_INVALIDPARAM},
        {"rate below the lowest", [](auto&, auto& f) { f.nSamplesPerSec = DSBFREQUENCY_MIN - 1; }, DSERR_INVALIDPARAM},
        {"rate above the highest", [](auto&, auto& f) { f.nSamplesPerSec = DSBFREQUENCY_MAX + 1; }, DSERR_INVALIDPARAM},
        {"size below the smallest", [](auto& d, auto&) { d.dwBufferBytes = DSBSIZE_MIN - 1; }, DSERR_INVALIDPARAM},
        {"size 0", [](auto& d, auto&) { d.dwBufferBytes = 0; }, DSERR_INVALIDPARAM},
        {"size above the largest", [](auto& d, auto&) { d.dwBufferBytes = DSBSIZE_MAX + 1; }, DSERR_INVALIDPARAM},
    };
    for (const CreateCase& c : cases) {
        SCOPED_TRACE(c.name);
        WAVEFORMATEX format = Pcm(16, 2, 44100);
        DSBUFFERDESC desc = Desc(kControls, 8000, &format);
        c.change(desc, format);
        auto* buffer = reinterpret_cast<IDirectSoundBuffer*>(1);
        EXPECT_EQ(device->CreateSoundBuffer(&desc, &buffer, nullptr), c.expected);
        if (c.expected == DS_OK) {
            ASSERT_NE(buffer, nullptr);
            EXPECT_EQ(buffer->Release(), 0u);
        } else {
            EXPECT_EQ(buffer, nullptr) << "set to 0 on failure";
        }
    }
    WAVEFORMATEX format = Pcm(16, 2, 44100);
    DSBUFFERDESC desc = Desc(0, 8000, &format);
    IDirectSoundBuffer* buffer = nullptr;
    EXPECT_EQ(device->CreateSoundBuffer(nullptr, &buffer, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(device->CreateSoundBuffer(&desc, nullptr, nullptr), DSERR_INVALIDPARAM);
    EXPECT_EQ(device->CreateSoundBuffer(&desc, &buffer, reinterpret_cast<IUnknown*>(device)), DSERR_INVALIDPARAM);
    EXPECT_EQ(TwSoundLiveBuffers(), 0u);
}

TEST_F(DirectSoundDevice, BufferStartsSilentAndReportsItsFormat) {
    WAVEFORMATEX format = Pcm(8, 2, 22050);
    format.cbSize = 7;  // no extra bytes follow a PCM format: kept as 0
    DSBUFFERDESC desc = Desc(DSBCAPS_CTRLVOLUME | DSBCAPS_STATIC, 4003, &format);
    IDirectSoundBuffer* buffer = nullptr;
    ASSERT_EQ(device->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);

    const uint8_t* bytes = TwSoundBufferBytes(1);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::count(bytes, bytes + 4003, 0), 4003);

    WAVEFORMATEX got{};
    DWORD written = 0;
    EXPECT_EQ(buffer->GetFormat(nullptr, 0, &written), DS_OK);
    EXPECT_EQ(written, sizeof(WAVEFORMATEX));
    EXPECT_EQ(buffer->GetFormat(&got, sizeof got - 1, &written), DSERR_INVALIDPARAM);
    EXPECT_EQ(buffer->GetFormat(&got, sizeof got, &written), DS_OK);
    format.cbSize = 0;
    EXPECT_EQ(std::memcmp(&got, &format, sizeof got), 0);
    DWORD rate = 0;
    EXPECT_EQ(buffer->GetFrequency(&rate), DS_OK);
    EXPECT_EQ(rate, 22050u);

    DSBCAPS caps{};
    EXPECT_EQ(buffer->GetCaps(&caps), DSERR_INVALIDPARAM) << "dwSize not set";
    caps.dwSize = sizeof caps;
    EXPECT_EQ(buffer->GetCaps(&caps), DS_OK);
    EXPECT_EQ(caps.dwBufferBytes, 4003u);
    EXPECT_EQ(caps.dwFlags, DWORD{DSBCAPS_CTRLVOLUME | DSBCAPS_STATIC | DSBCAPS_LOCSOFTWARE});

    EXPECT_EQ(buffer->SetFormat(&format), DSERR_INVALIDCALL);
    EXPECT_EQ(buffer->SetFrequency(11025), DSERR_CONTROLUNAVAIL);
    EXPECT_EQ(buffer->Initialize(device, &desc), DSERR_INVALIDCALL);

    TwSoundBufferInfo info = InfoOf(1);
    EXPECT_EQ(info.deviceId, 1u);
    EXPECT_EQ(info.bytes, 4003u);
    EXPECT_EQ(info.flags, DWORD{DSBCAPS_CTRLVOLUME | DSBCAPS_STATIC});
    EXPECT_EQ(info.format.nSamplesPerSec, 22050u);
    EXPECT_FALSE(info.playing);
}

// Resident memory of this process in bytes.
size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

TEST_F(DirectSoundDevice, ProbeBufferOfTheLargestSizeTakesNoMemory) {
    const size_t before = ResidentBytes();
    WAVEFORMATEX format = Pcm(16, 2, 44100);
    DSBUFFERDESC desc = Desc(0, DSBSIZE_MAX, &format);
    IDirectSoundBuffer* probe = nullptr;
    ASSERT_EQ(device->CreateSoundBuffer(&desc, &probe, nullptr), DS_OK);
    EXPECT_EQ(probe->Release(), 0u);
    EXPECT_LT(ResidentBytes(), before + 16 * 1024 * 1024);
}

// Each refusal: the call it makes fail, and how.
struct Refusal {
    const char* name;
    void (*refuse)(int count);
    HRESULT expected;
};

class Refusals : public SoundTest, public ::testing::WithParamInterface<Refusal> {
protected:
    // Makes the refused call once; true when it succeeded.
    HRESULT Attempt() {
        const std::string name = GetParam().name;
        if (name == "Create") {
            IDirectSound* other = nullptr;
            const HRESULT hr = DirectSoundCreate(nullptr, &other, nullptr);
            if (other != nullptr) other->Release();
            return hr;
        }
        if (name == "CooperativeLevel") return device->SetCooperativeLevel(window, DSSCL_PRIORITY);
        if (name == "ProbeBuffer" || name == "Format") {
            WAVEFORMATEX format = Pcm(16, 1, 44100);
            DSBUFFERDESC desc = Desc(0, name == "ProbeBuffer" ? DSBSIZE_MAX : 1000, &format);
            IDirectSoundBuffer* buffer = nullptr;
            const HRESULT hr = device->CreateSoundBuffer(&desc, &buffer, nullptr);
            if (buffer != nullptr) buffer->Release();
            return hr;
        }
        if (buffer == nullptr) buffer = Make(Pcm(16, 1, 44100), 500);
        void* p1 = nullptr;
        DWORD n1 = 0;
        const HRESULT hr = buffer->Lock(0, 100, &p1, &n1, nullptr, nullptr, 0);
        if (hr == DS_OK) buffer->Unlock(p1, n1, nullptr, 0);
        return hr;
    }
    IDirectSoundBuffer* buffer = nullptr;
};

TEST_P(Refusals, CountedRefusalFailsThatManyCallsThenStops) {
    GetParam().refuse(2);
    EXPECT_EQ(Attempt(), GetParam().expected);
    EXPECT_EQ(Attempt(), GetParam().expected);
    EXPECT_EQ(Attempt(), DS_OK);
    EXPECT_EQ(Attempt(), DS_OK);
}

TEST_P(Refusals, NegativeCountRefusesUntilSetToZero) {
    GetParam().refuse(-1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Attempt(), GetParam().expected) << i;
    GetParam().refuse(0);
    EXPECT_EQ(Attempt(), DS_OK);
}

TEST_P(Refusals, ResetClearsIt) {
    GetParam().refuse(-1);
    TwSoundReset();
    ASSERT_EQ(DirectSoundCreate(nullptr, &device, nullptr), DS_OK);
    EXPECT_EQ(Attempt(), DS_OK);
}

INSTANTIATE_TEST_SUITE_P(DirectSound, Refusals,
                         ::testing::Values(Refusal{"Create", TwSoundRefuseCreate, DSERR_NODRIVER},
                                           Refusal{"CooperativeLevel", TwSoundRefuseCooperativeLevel,
                                                   DSERR_INVALIDPARAM},
                                           Refusal{"ProbeBuffer", TwSoundRefuseProbeBuffer, DSERR_OUTOFMEMORY},
                                           Refusal{"Format", TwSoundRefuseFormat, DSERR_BADFORMAT},
                                           Refusal{"Lock", TwSoundRefuseLock, DSERR_INVALIDCALL}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DirectSoundDevice, RefusalsAreUsedOnlyByCallsTheyApplyTo) {
    WAVEFORMATEX format = Pcm(16, 1, 44100);
    IDirectSoundBuffer* buffer = nullptr;

    // The probe refusal leaves other buffers alone, and the format refusal the probe.
    TwSoundRefuseProbeBuffer(1);
    DSBUFFERDESC ordinary = Desc(0, 1000, &format);
    ASSERT_EQ(device->CreateSoundBuffer(&ordinary, &buffer, nullptr), DS_OK);
    buffer->Release();
    TwSoundRefuseFormat(1);
    DSBUFFERDESC probe = Desc(0, DSBSIZE_MAX, &format);
    EXPECT_EQ(device->CreateSoundBuffer(&probe, &buffer, nullptr), DSERR_OUTOFMEMORY);
    EXPECT_EQ(device->CreateSoundBuffer(&probe, &buffer, nullptr), DS_OK);
    buffer->Release();

    // A call that fails anyway does not use the refusal up.
    WAVEFORMATEX bad = Pcm(16, 1, 44100);
    bad.wFormatTag = 2;
    DSBUFFERDESC invalid = Desc(0, 1000, &bad);
    EXPECT_EQ(device->CreateSoundBuffer(&invalid, &buffer, nullptr), DSERR_BADFORMAT);
    EXPECT_EQ(device->CreateSoundBuffer(&ordinary, &buffer, nullptr), DSERR_BADFORMAT) << "still pending";
    EXPECT_EQ(device->CreateSoundBuffer(&ordinary, &buffer, nullptr), DS_OK);

    TwSoundRefuseCooperativeLevel(1);
    EXPECT_EQ(device->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DSERR_INVALIDPARAM);
    EXPECT_EQ(device->SetCooperativeLevel(window, DSSCL_PRIORITY), DSERR_INVALIDPARAM) << "still pending";
    EXPECT_EQ(device->SetCooperativeLevel(window, DSSCL_PRIORITY), DS_OK);
}

TEST_F(DirectSoundDevice, ReleasedDeviceTakesItsBuffersWithIt) {
    IDirectSoundBuffer* kept = MakeTone(Pcm(16, 1, 44100), 4410, 1000, 0.5);
    IDirectSoundBuffer* released = Make(Pcm(16, 1, 44100), 100);
    ASSERT_EQ(kept->AddRef(), 2u);
    ASSERT_EQ(kept->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(released->Release(), 0u);
    EXPECT_EQ(TwSoundLiveBuffers(), 1u);

    ASSERT_EQ(device->Release(), 0u);
    EXPECT_EQ(TwSoundLiveDevices(), 0u);
    EXPECT_EQ(TwSoundLiveBuffers(), 0u) << "its own count does not keep it";
    EXPECT_EQ(TwSoundListBuffers(nullptr, 0), 0u);
    EXPECT_EQ(TwSoundBufferBytes(1), nullptr);
    TwSoundBufferInfo info = InfoOf(1);
    EXPECT_TRUE(info.dead);
    EXPECT_FALSE(info.released);
    EXPECT_FALSE(info.playing);
    EXPECT_TRUE(InfoOf(2).released);
    EXPECT_FALSE(InfoOf(2).dead);
    EXPECT_EQ(PeakAbs(Channel(Mix(441), 0)), 0.0) << "stopped sounding";
    EXPECT_FALSE(TwSoundLoseBuffer(1, 0));
    EXPECT_TRUE(Faults().empty()) << "releasing is no fault";

    // Every later call on them, or on the device, does nothing and is a fault.
    DWORD status = 77;
    EXPECT_EQ(kept->Play(0, 0, 0), DSERR_UNINITIALIZED);
    EXPECT_EQ(kept->GetStatus(&status), DSERR_UNINITIALIZED);
    EXPECT_EQ(status, 77u);
    EXPECT_EQ(kept->Release(), 0u);
    EXPECT_EQ(released->SetVolume(-100), DSERR_UNINITIALIZED);
    EXPECT_EQ(device->AddRef(), 0u);
    IDirectSoundBuffer* buffer = reinterpret_cast<IDirectSoundBuffer*>(1);
    WAVEFORMATEX format = Pcm(16, 1, 44100);
    DSBUFFERDESC desc = Desc(0, 100, &format);
    EXPECT_EQ(device->CreateSoundBuffer(&desc, &buffer, nullptr), DSERR_UNINITIALIZED);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(Faults(), (std::vector<std::string>{
                            "buffer 1 Play after its device 1 was released",
                            "buffer 1 GetStatus after its device 1 was released",
                            "buffer 1 Release after its device 1 was released",
                            "buffer 2 SetVolume after it was released",
                            "device 1 AddRef after it was released",
                            "device 1 CreateSoundBuffer after it was released",
                        }));
    EXPECT_EQ(Calls().back(), "device 1 CreateSoundBuffer(flags 0, 100 bytes, PCM 1 ch 44100 Hz 16-bit) -> 887800AA");
    EXPECT_TRUE(InfoOf(1).dead) << "still there after the stale calls";

    // Another device is not disturbed by them.
    IDirectSound* next = nullptr;
    ASSERT_EQ(DirectSoundCreate(nullptr, &next, nullptr), DS_OK);
    ASSERT_EQ(next->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
    EXPECT_EQ(InfoOf(3).deviceId, 2u);
    EXPECT_EQ(TwSoundLiveBuffers(), 1u);
    TwSoundClearCalls();
    expectNoFaults = false;
}

TEST_F(DirectSoundDevice, ReleasingOneDeviceLeavesAnothersBuffersPlaying) {
    IDirectSound* other = nullptr;
    ASSERT_EQ(DirectSoundCreate(nullptr, &other, nullptr), DS_OK);
    WAVEFORMATEX format = Pcm(16, 1, 44100);
    DSBUFFERDESC desc = Desc(0, 8820, &format);
    IDirectSoundBuffer* theirs = nullptr;
    ASSERT_EQ(other->CreateSoundBuffer(&desc, &theirs, nullptr), DS_OK);
    Fill(theirs, Tone(format, 4410, 1000, 0.5));
    IDirectSoundBuffer* ours = MakeTone(format, 4410, 1000, 0.5);
    ASSERT_EQ(theirs->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(ours->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(device->Release(), 0u);
    EXPECT_EQ(TwSoundLiveBuffers(), 1u);
    EXPECT_NEAR(AmplitudeAt(Channel(Mix(4410), 0), 1000, 44100), 0.5 * 32767, 30);
}

TEST_F(DirectSoundDevice, CallRecordText) {
    TwSoundClearCalls();
    IDirectSound* second = nullptr;
    ASSERT_EQ(DirectSoundCreate(nullptr, &second, nullptr), DS_OK);
    second->SetCooperativeLevel(window, DSSCL_PRIORITY);
    WAVEFORMATEX format = Pcm(16, 1, 22050);
    DSBUFFERDESC desc = Desc(0xE0, 88200, &format);
    IDirectSoundBuffer* buffer = nullptr;
    second->CreateSoundBuffer(&desc, &buffer, nullptr);
    WAVEFORMATEX bad = Pcm(16, 1, 22050);
    bad.wFormatTag = 85;
    desc.lpwfxFormat = &bad;
    IDirectSoundBuffer* none = nullptr;
    second->CreateSoundBuffer(&desc, &none, nullptr);
    desc.dwSize = 20;
    second->CreateSoundBuffer(&desc, &none, nullptr);
    second->CreateSoundBuffer(nullptr, &none, nullptr);
    buffer->SetVolume(-600);
    buffer->SetPan(10001);
    void *p1, *p2;
    DWORD n1, n2;
    buffer->Lock(88000, 400, &p1, &n1, &p2, &n2, 0);
    buffer->Unlock(p1, n1, p2, n2);
    buffer->SetCurrentPosition(4410);
    buffer->Play(0, 0, DSBPLAY_LOOPING);
    buffer->Play(1, 2, 0);
    DWORD status;
    buffer->GetStatus(&status);
    buffer->Stop();
    buffer->Restore();
    buffer->AddRef();
    buffer->Release();
    buffer->Release();
    second->Release();
    DirectSoundCreate(nullptr, nullptr, nullptr);
    EXPECT_EQ(Calls(), (std::vector<std::string>{
                           "DirectSoundCreate -> 0, device 2",
                           "device 2 SetCooperativeLevel(2) -> 0",
                           "device 2 CreateSoundBuffer(flags E0, 88200 bytes, PCM 1 ch 22050 Hz 16-bit) -> 0, buffer 1",
                           "device 2 CreateSoundBuffer(flags E0, 88200 bytes, tag 85 1 ch 22050 Hz 16-bit) -> 88780064",
                           "device 2 CreateSoundBuffer(description size 20) -> 80070057",
                           "device 2 CreateSoundBuffer(no description) -> 80070057",
                           "buffer 1 SetVolume(-600) -> 0",
                           "buffer 1 SetPan(10001) -> 80070057",
                           "buffer 1 Lock(offset 88000, 400 bytes, flags 0) -> 0",
                           "buffer 1 Unlock(200 bytes, 200 bytes) -> 0",
                           "buffer 1 SetCurrentPosition(4410) -> 0",
                           "buffer 1 Play(flags 1) -> 0",
                           "buffer 1 Play(reserved 1, priority 2, flags 0) -> 80070057",
                           "buffer 1 GetStatus -> 0",
                           "buffer 1 Stop -> 0",
                           "buffer 1 Restore -> 0",
                           "buffer 1 AddRef -> 2",
                           "buffer 1 Release -> 1",
                           "buffer 1 Release -> 0",
                           "device 2 Release -> 0",
                           "DirectSoundCreate(default device, no result pointer) -> 80070057",
                       }));
    EXPECT_EQ(TwSoundCall(TwSoundCallCount()), nullptr);
    EXPECT_EQ(TwSoundFault(0), nullptr);
    const char* first = TwSoundCall(0);
    for (int i = 0; i < 1000; ++i) device->Compact();
    EXPECT_STREQ(first, "DirectSoundCreate -> 0, device 2") << "texts handed out stay valid as calls are added";
    TwSoundClearCalls();
    EXPECT_EQ(TwSoundCallCount(), 0u);
}

TEST_F(DirectSoundDevice, ResetForgetsEverything) {
    IDirectSoundBuffer* buffer = MakeTone(Pcm(16, 1, 44100), 1000, 1000, 0.5);
    buffer->Play(0, 0, DSBPLAY_LOOPING);
    device->Release();
    buffer->Stop();  // a fault
    TwSoundSetOutputRate(22050);
    TwSoundRefuseCreate(-1);
    TwSoundSplitLock(-1);
    ASSERT_EQ(TwSoundFaultCount(), 1u);

    TwSoundReset();
    EXPECT_EQ(TwSoundFaultCount(), 0u);
    EXPECT_EQ(TwSoundCallCount(), 0u);
    EXPECT_EQ(TwSoundLiveDevices(), 0u);
    EXPECT_EQ(TwSoundLiveBuffers(), 0u);
    EXPECT_FALSE(TwSoundGetBuffer(1, nullptr));
    EXPECT_EQ(TwSoundOutputRate(), 44100u);
    IDirectSound* again = nullptr;
    ASSERT_EQ(DirectSoundCreate(nullptr, &again, nullptr), DS_OK);
    EXPECT_EQ(Calls(), std::vector<std::string>{"DirectSoundCreate -> 0, device 1"}) << "numbering starts again";
    WAVEFORMATEX format = Pcm(16, 1, 44100);
    DSBUFFERDESC desc = Desc(0, 1000, &format);
    ASSERT_EQ(again->CreateSoundBuffer(&desc, &buffer, nullptr), DS_OK);
    void *p1, *p2;
    DWORD n1, n2;
    ASSERT_EQ(buffer->Lock(0, 1000, &p1, &n1, &p2, &n2, 0), DS_OK);
    EXPECT_EQ(n1, 1000u) << "split refusal cleared";
    EXPECT_EQ(p2, nullptr);
}

TEST_F(DirectSoundDevice, OutputRateStaysWithinTheBufferRates) {
    EXPECT_EQ(TwSoundOutputRate(), 44100u);
    TwSoundSetOutputRate(48000);
    EXPECT_EQ(TwSoundOutputRate(), 48000u);
    TwSoundSetOutputRate(0);
    EXPECT_EQ(TwSoundOutputRate(), DWORD{DSBFREQUENCY_MIN});
    TwSoundSetOutputRate(1000000);
    EXPECT_EQ(TwSoundOutputRate(), DWORD{DSBFREQUENCY_MAX});
}

}  // namespace
}  // namespace sound_test
