// Native stand-in for DirectSound: devices, secondary buffers, and a
// software mixer the host steps in simulated time (control_sound.h).
//
// Objects are never deleted before TwSoundReset: a released device or
// buffer stays behind as a tombstone (its sound memory freed), so that a
// module calling through a stale pointer is caught and recorded as a fault
// instead of touching freed memory.
//
// Everything runs on the host's one thread; nothing here takes a lock.
#include "control_sound.h"
#include "sound_mixer.h"
#include "window_registry.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using twsound::kChunkFrames;
using twsound::kFractionBits;

constexpr uint32_t kDefaultOutputRate = 44100;

// A channel attenuated by this much (hundredths of a decibel; volume and pan
// together) is silent: DSBVOLUME_MIN is documented as silence.
constexpr LONG kSilentAttenuation = 10000;

struct Device;
struct Buffer;

struct State {
    std::vector<std::unique_ptr<Device>> devices;  // id - 1; kept until reset
    std::vector<std::unique_ptr<Buffer>> buffers;  // id - 1; kept until reset
    std::vector<Buffer*> voices;                   // playing buffers, in the order they started
    std::deque<std::string> calls;                 // a deque: the texts handed out never move
    std::deque<std::string> faults;
    uint32_t outputRate = kDefaultOutputRate;
    int refuseCreate = 0;
    int refuseCooperativeLevel = 0;
    int refuseProbeBuffer = 0;
    int refuseFormat = 0;
    int refuseLock = 0;
    int splitLock = 0;
};

State& state() {
    static State s;
    return s;
}

// Uses up one call of a refusal count; true when the call is refused.
bool Refused(int& count) {
    if (count == 0) return false;
    if (count > 0) --count;
    return true;
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string ResultText(HRESULT result) {
    return result == S_OK ? "0" : Printf("%08X", static_cast<unsigned>(result));
}

HRESULT Record(const std::string& call, HRESULT result, const std::string& made = {}) {
    state().calls.push_back(call + " -> " + ResultText(result) + (made.empty() ? "" : ", " + made));
    return result;
}

ULONG RecordCount(const std::string& call, ULONG count) {
    state().calls.push_back(call + " -> " + std::to_string(count));
    return count;
}

// Gain of a channel attenuated by `hundredths` of a decibel.
float Gain(LONG hundredths) {
    if (hundredths >= kSilentAttenuation) return 0.0f;
    return static_cast<float>(std::pow(10.0, -hundredths / 2000.0));
}

std::string FormatText(const WAVEFORMATEX& f) {
    std::string tag = f.wFormatTag == WAVE_FORMAT_PCM ? "PCM" : Printf("tag %u", f.wFormatTag);
    return Printf("%s %u ch %u Hz %u-bit", tag.c_str(), f.nChannels, f.nSamplesPerSec, f.wBitsPerSample);
}

struct Device final : IDirectSound {
    uint32_t id;
    ULONG refs = 1;
    bool released = false;
    DWORD level = 0;

    explicit Device(uint32_t id) : id(id) {}

    std::string Name(const char* method) const { return Printf("device %u %s", id, method); }
    // A call on a device already released: recorded as a fault.
    bool Gone(const char* method) const {
        if (!released) return false;
        state().faults.push_back(Printf("device %u %s after it was released", id, method));
        return true;
    }

    HRESULT QueryInterface(REFIID, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateSoundBuffer(LPCDSBUFFERDESC desc, LPDIRECTSOUNDBUFFER* buffer, IUnknown* outer) override;
    HRESULT GetCaps(DSCAPS* caps) override;
    HRESULT DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER original, LPDIRECTSOUNDBUFFER* duplicate) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD level) override;
    HRESULT Compact() override;
    HRESULT GetSpeakerConfig(DWORD* config) override;
    HRESULT SetSpeakerConfig(DWORD config) override;
    HRESULT Initialize(LPCGUID device) override;
};

struct LockState {
    bool held = false;
    void* first = nullptr;
    DWORD firstBytes = 0;
    void* second = nullptr;
    DWORD secondBytes = 0;
};

struct Buffer final : IDirectSoundBuffer {
    uint32_t id;
    Device* device;
    ULONG refs = 1;
    DWORD flags;
    DWORD bytes;
    DWORD frames;  // whole blocks in `bytes`: what plays
    WAVEFORMATEX format;
    uint8_t* memory = nullptr;  // zeros until written; allocated on first need
    bool playing = false;
    bool looping = false;
    bool lost = false;
    int restoreFailures = 0;
    bool released = false;
    bool dead = false;
    uint64_t position = 0;  // source frames, 32.32
    LONG volume = DSBVOLUME_MAX;
    LONG pan = DSBPAN_CENTER;
    float gainLeft = 1.0f;  // with the 8-bit sample scale folded in
    float gainRight = 1.0f;
    uint64_t framesPlayed = 0;
    uint32_t playedFraction = 0;
    LockState lock;

    Buffer(uint32_t id, Device* device, const DSBUFFERDESC& desc)
        : id(id), device(device), flags(desc.dwFlags), bytes(desc.dwBufferBytes), format(*desc.lpwfxFormat) {
        format.cbSize = 0;
        frames = bytes / format.nBlockAlign;
        UpdateGains();
    }
    ~Buffer() { std::free(memory); }

    std::string Name(const char* method) const { return Printf("buffer %u %s", id, method); }
    // A call on a buffer released, or whose device was released: a fault.
    bool Gone(const char* method) const {
        if (released) {
            state().faults.push_back(Printf("buffer %u %s after it was released", id, method));
            return true;
        }
        if (dead) {
            state().faults.push_back(
                Printf("buffer %u %s after its device %u was released", id, method, device->id));
            return true;
        }
        return false;
    }

    uint8_t* Memory() {
        if (memory == nullptr) memory = static_cast<uint8_t*>(std::calloc(bytes, 1));
        return memory;
    }
    DWORD BytePosition() const {
        return static_cast<DWORD>(std::min<uint64_t>(position >> kFractionBits, frames)) * format.nBlockAlign;
    }
    void UpdateGains() {
        const float scale = format.wBitsPerSample == 8 ? 256.0f : 1.0f;
        gainLeft = Gain(-volume + std::max<LONG>(pan, 0)) * scale;
        gainRight = Gain(-volume + std::max<LONG>(-pan, 0)) * scale;
    }
    void Start() {
        if (!playing) state().voices.push_back(this);
        playing = true;
    }
    void Halt() {
        if (playing) std::erase(state().voices, this);
        playing = false;
        looping = false;
    }
    // Gone for good: stops sounding and gives its sound memory back.
    void Retire() {
        Halt();
        std::free(memory);
        memory = nullptr;
        lock = {};
    }

    HRESULT QueryInterface(REFIID, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetCaps(DSBCAPS* caps) override;
    HRESULT GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) override;
    HRESULT GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated, DWORD* sizeWritten) override;
    HRESULT GetVolume(LONG* volume) override;
    HRESULT GetPan(LONG* pan) override;
    HRESULT GetFrequency(DWORD* frequency) override;
    HRESULT GetStatus(DWORD* status) override;
    HRESULT Initialize(IDirectSound* device, LPCDSBUFFERDESC desc) override;
    HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* first, DWORD* firstBytes, LPVOID* second, DWORD* secondBytes,
                 DWORD flags) override;
    HRESULT Play(DWORD reserved, DWORD priority, DWORD flags) override;
    HRESULT SetCurrentPosition(DWORD position) override;
    HRESULT SetFormat(LPCWAVEFORMATEX format) override;
    HRESULT SetVolume(LONG volume) override;
    HRESULT SetPan(LONG pan) override;
    HRESULT SetFrequency(DWORD frequency) override;
    HRESULT Stop() override;
    HRESULT Unlock(LPVOID first, DWORD firstBytes, LPVOID second, DWORD secondBytes) override;
    HRESULT Restore() override;
};

// ---------------------------------------------------------------- device

HRESULT Device::QueryInterface(REFIID, void** object) {
    const std::string call = Name("QueryInterface");
    if (object != nullptr) *object = nullptr;
    if (Gone("QueryInterface")) return Record(call, DSERR_UNINITIALIZED);
    return Record(call, E_NOINTERFACE);
}

ULONG Device::AddRef() {
    if (Gone("AddRef")) return RecordCount(Name("AddRef"), 0);
    return RecordCount(Name("AddRef"), ++refs);
}

ULONG Device::Release() {
    if (Gone("Release")) return RecordCount(Name("Release"), 0);
    if (--refs == 0) {
        released = true;
        // Its buffers go with it, whatever their own counts.
        for (auto& buffer : state().buffers) {
            if (buffer->device == this && !buffer->released && !buffer->dead) {
                buffer->dead = true;
                buffer->Retire();
            }
        }
    }
    return RecordCount(Name("Release"), refs);
}

std::string DescriptionText(LPCDSBUFFERDESC desc, LPDIRECTSOUNDBUFFER* buffer, IUnknown* outer) {
    std::string text;
    if (desc == nullptr) {
        text = "no description";
    } else if (desc->dwSize != sizeof(DSBUFFERDESC)) {
        text = Printf("description size %u", desc->dwSize);
    } else {
        text = Printf("flags %X, %u bytes, ", desc->dwFlags, desc->dwBufferBytes) +
               (desc->lpwfxFormat != nullptr ? FormatText(*desc->lpwfxFormat) : "no format");
    }
    if (buffer == nullptr) text += ", no result pointer";
    if (outer != nullptr) text += ", outer";
    return text;
}

HRESULT ValidateFormat(const WAVEFORMATEX& f) {
    if (f.wFormatTag != WAVE_FORMAT_PCM) return DSERR_BADFORMAT;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) return DSERR_BADFORMAT;
    if (f.nChannels != 1 && f.nChannels != 2) return DSERR_BADFORMAT;
    if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8) return DSERR_INVALIDPARAM;
    if (f.nSamplesPerSec < DSBFREQUENCY_MIN || f.nSamplesPerSec > DSBFREQUENCY_MAX) return DSERR_INVALIDPARAM;
    return DS_OK;
}

HRESULT Device::CreateSoundBuffer(LPCDSBUFFERDESC desc, LPDIRECTSOUNDBUFFER* buffer, IUnknown* outer) {
    const std::string call = Name("CreateSoundBuffer") + "(" + DescriptionText(desc, buffer, outer) + ")";
    if (buffer != nullptr) *buffer = nullptr;
    if (Gone("CreateSoundBuffer")) return Record(call, DSERR_UNINITIALIZED);
    if (desc == nullptr || buffer == nullptr || desc->dwSize != sizeof(DSBUFFERDESC)) {
        return Record(call, DSERR_INVALIDPARAM);
    }
    if (outer != nullptr) return Record(call, DSERR_INVALIDPARAM);
    if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) return Record(call, DSERR_UNSUPPORTED);
    if (desc->lpwfxFormat == nullptr) return Record(call, DSERR_INVALIDPARAM);
    if (HRESULT bad = ValidateFormat(*desc->lpwfxFormat); bad != DS_OK) return Record(call, bad);
    if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX) {
        return Record(call, DSERR_INVALIDPARAM);
    }
    State& s = state();
    if (desc->dwBufferBytes == DSBSIZE_MAX ? Refused(s.refuseProbeBuffer) : Refused(s.refuseFormat)) {
        return Record(call, desc->dwBufferBytes == DSBSIZE_MAX ? DSERR_OUTOFMEMORY : DSERR_BADFORMAT);
    }
    const auto id = static_cast<uint32_t>(s.buffers.size() + 1);
    // The sound memory itself is allocated on first need: the module's probe
    // of DSBSIZE_MAX bytes is released before it is ever filled.
    Buffer* made = new (std::nothrow) Buffer(id, this, *desc);
    if (made == nullptr) return Record(call, DSERR_OUTOFMEMORY);
    s.buffers.emplace_back(made);
    *buffer = made;
    return Record(call, DS_OK, Printf("buffer %u", id));
}

HRESULT Device::GetCaps(DSCAPS*) {
    if (Gone("GetCaps")) return Record(Name("GetCaps"), DSERR_UNINITIALIZED);
    return Record(Name("GetCaps"), DSERR_UNSUPPORTED);
}

HRESULT Device::DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER, LPDIRECTSOUNDBUFFER* duplicate) {
    if (duplicate != nullptr) *duplicate = nullptr;
    if (Gone("DuplicateSoundBuffer")) return Record(Name("DuplicateSoundBuffer"), DSERR_UNINITIALIZED);
    return Record(Name("DuplicateSoundBuffer"), DSERR_UNSUPPORTED);
}

HRESULT Device::SetCooperativeLevel(HWND window, DWORD newLevel) {
    const std::string call = Name("SetCooperativeLevel") + Printf("(%u)", newLevel);
    if (Gone("SetCooperativeLevel")) return Record(call, DSERR_UNINITIALIZED);
    if (newLevel < DSSCL_NORMAL || newLevel > DSSCL_WRITEPRIMARY) return Record(call, DSERR_INVALIDPARAM);
    if (!TwPlatformIsRegisteredWindow(window)) return Record(call, DSERR_INVALIDPARAM);
    if (Refused(state().refuseCooperativeLevel)) return Record(call, DSERR_INVALIDPARAM);
    level = newLevel;
    return Record(call, DS_OK);
}

HRESULT Device::Compact() {
    if (Gone("Compact")) return Record(Name("Compact"), DSERR_UNINITIALIZED);
    return Record(Name("Compact"), DS_OK);
}

HRESULT Device::GetSpeakerConfig(DWORD* config) {
    if (Gone("GetSpeakerConfig")) return Record(Name("GetSpeakerConfig"), DSERR_UNINITIALIZED);
    if (config == nullptr) return Record(Name("GetSpeakerConfig"), DSERR_INVALIDPARAM);
    *config = 4;  // stereo speakers, the mixer's output
    return Record(Name("GetSpeakerConfig"), DS_OK);
}

HRESULT Device::SetSpeakerConfig(DWORD config) {
    const std::string call = Name("SetSpeakerConfig") + Printf("(%X)", config);
    if (Gone("SetSpeakerConfig")) return Record(call, DSERR_UNINITIALIZED);
    return Record(call, DS_OK);  // the output stays stereo
}

HRESULT Device::Initialize(LPCGUID) {
    // DirectSoundCreate hands out devices already initialized.
    if (Gone("Initialize")) return Record(Name("Initialize"), DSERR_UNINITIALIZED);
    return Record(Name("Initialize"), DSERR_INVALIDCALL);
}

// ---------------------------------------------------------------- buffer

HRESULT Buffer::QueryInterface(REFIID, void** object) {
    if (object != nullptr) *object = nullptr;
    if (Gone("QueryInterface")) return Record(Name("QueryInterface"), DSERR_UNINITIALIZED);
    return Record(Name("QueryInterface"), E_NOINTERFACE);
}

ULONG Buffer::AddRef() {
    if (Gone("AddRef")) return RecordCount(Name("AddRef"), 0);
    return RecordCount(Name("AddRef"), ++refs);
}

ULONG Buffer::Release() {
    if (Gone("Release")) return RecordCount(Name("Release"), 0);
    if (--refs == 0) {
        released = true;
        Retire();
    }
    return RecordCount(Name("Release"), refs);
}

HRESULT Buffer::GetCaps(DSBCAPS* caps) {
    if (Gone("GetCaps")) return Record(Name("GetCaps"), DSERR_UNINITIALIZED);
    if (caps == nullptr || caps->dwSize != sizeof(DSBCAPS)) return Record(Name("GetCaps"), DSERR_INVALIDPARAM);
    caps->dwFlags = (flags & ~(DSBCAPS_LOCHARDWARE | DSBCAPS_LOCDEFER)) | DSBCAPS_LOCSOFTWARE;
    caps->dwBufferBytes = bytes;
    caps->dwUnlockTransferRate = 0;
    caps->dwPlayCpuOverhead = 0;
    return Record(Name("GetCaps"), DS_OK);
}

HRESULT Buffer::GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) {
    if (Gone("GetCurrentPosition")) return Record(Name("GetCurrentPosition"), DSERR_UNINITIALIZED);
    // Nothing is queued ahead of the mixer: what the next TwSoundMix plays
    // starts at the play position, so the write cursor is the same.
    if (playCursor != nullptr) *playCursor = BytePosition();
    if (writeCursor != nullptr) *writeCursor = BytePosition();
    return Record(Name("GetCurrentPosition"), DS_OK);
}

HRESULT Buffer::GetFormat(LPWAVEFORMATEX out, DWORD sizeAllocated, DWORD* sizeWritten) {
    const std::string call = Name("GetFormat") + Printf("(size %u)", sizeAllocated);
    if (Gone("GetFormat")) return Record(call, DSERR_UNINITIALIZED);
    if (out == nullptr) {
        if (sizeWritten == nullptr) return Record(call, DSERR_INVALIDPARAM);
        *sizeWritten = sizeof(WAVEFORMATEX);
        return Record(call, DS_OK);
    }
    if (sizeAllocated < sizeof(WAVEFORMATEX)) return Record(call, DSERR_INVALIDPARAM);
    *out = format;
    if (sizeWritten != nullptr) *sizeWritten = sizeof(WAVEFORMATEX);
    return Record(call, DS_OK);
}

HRESULT Buffer::GetVolume(LONG* out) {
    if (Gone("GetVolume")) return Record(Name("GetVolume"), DSERR_UNINITIALIZED);
    if (out == nullptr) return Record(Name("GetVolume"), DSERR_INVALIDPARAM);
    if (!(flags & DSBCAPS_CTRLVOLUME)) return Record(Name("GetVolume"), DSERR_CONTROLUNAVAIL);
    *out = volume;
    return Record(Name("GetVolume"), DS_OK);
}

HRESULT Buffer::GetPan(LONG* out) {
    if (Gone("GetPan")) return Record(Name("GetPan"), DSERR_UNINITIALIZED);
    if (out == nullptr) return Record(Name("GetPan"), DSERR_INVALIDPARAM);
    if (!(flags & DSBCAPS_CTRLPAN)) return Record(Name("GetPan"), DSERR_CONTROLUNAVAIL);
    *out = pan;
    return Record(Name("GetPan"), DS_OK);
}

HRESULT Buffer::GetFrequency(DWORD* out) {
    if (Gone("GetFrequency")) return Record(Name("GetFrequency"), DSERR_UNINITIALIZED);
    if (out == nullptr) return Record(Name("GetFrequency"), DSERR_INVALIDPARAM);
    *out = format.nSamplesPerSec;
    return Record(Name("GetFrequency"), DS_OK);
}

HRESULT Buffer::GetStatus(DWORD* out) {
    if (Gone("GetStatus")) return Record(Name("GetStatus"), DSERR_UNINITIALIZED);
    if (out == nullptr) return Record(Name("GetStatus"), DSERR_INVALIDPARAM);
    *out = (playing ? DSBSTATUS_PLAYING : 0) | (playing && looping ? DSBSTATUS_LOOPING : 0) |
           (lost ? DSBSTATUS_BUFFERLOST : 0);
    return Record(Name("GetStatus"), DS_OK);
}

HRESULT Buffer::Initialize(IDirectSound*, LPCDSBUFFERDESC) {
    // CreateSoundBuffer hands out buffers already initialized.
    if (Gone("Initialize")) return Record(Name("Initialize"), DSERR_UNINITIALIZED);
    return Record(Name("Initialize"), DSERR_INVALIDCALL);
}

HRESULT Buffer::Lock(DWORD offset, DWORD count, LPVOID* first, DWORD* firstBytes, LPVOID* second,
                     DWORD* secondBytes, DWORD lockFlags) {
    const std::string call = Name("Lock") + Printf("(offset %u, %u bytes, flags %X)", offset, count, lockFlags);
    if (Gone("Lock")) return Record(call, DSERR_UNINITIALIZED);
    if (first == nullptr || firstBytes == nullptr || (second != nullptr && secondBytes == nullptr)) {
        return Record(call, DSERR_INVALIDPARAM);
    }
    *first = nullptr;
    *firstBytes = 0;
    if (second != nullptr) *second = nullptr;
    if (secondBytes != nullptr) *secondBytes = 0;
    if (lost) return Record(call, DSERR_BUFFERLOST);
    if (lockFlags & DSBLOCK_FROMWRITECURSOR) offset = BytePosition();
    if (lockFlags & DSBLOCK_ENTIREBUFFER) count = bytes;
    if (count == 0 || count > bytes || offset >= bytes) return Record(call, DSERR_INVALIDPARAM);
    const bool wraps = count > bytes - offset;
    if (wraps && second == nullptr) return Record(call, DSERR_INVALIDPARAM);
    State& s = state();
    if (Refused(s.refuseLock)) return Record(call, DSERR_INVALIDCALL);
    uint8_t* data = Memory();
    if (data == nullptr) return Record(call, DSERR_OUTOFMEMORY);

    DWORD split = wraps ? bytes - offset : count;
    // An injected split hands the whole buffer out as two halves, each of
    // whole blocks; only a caller that can take a second region gets one.
    const DWORD half = frames / 2 * format.nBlockAlign;
    if (!wraps && offset == 0 && count == bytes && second != nullptr && half > 0 && s.splitLock != 0) {
        Refused(s.splitLock);
        split = half;
    }
    lock = {true, data + offset, split, nullptr, 0};
    if (split < count) {
        lock.second = data + (wraps ? 0 : offset + split);
        lock.secondBytes = count - split;
        *second = lock.second;
        *secondBytes = lock.secondBytes;
    }
    *first = lock.first;
    *firstBytes = lock.firstBytes;
    return Record(call, DS_OK);
}

HRESULT Buffer::Unlock(LPVOID first, DWORD firstBytes, LPVOID second, DWORD secondBytes) {
    const std::string call = Name("Unlock") + Printf("(%u bytes, %u bytes)", firstBytes, secondBytes);
    if (Gone("Unlock")) return Record(call, DSERR_UNINITIALIZED);
    if (!lock.held || first != lock.first || firstBytes > lock.firstBytes) return Record(call, DSERR_INVALIDPARAM);
    if (second != nullptr ? second != lock.second || secondBytes > lock.secondBytes : secondBytes != 0) {
        return Record(call, DSERR_INVALIDPARAM);
    }
    lock = {};
    return Record(call, DS_OK);
}

HRESULT Buffer::Play(DWORD reserved, DWORD priority, DWORD playFlags) {
    const std::string call =
        Name("Play") + (reserved != 0 || priority != 0
                            ? Printf("(reserved %u, priority %u, flags %X)", reserved, priority, playFlags)
                            : Printf("(flags %X)", playFlags));
    if (Gone("Play")) return Record(call, DSERR_UNINITIALIZED);
    if (reserved != 0) return Record(call, DSERR_INVALIDPARAM);
    // A priority means something only to buffers whose voice is chosen late.
    if (priority != 0 && !(flags & DSBCAPS_LOCDEFER)) return Record(call, DSERR_INVALIDPARAM);
    if (lost) return Record(call, DSERR_BUFFERLOST);
    if (Memory() == nullptr) return Record(call, DSERR_OUTOFMEMORY);
    // On a playing buffer only the looping changes; it does not restart.
    looping = (playFlags & DSBPLAY_LOOPING) != 0;
    Start();
    return Record(call, DS_OK);
}

HRESULT Buffer::SetCurrentPosition(DWORD newPosition) {
    const std::string call = Name("SetCurrentPosition") + Printf("(%u)", newPosition);
    if (Gone("SetCurrentPosition")) return Record(call, DSERR_UNINITIALIZED);
    if (newPosition >= bytes) return Record(call, DSERR_INVALIDPARAM);
    position = uint64_t{newPosition / format.nBlockAlign} << kFractionBits;
    return Record(call, DS_OK);
}

HRESULT Buffer::SetFormat(LPCWAVEFORMATEX) {
    // Only a primary buffer's format can be set.
    if (Gone("SetFormat")) return Record(Name("SetFormat"), DSERR_UNINITIALIZED);
    return Record(Name("SetFormat"), DSERR_INVALIDCALL);
}

HRESULT Buffer::SetVolume(LONG newVolume) {
    const std::string call = Name("SetVolume") + Printf("(%d)", newVolume);
    if (Gone("SetVolume")) return Record(call, DSERR_UNINITIALIZED);
    if (!(flags & DSBCAPS_CTRLVOLUME)) return Record(call, DSERR_CONTROLUNAVAIL);
    if (newVolume < DSBVOLUME_MIN || newVolume > DSBVOLUME_MAX) return Record(call, DSERR_INVALIDPARAM);
    volume = newVolume;
    UpdateGains();
    return Record(call, DS_OK);
}

HRESULT Buffer::SetPan(LONG newPan) {
    const std::string call = Name("SetPan") + Printf("(%d)", newPan);
    if (Gone("SetPan")) return Record(call, DSERR_UNINITIALIZED);
    if (!(flags & DSBCAPS_CTRLPAN)) return Record(call, DSERR_CONTROLUNAVAIL);
    if (newPan < DSBPAN_LEFT || newPan > DSBPAN_RIGHT) return Record(call, DSERR_INVALIDPARAM);
    pan = newPan;
    UpdateGains();
    return Record(call, DS_OK);
}

HRESULT Buffer::SetFrequency(DWORD frequency) {
    const std::string call = Name("SetFrequency") + Printf("(%u)", frequency);
    if (Gone("SetFrequency")) return Record(call, DSERR_UNINITIALIZED);
    if (!(flags & DSBCAPS_CTRLFREQUENCY)) return Record(call, DSERR_CONTROLUNAVAIL);
    return Record(call, DSERR_UNSUPPORTED);  // buffers play at their format's rate
}

HRESULT Buffer::Stop() {
    if (Gone("Stop")) return Record(Name("Stop"), DSERR_UNINITIALIZED);
    Halt();
    return Record(Name("Stop"), DS_OK);
}

HRESULT Buffer::Restore() {
    if (Gone("Restore")) return Record(Name("Restore"), DSERR_UNINITIALIZED);
    if (!lost) return Record(Name("Restore"), DS_OK);
    if (Refused(restoreFailures)) return Record(Name("Restore"), DSERR_BUFFERLOST);
    // DirectSound keeps nothing of a lost buffer's sound.
    lost = false;
    if (memory != nullptr) std::memset(memory, 0, bytes);
    position = 0;
    lock = {};
    return Record(Name("Restore"), DS_OK);
}

// ---------------------------------------------------------------- mixer

// Counts the source frames a stretch of `count` output frames used up (up
// to the end, for a buffer that stopped there).
void CountPlayed(Buffer& b, size_t count, uint64_t step, bool stillPlaying, uint64_t before) {
    uint64_t used = count * step;
    const uint64_t end = uint64_t{b.frames} << kFractionBits;
    if (!stillPlaying) used = before < end ? std::min(used, end - before) : 0;
    const uint64_t total = used + b.playedFraction;
    b.framesPlayed += total >> kFractionBits;
    b.playedFraction = static_cast<uint32_t>(total);
}

}  // namespace

extern "C" {

HRESULT WINAPI DirectSoundCreate(LPCGUID device, LPDIRECTSOUND* directSound, IUnknown* outer) {
    std::string call = "DirectSoundCreate";
    if (device != nullptr || directSound == nullptr || outer != nullptr) {
        call += "(";
        call += device != nullptr ? "device" : "default device";
        if (directSound == nullptr) call += ", no result pointer";
        if (outer != nullptr) call += ", outer";
        call += ")";
    }
    if (directSound != nullptr) *directSound = nullptr;
    if (directSound == nullptr || outer != nullptr) return Record(call, DSERR_INVALIDPARAM);
    // Only the default device exists.
    if (device != nullptr) return Record(call, DSERR_NODRIVER);
    State& s = state();
    if (Refused(s.refuseCreate)) return Record(call, DSERR_NODRIVER);
    const auto id = static_cast<uint32_t>(s.devices.size() + 1);
    Device* made = new (std::nothrow) Device(id);
    if (made == nullptr) return Record(call, DSERR_OUTOFMEMORY);
    s.devices.emplace_back(made);
    *directSound = made;
    return Record(call, DS_OK, Printf("device %u", id));
}

void TwSoundSetOutputRate(uint32_t framesPerSecond) {
    state().outputRate = std::clamp<uint32_t>(framesPerSecond, DSBFREQUENCY_MIN, DSBFREQUENCY_MAX);
}

uint32_t TwSoundOutputRate(void) { return state().outputRate; }

void TwSoundMix(int16_t* out, size_t frames) {
    State& s = state();
    float mix[2 * kChunkFrames];
    while (frames > 0) {
        const size_t count = std::min(frames, kChunkFrames);
        if (out != nullptr) std::fill_n(mix, 2 * count, 0.0f);
        bool someEnded = false;
        for (Buffer* b : s.voices) {
            const uint64_t step = (uint64_t{b->format.nSamplesPerSec} << kFractionBits) / s.outputRate;
            twsound::Voice voice{b->memory,  b->frames,   b->format.wBitsPerSample, b->format.nChannels,
                                 b->looping, b->gainLeft, b->gainRight,             b->position};
            const bool stillPlaying = twsound::MixVoice(voice, out != nullptr ? mix : nullptr, count, step);
            CountPlayed(*b, count, step, stillPlaying, b->position);
            b->position = voice.position;
            if (!stillPlaying) {
                // Played once to its end: stopped, and back at the start.
                b->playing = false;
                b->looping = false;
                someEnded = true;
            }
        }
        if (someEnded) std::erase_if(s.voices, [](const Buffer* b) { return !b->playing; });
        if (out != nullptr) {
            twsound::ToInt16(mix, out, 2 * count);
            out += 2 * count;
        }
        frames -= count;
    }
}

void TwSoundRefuseCreate(int count) { state().refuseCreate = count; }
void TwSoundRefuseCooperativeLevel(int count) { state().refuseCooperativeLevel = count; }
void TwSoundRefuseProbeBuffer(int count) { state().refuseProbeBuffer = count; }
void TwSoundRefuseFormat(int count) { state().refuseFormat = count; }
void TwSoundRefuseLock(int count) { state().refuseLock = count; }
void TwSoundSplitLock(int count) { state().splitLock = count; }

BOOL TwSoundLoseBuffer(uint32_t id, int restoreFailures) {
    State& s = state();
    if (id == 0 || id > s.buffers.size()) return FALSE;
    Buffer& b = *s.buffers[id - 1];
    if (b.released || b.dead) return FALSE;
    b.Halt();
    b.lost = true;
    b.restoreFailures = restoreFailures;
    return TRUE;
}

namespace {

TwSoundBufferInfo Info(const Buffer& b) {
    TwSoundBufferInfo info{};
    info.id = b.id;
    info.deviceId = b.device->id;
    info.flags = b.flags;
    info.bytes = b.bytes;
    info.format = b.format;
    info.playing = b.playing;
    info.looping = b.playing && b.looping;
    info.lost = b.lost;
    info.released = b.released;
    info.dead = b.dead;
    info.position = b.BytePosition();
    info.volume = b.volume;
    info.pan = b.pan;
    info.framesPlayed = b.framesPlayed;
    return info;
}

bool Live(const Buffer& b) { return !b.released && !b.dead; }

}  // namespace

size_t TwSoundListBuffers(TwSoundBufferInfo* buffers, size_t capacity) {
    size_t n = 0;
    for (const auto& b : state().buffers) {
        if (!Live(*b)) continue;
        if (n < capacity) buffers[n] = Info(*b);
        ++n;
    }
    return n;
}

BOOL TwSoundGetBuffer(uint32_t id, TwSoundBufferInfo* info) {
    const State& s = state();
    if (id == 0 || id > s.buffers.size()) return FALSE;
    if (info != nullptr) *info = Info(*s.buffers[id - 1]);
    return TRUE;
}

const uint8_t* TwSoundBufferBytes(uint32_t id) {
    State& s = state();
    if (id == 0 || id > s.buffers.size() || !Live(*s.buffers[id - 1])) return nullptr;
    return s.buffers[id - 1]->Memory();
}

size_t TwSoundLiveDevices(void) {
    const auto& devices = state().devices;
    return std::count_if(devices.begin(), devices.end(), [](const auto& d) { return !d->released; });
}

size_t TwSoundLiveBuffers(void) { return TwSoundListBuffers(nullptr, 0); }

size_t TwSoundFaultCount(void) { return state().faults.size(); }

const char* TwSoundFault(size_t index) {
    const auto& faults = state().faults;
    return index < faults.size() ? faults[index].c_str() : nullptr;
}

size_t TwSoundCallCount(void) { return state().calls.size(); }

const char* TwSoundCall(size_t index) {
    const auto& calls = state().calls;
    return index < calls.size() ? calls[index].c_str() : nullptr;
}

void TwSoundClearCalls(void) { state().calls.clear(); }

void TwSoundReset(void) { state() = State{}; }

}  // extern "C"
