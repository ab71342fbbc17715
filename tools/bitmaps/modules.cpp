// Which artwork each gauge module carries.
#include "artwork.h"
#include "dib.h"

std::vector<GeneratedBitmap> SoundArtwork(const ArtworkOptions&) {
    // The sound gauge shows nothing: one transparent (black) pixel.
    Picture pixel;
    pixel.width = pixel.height = 1;
    pixel.rgba.assign(4, 0);
    Conversion keyed;
    keyed.blackIsTransparent = true;
    return {{1280, EncodeDib(pixel, DibFormat::Palette8, keyed)}};
}

ModuleArtwork ArtworkForModule(const std::string& module) {
    if (module == "hx8") return Hx8Artwork;
    if (module == "sound") return SoundArtwork;
    return nullptr;
}
