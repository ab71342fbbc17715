// Host-facing control of the native DirectSound stand-in (dsound.h).
//
// The module sees only DirectSoundCreate and the IDirectSound and
// IDirectSoundBuffer objects. Behind them every playing buffer of every live
// device is mixed by a software mixer into signed 16-bit stereo at the
// output rate. Nothing plays by itself: the host steps the mixer with
// simulated time (TwSoundMix), so what a buffer played is exact and
// repeatable.
//
// Objects are numbered from 1 in the order they were made (devices and
// buffers each have their own numbering), and the numbers are never reused
// until TwSoundReset.
//
// Faults. DirectSound's calls can be made to fail the way a real device
// fails; each refusal takes a count: the next `count` calls fail, a negative
// count makes every call fail until the refusal is set again with 0.
// A call on a buffer whose device has been released (on Windows that buffer
// is gone with its device) does nothing, returns DSERR_UNINITIALIZED and is
// recorded as a fault: tests assert that none ever happens.
//
// Everything runs on the host's one thread; nothing here takes a lock.
#pragma once

#include <dsound.h>

#include <cstddef>
#include <cstdint>

extern "C" {

// The mixer's output rate in frames per second (44100 after a reset).
// Buffers of any rate are resampled to it.
void TwSoundSetOutputRate(uint32_t framesPerSecond);
uint32_t TwSoundOutputRate(void);

// Mixes the next `frames` frames of every playing buffer of every live
// device into `out` (interleaved left, right; 2 * frames values), moving
// their play positions on. A buffer played once stops at its end (its
// position goes back to 0, as DirectSound's does); a looping one wraps.
// `out` may be 0 to let the time pass without keeping the sound.
void TwSoundMix(int16_t* out, size_t frames);

// Faults to inject, each for the next `count` calls (negative: always).
// DirectSoundCreate fails with DSERR_NODRIVER.
void TwSoundRefuseCreate(int count);
// SetCooperativeLevel fails with DSERR_INVALIDPARAM. It always fails for a
// window that is not registered (control_window.h), e.g. the 0 that
// FindWindowA gives when no "FS98MAIN" window exists.
void TwSoundRefuseCooperativeLevel(int count);
// CreateSoundBuffer of a buffer of DSBSIZE_MAX bytes (the module's probe
// for a usable device) fails with DSERR_OUTOFMEMORY.
void TwSoundRefuseProbeBuffer(int count);
// CreateSoundBuffer of any other buffer fails with DSERR_BADFORMAT, as for
// a format the device cannot play.
void TwSoundRefuseFormat(int count);
// Lock fails with DSERR_INVALIDCALL.
void TwSoundRefuseLock(int count);
// Lock of a whole buffer from offset 0 hands out two regions (the buffer
// split in two halves) instead of one; DirectSound may do so for any lock.
void TwSoundSplitLock(int count);

// Marks buffer `id` lost, as DirectSound does when the device is taken
// away: Play and Lock fail with DSERR_BUFFERLOST, GetStatus reports
// DSBSTATUS_BUFFERLOST and the buffer stops. Its next `restoreFailures`
// Restore calls fail with DSERR_BUFFERLOST (negative: all of them); the one
// after succeeds, and the buffer's memory then holds zeros until it is
// filled again. Returns FALSE for an unknown or dead buffer.
BOOL TwSoundLoseBuffer(uint32_t id, int restoreFailures);

// What the host can see of a buffer.
struct TwSoundBufferInfo {
    uint32_t id;
    uint32_t deviceId;
    DWORD flags;           // as created
    DWORD bytes;           // size
    WAVEFORMATEX format;
    BOOL playing;
    BOOL looping;
    BOOL lost;
    BOOL released;         // Release brought its count to 0
    BOOL dead;             // its device was released first
    DWORD position;        // play position in bytes
    LONG volume;
    LONG pan;
    uint64_t framesPlayed; // source frames mixed since creation
};

// Copies up to `capacity` buffers that are neither released nor dead, in
// the order they were made, and returns how many there are in all.
size_t TwSoundListBuffers(struct TwSoundBufferInfo* buffers, size_t capacity);
// One buffer by number, live or not; FALSE when there never was one.
BOOL TwSoundGetBuffer(uint32_t id, struct TwSoundBufferInfo* info);
// The sound bytes of buffer `id` (0 for an unknown, released or dead buffer).
const uint8_t* TwSoundBufferBytes(uint32_t id);

// Devices made and not yet released; buffers neither released nor dead.
size_t TwSoundLiveDevices(void);
size_t TwSoundLiveBuffers(void);

// Calls on buffers of released devices, and calls on released objects.
size_t TwSoundFaultCount(void);
// The text of fault `index`, e.g. "buffer 3 Play after its device 1 was released".
const char* TwSoundFault(size_t index);

// Every call the module made, in order, as text: "DirectSoundCreate -> 1",
// "device 1 SetCooperativeLevel(1) -> 0", "buffer 2 SetVolume(-600) -> 0",
// "buffer 2 Play(flags 1) -> 0". The result is printed in hexadecimal when
// it is a failure ("-> 88780096").
size_t TwSoundCallCount(void);
const char* TwSoundCall(size_t index);
void TwSoundClearCalls(void);

// Forgets every device and buffer (freeing them), the faults, the call
// record and every refusal, and sets the output rate back to 44100.
void TwSoundReset(void);

}  // extern "C"
