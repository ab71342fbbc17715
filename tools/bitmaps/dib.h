// Device-independent bitmaps as the gauge modules carry them: a
// BITMAPINFOHEADER, the palette (8-bit images only), then the pixel rows
// bottom-up (positive height), each row padded to 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A drawn picture: straight (not premultiplied) RGBA, rows top-down.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // width * height * 4: r, g, b, a

    uint8_t* At(int x, int y) { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    const uint8_t* At(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
};

enum class DibFormat {
    Rgb555,       // 16 bits per pixel, 5-5-5, no palette
    Palette8,     // 8 bits per pixel with a palette
    Argb32,       // 32 bits per pixel, B G R A with straight alpha
};

// How pixels that are not fully covered turn into the stored colours of
// formats without an alpha channel.
struct Conversion {
    // Black (0,0,0) marks transparent pixels: pixels with less coverage than
    // `coverageThreshold` become black, every visible pixel is kept off pure
    // black so that it cannot vanish.
    bool blackIsTransparent = false;
    uint8_t coverageThreshold = 96;
    // Partly covered visible pixels are blended over this colour (the colour
    // the image will most often lie on), so edges neither glow nor darken.
    uint8_t matte[3] = {0, 0, 0};
    // 16-bit images: ordered dithering, so that soft gradients on the faces
    // do not fall into visible rings of 5-bit steps.
    bool dither = false;
};

// Builds the packed DIB (what a BITMAP resource holds).
std::vector<uint8_t> EncodeDib(const Picture& picture, DibFormat format, const Conversion& conversion);

// The .bmp file of a packed DIB: the 14-byte BITMAPFILEHEADER in front.
std::vector<uint8_t> BmpFileFromDib(const std::vector<uint8_t>& dib);
