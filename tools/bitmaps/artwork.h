// The artwork of each gauge module: every bitmap it carries, drawn and
// encoded in the pixel format the module's element records expect.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GeneratedBitmap {
    uint32_t id;               // resource number
    std::vector<uint8_t> dib;  // packed DIB, as the BITMAP resource holds it
};

struct ArtworkOptions {
    std::string fontDir;  // folder with the DejaVu TrueType files
};

using ModuleArtwork = std::vector<GeneratedBitmap> (*)(const ArtworkOptions&);

// The engine instruments (tw_hx8): faces, needles, shadows, hub caps, glass.
std::vector<GeneratedBitmap> Hx8Artwork(const ArtworkOptions& options);

// The sound module (tw_sound): its gauge draws nothing, one black pixel.
std::vector<GeneratedBitmap> SoundArtwork(const ArtworkOptions& options);

// The artwork routine of a module by its short name ("hx8", "sound"), or
// nullptr for a name no module has.
ModuleArtwork ArtworkForModule(const std::string& module);
