// Volume and pan as DirectSound takes them, in hundredths of a decibel:
// volume from -10000 (silent) to 0 (the recording's own level), pan from
// -10000 (left) through 0 (centre) to 10000 (right).
#pragma once

#include <cstdint>

constexpr int32_t kVolumeSilent = -10000;
constexpr int32_t kVolumeFull = 0;
constexpr int32_t kPanLeft = -10000;
constexpr int32_t kPanRight = 10000;

// Into -10000..0.
int32_t ClampVolume(int32_t volume);
// Into -10000..10000.
int32_t ClampPan(int32_t pan);
