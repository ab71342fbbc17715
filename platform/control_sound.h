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
// Refusals. DirectSound's calls can be made to fail the way a real device
// fails; each refusal takes a count: the next `count` calls fail, a negative
// count makes every call fail until the refusal is set again with 0. A
// refusal is used up only by a call that would otherwise have succeeded: a
// call that fails its own checks leaves the count alone.
//
// Faults. A call on a buffer whose device has been released (on Windows
// that buffer is gone with its device) does nothing, returns
// DSERR_UNINITIALIZED (0 from AddRef and Release) and is recorded as a
// fault, as is any call on a device or buffer already released to 0: tests
// assert that none ever happens. Released objects are kept (their sound
// memory freed) until TwSoundReset, so such a call is safe.
//
// Sound memory is allocated on a buffer's first Lock or Play (the module's
// probe buffer of DSBSIZE_MAX bytes never gets any); when it cannot be had,
// that call fails with DSERR_OUTOFMEMORY. What this stand-in does not do
// fails as DirectSound would: there is no primary buffer
// (DSERR_UNSUPPORTED), SetFormat and Initialize give DSERR_INVALIDCALL,
// SetFrequency DSERR_UNSUPPORTED (DSERR_CONTROLUNAVAIL without
// DSBCAPS_CTRLFREQUENCY), the device's GetCaps and DuplicateSoundBuffer
// DSERR_UNSUPPORTED, QueryInterface E_NOINTERFACE.
// The write cursor is the play cursor: nothing is queued ahead of the mixer.
//
// Sound. Gain is 10^(volume / 2000), the volume in hundredths of a decibel;
// a positive pan attenuates the left channel by that many hundredths of a
// decibel, a negative one the right. A channel attenuated by 100 dB or more
// (volume and pan together) is silent. A mono buffer feeds both channels,
// a stereo one left and right. 8-bit samples are unsigned (128 is silence,
// one step is 256 at 16 bits), 16-bit ones signed. Buffers are resampled by
// linear interpolation from their exact 32.32 play positions, so the output
// does not depend on how the time is cut into TwSoundMix calls.
//
// Everything runs on the host's one thread; nothing here takes a lock.
#pragma once

#include <dsound.h>

#include <cstddef>
#include <cstdint>

extern "C" {

// The mixer's output rate in frames per second (44100 after a reset),
// kept within DSBFREQUENCY_MIN..DSBFREQUENCY_MAX. Buffers of any rate are
// resampled to it.
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
// split in two halves of whole blocks) instead of one; DirectSound may do so
// for any lock. Only a Lock given a second pointer is split (and uses the
// count up); a buffer of one block is never split.
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
    uint64_t framesPlayed; // source frames played since creation (moved over
                           // by the mixer, not by SetCurrentPosition)
};

// Copies up to `capacity` buffers that are neither released nor dead, in
// the order they were made, and returns how many there are in all.
size_t TwSoundListBuffers(struct TwSoundBufferInfo* buffers, size_t capacity);
// One buffer by number, live or not; FALSE when there never was one.
BOOL TwSoundGetBuffer(uint32_t id, struct TwSoundBufferInfo* info);
// The sound bytes of buffer `id` (0 for an unknown, released or dead buffer,
// or when its memory cannot be had). Valid until the buffer is released.
const uint8_t* TwSoundBufferBytes(uint32_t id);

// Devices made and not yet released; buffers neither released nor dead.
size_t TwSoundLiveDevices(void);
size_t TwSoundLiveBuffers(void);

// Calls on buffers of released devices, and calls on released objects.
size_t TwSoundFaultCount(void);
// The text of fault `index` (0 past the count): "buffer 3 Play after its
// device 1 was released", "buffer 2 GetStatus after it was released",
// "device 1 AddRef after it was released".
const char* TwSoundFault(size_t index);

// Every call the module made on DirectSoundCreate, devices and buffers, in
// order, as text: "<object> <method>[(<arguments>)] -> <result>[, <made>]".
//   object     "device N " or "buffer N " (nothing for DirectSoundCreate)
//   arguments  only for the methods below; numbers in decimal, flags in
//              hexadecimal without 0x
//   result     HRESULTs: "0" for DS_OK, a failure as 8 upper-case hex
//              digits ("88780096"); AddRef and Release: the new count
//   made       ", device N" after DirectSoundCreate, ", buffer N" after
//              CreateSoundBuffer, when it succeeded
// Arguments:
//   DirectSoundCreate      none for (0, &p, 0), else "(default device|device
//                          [, no result pointer][, outer])"
//   SetCooperativeLevel    "(level)"
//   SetSpeakerConfig       "(config in hex)"
//   CreateSoundBuffer      "(flags F, B bytes, PCM C ch R Hz S-bit)", with
//                          "tag T" for a format tag other than PCM, "no format",
//                          or only "(description size N)" / "(no description)";
//                          then ", no result pointer" and ", outer" if so
//   Lock                   "(offset O, B bytes, flags F)"
//   Unlock                 "(B1 bytes, B2 bytes)"
//   Play                   "(flags F)", or "(reserved R, priority P, flags F)"
//                          when either is not 0
//   SetCurrentPosition, SetVolume, SetPan, SetFrequency   "(value)"
//   GetFormat              "(size N)"
// Examples: "DirectSoundCreate -> 0, device 1",
// "device 1 SetCooperativeLevel(2) -> 0",
// "device 1 CreateSoundBuffer(flags E0, 88200 bytes, PCM 1 ch 22050 Hz 16-bit) -> 0, buffer 1",
// "buffer 1 SetVolume(-600) -> 0", "buffer 1 Play(flags 1) -> 0",
// "buffer 1 Lock(offset 0, 10 bytes, flags 0) -> 88780096", "buffer 1 Release -> 0".
// Calls on released objects are recorded too. Nothing is dropped: the record
// grows until TwSoundClearCalls or TwSoundReset (a host running for long
// clears it now and then), and the texts handed out stay valid until then.
size_t TwSoundCallCount(void);
// 0 for an index at or past the count.
const char* TwSoundCall(size_t index);
void TwSoundClearCalls(void);

// Forgets every device and buffer (freeing them), the faults, the call
// record and every refusal, and sets the output rate back to 44100.
void TwSoundReset(void);

}  // extern "C"
