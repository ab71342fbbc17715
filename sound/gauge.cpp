// The sound module's records as the simulator reads them: ImportTable,
// Linkage with the start and stop routines, and the one gauge tw_sound. The
// gauge draws nothing (one black, transparent pixel) and handles no mouse;
// it is there for its callback. Static, initialised and writable like every
// record the simulator works with in place.
#include "lifecycle.h"
#include "standard_routines.h"

namespace {

constexpr uint32_t kBmpSoundGauge = 1280;
constexpr uint32_t kImageOpaque = 0x1;

char nameSound[] = "tw_sound";

struct SoundGauge {
    GaugeHeader header;
    ElementHeader* root;
    StaticImageElement image;
    MouseRectangle mouse[3];
};

constexpr MouseRectangle Mouse(uint32_t kind) { return {kind, 0, 0, 0, 0, -1, 0, 0, 0, nullptr, nullptr}; }

SoundGauge soundGauge = {
    {kGaugeHeaderVersion, nameSound, &soundGauge.root, STANDARD_GAUGE_ROUTINES, nullptr, 1, {},
     soundGauge.mouse, SoundGaugeCallback, {}},
    &soundGauge.image.head,
    {{kStaticImage, kBmpSoundGauge, 0, 0, {0, 0}, 0, 0, &soundGauge.header, nullptr, nullptr, nullptr,
      kImageOpaque, 0, 0},
     {}},
    {Mouse(kMouseRegionOpen), Mouse(kMouseRegionClose), Mouse(kMouseEnd)},
};

}  // namespace

extern "C" {

GAUGE_EXPORT ImportTableRecord ImportTable = {kPanelServicesId, nullptr, 0, nullptr};

GAUGE_EXPORT LinkageRecord<1> Linkage = {
    kLinkageId, OpenSimConnect, CloseSimConnect, 0, 0, kLinkageVersion, {&soundGauge.header, nullptr}};

}  // extern "C"

GaugeHeader** const moduleGaugeTable = Linkage.gauges;
