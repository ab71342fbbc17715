#include "sound_output.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "config.h"
#include "log.h"

IDirectSound* directSound = nullptr;
std::vector<IDirectSound*> replacedDevices;

IDirectSoundBuffer* soundBuffers[kSoundSlots] = {};
WaveFileReader* waveReaders[kSoundSlots] = {};
DWORD bufferSizes[kSoundSlots] = {};

namespace {

constexpr const char* kMainWindowClass = "FS98MAIN";

// The probe: the largest buffer DirectSound allows, in a plain format. A
// device that can make it can make the module's sounds.
constexpr DWORD kProbeRate = 22050;
constexpr WORD kProbeBits = 16;

bool ValidSlot(uint16_t slot) { return slot < kSoundSlots; }

void ReleaseBuffer(uint16_t slot) {
    if (soundBuffers[slot] != nullptr) soundBuffers[slot]->Release();
    soundBuffers[slot] = nullptr;
}

void DestroyReader(uint16_t slot) {
    delete waveReaders[slot];
    waveReaders[slot] = nullptr;
}

// Steps 5 and 6 of making a slot's buffer: a static buffer with volume and
// pan control, as large as the reader's whole "data" chunk (the reader
// stands at its start), in the reader's format.
HRESULT CreateBufferFromReader(uint16_t slot) {
    WaveFileReader* reader = waveReaders[slot];
    if (directSound == nullptr || reader == nullptr || reader->format == nullptr) {
        // No device (it could not be created, or pre-kill released it):
        // there is nothing to make the buffer on.
        LogMessage(33);
        return E_FAIL;
    }
    DSBUFFERDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof(DSBUFFERDESC);
    desc.dwFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_STATIC;
    desc.dwBufferBytes = reader->dataChunk.cksize;
    desc.lpwfxFormat = reader->format;
    const HRESULT created = directSound->CreateSoundBuffer(&desc, &soundBuffers[slot], nullptr);
    if (FAILED(created)) {
        soundBuffers[slot] = nullptr;
        LogMessage(33);
        return created;
    }
    LogMessage(34);
    bufferSizes[slot] = desc.dwBufferBytes;
    LogNumber(35, static_cast<int32_t>(bufferSizes[slot]));
    return S_OK;
}

// Copies `size` bytes of `block` into the regions a Lock handed out, never
// more than a region takes.
void CopyToRegions(const BYTE* block, DWORD size, void* first, DWORD firstBytes, void* second, DWORD secondBytes) {
    const DWORD intoFirst = std::min(size, firstBytes);
    if (first != nullptr && intoFirst > 0) std::memcpy(first, block, intoFirst);
    const DWORD intoSecond = std::min(size - intoFirst, secondBytes);
    if (second != nullptr && intoSecond > 0) std::memcpy(second, block + intoFirst, intoSecond);
}

}  // namespace

HRESULT InitDirectSound() {
    LogMessage(20);
    IDirectSound* device = nullptr;
    const HRESULT created = DirectSoundCreate(nullptr, &device, nullptr);
    if (FAILED(created) || device == nullptr) return FAILED(created) ? created : E_FAIL;
    // A device already held is replaced, not released: the buffers made on
    // it keep playing. Pre-kill releases it with the rest.
    if (directSound != nullptr) {
        try {
            replacedDevices.push_back(directSound);
        } catch (const std::bad_alloc&) {
            directSound->Release();  // cannot keep it: better released than leaked
        }
    }
    directSound = device;
    LogMessage(21);

    // The window is not checked by itself: a missing window shows as a
    // refused cooperative level. Normal level: the module never changes the
    // primary buffer's format.
    HWND window = FindWindowA(kMainWindowClass, nullptr);
    const HRESULT level = directSound->SetCooperativeLevel(window, DSSCL_NORMAL);
    if (FAILED(level)) {
        LogMessage(22);
        return level;
    }
    LogMessage(23);

    WAVEFORMATEX format;
    std::memset(&format, 0, sizeof format);
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = kProbeRate;
    format.wBitsPerSample = kProbeBits;
    format.nBlockAlign = static_cast<WORD>(format.wBitsPerSample / 8 * format.nChannels);
    format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
    format.cbSize = 0;
    DSBUFFERDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof(DSBUFFERDESC);
    desc.dwFlags = DSBCAPS_LOCSOFTWARE;
    desc.dwBufferBytes = DSBSIZE_MAX;
    desc.lpwfxFormat = &format;
    IDirectSoundBuffer* probe = nullptr;
    const HRESULT probed = directSound->CreateSoundBuffer(&desc, &probe, nullptr);
    if (FAILED(probed)) {
        LogMessage(24);
        return probed;
    }
    LogMessage(25);
    if (probe != nullptr) probe->Release();
    return S_OK;
}

HRESULT FreeDirectSound() {
    LogMessage(28);
    // Buffers first: on Windows they go with their device, and a buffer of a
    // released device must never be called again. The readers stay, so the
    // next device gets the same sounds (RecreateBuffers).
    for (uint16_t slot = 0; slot < kSoundSlots; ++slot) ReleaseBuffer(slot);
    for (IDirectSound* device : replacedDevices) device->Release();
    replacedDevices.clear();
    if (directSound != nullptr) {
        directSound->Release();
        directSound = nullptr;
    }
    LogMessage(29);
    return S_OK;
}

void LoadAllWaveFiles() {
    LogMessage(7);
    const std::size_t count = std::min<std::size_t>(soundItems.size(), kSoundSlots);
    for (std::size_t i = 0; i < count; ++i) LoadWaveFile(static_cast<uint16_t>(i), soundItems[i].wavFile);
}

void LoadWaveFile(uint16_t slot, const std::string& path) {
    LogMessage(45);
    if (FAILED(CreateStaticBuffer(slot, path))) {
        LogMessage(31);
        return;
    }
    LogText(32, path);
    FillBuffer(slot);
}

HRESULT CreateStaticBuffer(uint16_t slot, const std::string& path) {
    LogMessage(30);
    if (!ValidSlot(slot)) return E_FAIL;
    DestroyReader(slot);
    ReleaseBuffer(slot);
    bufferSizes[slot] = 0;

    waveReaders[slot] = new (std::nothrow) WaveFileReader;
    if (waveReaders[slot] == nullptr || FAILED(waveReaders[slot]->Open(path.c_str()))) {
        LogMessage(31);
        return E_FAIL;
    }
    LogNumber(32, slot);
    return CreateBufferFromReader(slot);
}

HRESULT FillBuffer(uint16_t slot) {
    LogMessage(36);
    if (!ValidSlot(slot) || waveReaders[slot] == nullptr || soundBuffers[slot] == nullptr) return E_FAIL;
    WaveFileReader& reader = *waveReaders[slot];

    // The block holds what the reader has left (after a failed read that is
    // less than the buffer); only what was read is copied.
    const UINT remaining = reader.dataChunk.cksize;
    BYTE* block = static_cast<BYTE*>(std::malloc(std::max<UINT>(remaining, 1)));
    if (block == nullptr) {
        LogMessage(37);
        return E_OUTOFMEMORY;
    }
    UINT bytesRead = 0;
    const HRESULT read = reader.Read(remaining, block, &bytesRead);
    if (FAILED(read)) {
        LogMessage(38);
        std::free(block);
        return read;
    }
    LogMessage(39);
    reader.Rewind();

    void* first = nullptr;
    void* second = nullptr;
    DWORD firstBytes = 0;
    DWORD secondBytes = 0;
    const HRESULT locked =
        soundBuffers[slot]->Lock(0, bufferSizes[slot], &first, &firstBytes, &second, &secondBytes, 0);
    if (FAILED(locked)) {
        LogMessage(40);
        std::free(block);
        return locked;
    }
    LogMessage(41);
    CopyToRegions(block, std::min<DWORD>(bytesRead, bufferSizes[slot]), first, firstBytes, second, secondBytes);
    LogMessage(42);
    soundBuffers[slot]->Unlock(first, firstBytes, second, secondBytes);
    LogMessage(43);
    std::free(block);
    LogMessage(44);
    return S_OK;
}

void RecreateBuffers() {
    for (uint16_t slot = 0; slot < kSoundSlots; ++slot) {
        WaveFileReader* reader = waveReaders[slot];
        if (soundBuffers[slot] != nullptr || reader == nullptr || reader->file == nullptr) continue;
        LogMessage(30);
        // The size comes from the start of the data, whatever a failed read
        // left behind.
        if (FAILED(reader->Rewind())) {
            LogMessage(31);
            continue;
        }
        LogNumber(32, slot);
        if (SUCCEEDED(CreateBufferFromReader(slot))) FillBuffer(slot);
    }
}

HRESULT PlayBuffer(uint16_t slot, int looped) {
    LogMessage(52);
    if (!ValidSlot(slot) || soundBuffers[slot] == nullptr) {
        LogMessage(53);
        return E_FAIL;
    }
    const HRESULT restored = RestoreBuffers(slot);
    if (FAILED(restored)) {
        LogMessage(54);
        return restored;
    }
    // Plays on from where the buffer stands: only a stop with rewind moves
    // it back to the start.
    const HRESULT played = soundBuffers[slot]->Play(0, 0, looped != 0 ? DSBPLAY_LOOPING : 0);
    if (FAILED(played)) return played;
    LogMessage(55);
    return S_OK;
}

void StopBuffer(uint16_t slot, int rewind) {
    LogMessage(56);
    if (!ValidSlot(slot) || soundBuffers[slot] == nullptr) {
        LogMessage(57);
        return;
    }
    soundBuffers[slot]->Stop();
    if (rewind != 0) {
        LogMessage(58);
        soundBuffers[slot]->SetCurrentPosition(0);
    }
}

HRESULT RestoreBuffers(uint16_t slot) {
    LogMessage(59);
    LogNumber(64, slot);
    if (!ValidSlot(slot) || soundBuffers[slot] == nullptr) return S_OK;
    IDirectSoundBuffer* buffer = soundBuffers[slot];
    DWORD status = 0;
    const HRESULT got = buffer->GetStatus(&status);
    if (FAILED(got)) return got;
    if ((status & DSBSTATUS_BUFFERLOST) == 0) return S_OK;

    // The device may take a moment to give its memory back. A device that
    // never does must not hold the simulator's thread for ever: after about
    // a second the play is given up.
    bool restored = false;
    for (int pass = 0; pass < kMaxRestorePasses && !restored; ++pass) {
        if (buffer->Restore() == DSERR_BUFFERLOST) Sleep(kRestoreSleepMs);
        restored = buffer->Restore() == DS_OK;
    }
    if (!restored) return DSERR_BUFFERLOST;
    const HRESULT filled = FillBuffer(slot);
    if (FAILED(filled)) return filled;
    return S_OK;
}

void SetBufferVolume(uint16_t slot, int volume) {
    LogTwoNumbers(60, slot, volume);
    if (ValidSlot(slot) && soundBuffers[slot] != nullptr) soundBuffers[slot]->SetVolume(volume);
}

int GetBufferVolume(uint16_t slot) {
    LogNumber(61, slot);
    LONG volume = DSBVOLUME_MIN;
    if (ValidSlot(slot) && soundBuffers[slot] != nullptr) soundBuffers[slot]->GetVolume(&volume);
    return volume;
}

void SetBufferPan(uint16_t slot, int pan) {
    LogTwoNumbers(62, slot, pan);
    if (ValidSlot(slot) && soundBuffers[slot] != nullptr) soundBuffers[slot]->SetPan(pan);
}

int GetBufferPan(uint16_t slot) {
    LogNumber(63, slot);
    LONG pan = DSBPAN_CENTER;
    if (ValidSlot(slot) && soundBuffers[slot] != nullptr) soundBuffers[slot]->GetPan(&pan);
    return pan;
}

void ResetSoundOutput() {
    for (uint16_t slot = 0; slot < kSoundSlots; ++slot) {
        ReleaseBuffer(slot);
        DestroyReader(slot);
        bufferSizes[slot] = 0;
    }
    for (IDirectSound* device : replacedDevices) device->Release();
    replacedDevices.clear();
    if (directSound != nullptr) directSound->Release();
    directSound = nullptr;
}
