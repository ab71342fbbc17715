// The sound module's DirectSound device and its sound slots.
//
// Every configured sound item has one slot, numbered like the item: one
// static secondary buffer holding the item's whole sound, and one open WAV
// file reader to fill it again when DirectSound loses it. Sounds are read
// from disk once, when the module first initialises; playing, stopping and
// setting volume or pan only call DirectSound.
//
// The device lives from a connect-to-window service to the next pre-kill.
// Pre-kill releases the buffers together with every device the module
// holds (a buffer must never outlive its device), and the next
// connect-to-window creates them again from the readers, so a panel that is
// closed and opened again keeps its sounds.
#pragma once

#include <windows.h>
#include <dsound.h>

#include <cstdint>
#include <string>
#include <vector>

#include "wave_reader.h"

constexpr uint16_t kSoundSlots = 100;

// Restore passes before RestoreBuffers gives up on a buffer that stays
// lost: each pass sleeps 10 ms, so about one second in all.
constexpr int kMaxRestorePasses = 100;
constexpr DWORD kRestoreSleepMs = 10;

// The device the slots' new buffers are made on (0 when none is held), and
// the devices that a later InitDirectSound replaced: they stay alive, since
// buffers made on them keep playing, until pre-kill releases them all.
extern IDirectSound* directSound;
extern std::vector<IDirectSound*> replacedDevices;

// The slot tables, indexed by slot number.
extern IDirectSoundBuffer* soundBuffers[kSoundSlots];
extern WaveFileReader* waveReaders[kSoundSlots];
extern DWORD bufferSizes[kSoundSlots];

HRESULT InitDirectSound();
HRESULT FreeDirectSound();

void LoadAllWaveFiles();
void LoadWaveFile(uint16_t slot, const std::string& path);
HRESULT CreateStaticBuffer(uint16_t slot, const std::string& path);
HRESULT FillBuffer(uint16_t slot);
// Makes the buffer of every slot whose reader holds an open file but which
// has no buffer (pre-kill released it, or there was no device when the
// sounds were loaded), and fills it from the start of the sound.
void RecreateBuffers();

HRESULT PlayBuffer(uint16_t slot, int looped);
void StopBuffer(uint16_t slot, int rewind);
HRESULT RestoreBuffers(uint16_t slot);

void SetBufferVolume(uint16_t slot, int volume);
// -10000 (silent) for a slot without a buffer.
int GetBufferVolume(uint16_t slot);
void SetBufferPan(uint16_t slot, int pan);
// 0 (centre) for a slot without a buffer.
int GetBufferPan(uint16_t slot);

// Releases every buffer and device and destroys every reader (closing its
// file): the slots as at load. The module's stop routine calls it, since the
// module is unloaded next; the checker runs several loads in one process.
void ResetSoundOutput();
