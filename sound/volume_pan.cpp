#include "volume_pan.h"

int32_t ClampVolume(int32_t volume) {
    if (volume >= kVolumeFull) return kVolumeFull;
    if (volume < kVolumeSilent + 1) return kVolumeSilent;
    return volume;
}

int32_t ClampPan(int32_t pan) {
    if (pan < kPanLeft + 1) return kPanLeft;
    if (pan > kPanRight - 1) return kPanRight;
    return pan;
}
