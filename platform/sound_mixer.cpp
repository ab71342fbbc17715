// The mixing loops. A voice at the output rate on a whole frame is added
// straight from its samples. Any other voice is mixed a stretch at a time:
// the source frames the stretch needs are decoded to float first (past the
// end of the buffer: its start again when it loops, silence when it does
// not), so the interpolation that follows has no ends or wraps to look out
// for and reads floats only.
//
// No allocation: the decoded stretch lives on the stack.
#include "sound_mixer.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "16-bit samples are read as little-endian");

namespace twsound {
namespace {

// Source frames one stretch may decode.
constexpr size_t kSpanFrames = 2048;

// A stretch's source frames as float, channels interleaved.
struct Span {
    float samples[2 * kSpanFrames];
};

template <int Bits>
inline float SampleAt(const uint8_t* samples, size_t index) {
    if constexpr (Bits == 8) {
        return static_cast<float>(samples[index]) - 128.0f;
    } else {
        int16_t value;
        std::memcpy(&value, samples + 2 * index, sizeof value);
        return value;
    }
}

// Adds `count` frames from source frame `first` on, without interpolation.
template <int Bits, int Channels>
void AddDirect(const uint8_t* __restrict samples, size_t first, size_t count, float gl, float gr,
               float* __restrict mix) {
    for (size_t j = 0; j < count; ++j) {
        const size_t f = first + j;
        if constexpr (Channels == 1) {
            const float s = SampleAt<Bits>(samples, f);
            mix[2 * j] += s * gl;
            mix[2 * j + 1] += s * gr;
        } else {
            mix[2 * j] += SampleAt<Bits>(samples, 2 * f) * gl;
            mix[2 * j + 1] += SampleAt<Bits>(samples, 2 * f + 1) * gr;
        }
    }
}

template <int Bits>
void Decode(const uint8_t* __restrict samples, size_t first, size_t count, float* __restrict out) {
    for (size_t j = 0; j < count; ++j) out[j] = SampleAt<Bits>(samples, first + j);
}

// Decodes `count` source frames from frame `first` (inside the buffer) on.
template <int Bits, int Channels>
void DecodeSpan(const Voice& v, uint32_t first, size_t count, Span& span) {
    size_t t = 0;
    uint32_t f = first;
    while (t < count) {
        if (f >= v.frames) {
            if (!v.looping) {
                std::fill(span.samples + Channels * t, span.samples + Channels * count, 0.0f);
                return;
            }
            f = 0;
        }
        const size_t run = std::min<size_t>(count - t, v.frames - f);
        Decode<Bits>(v.samples, Channels * size_t{f}, Channels * run, span.samples + Channels * t);
        t += run;
        f += run;
    }
}

// Interpolates `count` output frames from the span, the first at `p`
// (32.32, from the span's first frame), each `step` further on. A frame's
// fraction comes from its exact position, so the sound does not depend on
// where a stretch begins.
template <int Channels>
void AddInterpolated(const Span& span, uint64_t p, uint64_t step, float gl, float gr, size_t count,
                     float* __restrict mix) {
    const float* __restrict in = span.samples;
    size_t j = 0;
#if defined(__SSE2__)
    // Two output frames at a time. One load brings a frame and its right
    // neighbour (both channels), so the pair's four values sit in one
    // register in the order they are mixed: left, right, left, right.
    const __m128 gains = _mm_setr_ps(gl, gr, gl, gr);
    const __m128 scale = _mm_set1_ps(0x1p-31f);
    const __m128i twoSteps = _mm_set1_epi64x(static_cast<long long>(2 * step));
    __m128i positions = _mm_set_epi64x(static_cast<long long>(p + step), static_cast<long long>(p));
    for (; j + 2 <= count; j += 2) {
        const size_t i0 = p >> kFractionBits;
        const size_t i1 = (p + step) >> kFractionBits;
        // Each frame's fraction (the low half of its position) twice.
        const __m128i fractions = _mm_srli_epi32(_mm_shuffle_epi32(positions, _MM_SHUFFLE(2, 2, 0, 0)), 1);
        const __m128 f = _mm_mul_ps(_mm_cvtepi32_ps(fractions), scale);
        __m128 a, b;
        if constexpr (Channels == 1) {
            const __m128i p0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + i0));
            const __m128i p1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + i1));
            const __m128 m = _mm_castsi128_ps(_mm_unpacklo_epi64(p0, p1));  // s0 s0' s1 s1'
            a = _mm_shuffle_ps(m, m, _MM_SHUFFLE(2, 2, 0, 0));
            b = _mm_shuffle_ps(m, m, _MM_SHUFFLE(3, 3, 1, 1));
        } else {
            const __m128 q0 = _mm_loadu_ps(in + 2 * i0);  // l0 r0 l0' r0'
            const __m128 q1 = _mm_loadu_ps(in + 2 * i1);
            a = _mm_movelh_ps(q0, q1);
            b = _mm_movehl_ps(q1, q0);
        }
        const __m128 y = _mm_add_ps(a, _mm_mul_ps(_mm_sub_ps(b, a), f));
        float* out = mix + 2 * j;
        _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), _mm_mul_ps(y, gains)));
        p += 2 * step;
        positions = _mm_add_epi64(positions, twoSteps);
    }
#endif
    // The same arithmetic, one frame at a time.
    for (; j < count; ++j, p += step) {
        const size_t i = p >> kFractionBits;
        const float f = static_cast<float>(static_cast<int32_t>(static_cast<uint32_t>(p) >> 1)) * 0x1p-31f;
        const float* at = in + Channels * i;
        const float l = at[0] + (at[Channels] - at[0]) * f;
        const float r = Channels == 1 ? l : at[1] + (at[3] - at[1]) * f;
        mix[2 * j] += l * gl;
        mix[2 * j + 1] += r * gr;
    }
}

// Output frames from `position` until a voice that does not loop is past its end.
uint64_t FramesToEnd(const Voice& v, uint64_t position, uint64_t step) {
    const uint64_t end = uint64_t{v.frames} << kFractionBits;
    return (end - position + step - 1) / step;
}

template <int Bits, int Channels>
void Mix(Voice& v, float* mix, size_t count, uint64_t step) {
    const uint64_t end = uint64_t{v.frames} << kFractionBits;
    uint64_t pos = v.position;
    size_t k = 0;
    while (k < count) {
        if (pos >= end) pos %= end;  // only a looping voice gets here past its end
        size_t n = count - k;
        if (!v.looping) n = std::min<uint64_t>(n, FramesToEnd(v, pos, step));
        const uint32_t first = static_cast<uint32_t>(pos >> kFractionBits);
        const uint64_t fraction = pos & (kOneFrame - 1);
        if (step == kOneFrame && fraction == 0) {
            n = std::min<size_t>(n, v.frames - first);
            AddDirect<Bits, Channels>(v.samples, first, n, v.gainLeft, v.gainRight, mix + 2 * k);
        } else {
            // The last frame's position must leave its right neighbour inside
            // the span.
            const uint64_t limit = (uint64_t{kSpanFrames - 1} << kFractionBits) - 1 - fraction;
            n = std::min<uint64_t>(n, limit / step + 1);
            const size_t needed = ((fraction + (n - 1) * step) >> kFractionBits) + 2;
            Span span;
            DecodeSpan<Bits, Channels>(v, first, needed, span);
            AddInterpolated<Channels>(span, fraction, step, v.gainLeft, v.gainRight, n, mix + 2 * k);
        }
        k += n;
        pos += n * step;
        if (!v.looping && pos >= end) break;
    }
    v.position = pos;
}

}  // namespace

bool MixVoice(Voice& v, float* mix, size_t count, uint64_t step) {
    const uint64_t end = uint64_t{v.frames} << kFractionBits;
    // A position set past the last whole frame: a voice played once has
    // nothing left to play.
    if (v.position >= end && !v.looping) {
        v.position = 0;
        return false;
    }
    if (mix == nullptr || (v.gainLeft == 0.0f && v.gainRight == 0.0f)) {
        v.position += count * step;
    } else if (v.bits == 8) {
        v.channels == 1 ? Mix<8, 1>(v, mix, count, step) : Mix<8, 2>(v, mix, count, step);
    } else {
        v.channels == 1 ? Mix<16, 1>(v, mix, count, step) : Mix<16, 2>(v, mix, count, step);
    }
    if (v.position < end) return true;
    if (!v.looping) {
        v.position = 0;
        return false;
    }
    v.position %= end;
    return true;
}

void ToInt16(const float* mix, int16_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const float v = std::clamp(mix[i], -32768.0f, 32767.0f);
        out[i] = static_cast<int16_t>(v >= 0.0f ? v + 0.5f : v - 0.5f);
    }
}

}  // namespace twsound
