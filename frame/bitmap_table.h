// The module's bitmaps as the native build carries them.
//
// On Windows a module's bitmaps are numbered BITMAP resources. A Linux shared
// library has no resources, so the native build of a module exports this
// table instead (generated at build time from the same artwork as the .bmp
// files) and the host looks it up by name. Each entry holds the packed DIB
// exactly as a Windows BITMAP resource holds it: BITMAPINFOHEADER, palette,
// pixel rows; no 14-byte file header.
#pragma once

#include <cstdint>

struct TwBitmapResource {
    uint32_t id;         // resource number; 0 ends the table
    uint32_t size;       // bytes at dib
    const uint8_t* dib;  // packed DIB
};

// Exported name of the table in a native module.
#define TW_BITMAP_RESOURCES_SYMBOL "TwBitmapResources"
