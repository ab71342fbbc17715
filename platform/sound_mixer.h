// The DirectSound stand-in's mixing loops (platform/dsound.cpp owns the
// buffers; this only reads their samples and moves their play positions).
#pragma once

#include <cstddef>
#include <cstdint>

namespace twsound {

// Play positions are source frames in 32.32 fixed point.
constexpr int kFractionBits = 32;
constexpr uint64_t kOneFrame = uint64_t{1} << kFractionBits;

// The mixer sums at most this many output frames at a time, in a float
// accumulator on the caller's stack.
constexpr size_t kChunkFrames = 512;

struct Voice {
    const uint8_t* samples;  // unsigned 8-bit or signed 16-bit little-endian, interleaved
    uint32_t frames;         // whole frames in the buffer, at least 1
    int bits;                // 8 or 16
    int channels;            // 1 or 2
    bool looping;
    float gainLeft;          // 8-bit samples are scaled by 256 through these
    float gainRight;
    uint64_t position;       // below frames << kFractionBits
};

// Adds `count` (at most kChunkFrames) output frames of `voice` to `mix`
// (interleaved left, right), reading `step` source frames (32.32) per output
// frame with linear interpolation, and moves its position on. `mix` may be
// null to move the position only. Returns false when a voice that does not
// loop reached its end (its position is then 0); a looping voice wraps and
// interpolates across the wrap.
bool MixVoice(Voice& voice, float* mix, size_t count, uint64_t step);

// Rounds and clips `count` summed values to signed 16 bits.
void ToInt16(const float* mix, int16_t* out, size_t count);

}  // namespace twsound
