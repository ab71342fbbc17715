// Drawing a gauge the way the simulator draws it, into an image or a PNG.
//
// The gauge's own element chain is drawn in order (ElementChain: from its
// header's root pointer, following each element's next list): static images
// with their top-left corner at their position, needles rotated about their
// turning point (the element's position on the gauge, the element's offset
// inside its bitmap) to the angle given for them. Bitmaps come from the
// module by resource number as packed DIBs.
//
// What the image flags mean to this host (bits of the element's flags):
//   0x0002  black is transparent: pixels stored as black (0,0,0) are not
//           drawn. Used by needles, shadows and glass.
//   0x0080  smooth: rotated (and scaled) with bilinear filtering; without it
//           the nearest pixel is taken.
//   0x2000  blend: a 32-bit image is composited with its alpha channel
//           (straight, not premultiplied, alpha); an image without an alpha
//           channel is added to what lies below it, as reflected light adds
//           to the instrument (so black adds nothing).
//   0x0001  carries no meaning here (every element of the modules has it).
// So 0x1 is an opaque image, 0x83 a needle with black transparent turned
// smoothly, 0x2003 an overlay (hub cap with alpha, glass added as light).
//
// Angles are degrees in gauge pixels with y growing downwards: 0 points
// right, 90 down (the convention of needle_geometry.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gauge_records.h"

constexpr uint32_t kImageBlackTransparent = 0x2;
constexpr uint32_t kImageSmooth = 0x80;
constexpr uint32_t kImageBlend = 0x2000;

// The packed DIB of a bitmap resource; empty when there is none.
using BitmapLookup = std::function<std::span<const uint8_t>(uint32_t id)>;
// The displayed angle of a needle element; nothing leaves the needle undrawn.
using NeedleAngleLookup = std::function<std::optional<double>(const ElementHeader* needle)>;

// A decoded bitmap: straight RGBA, rows top-down.
struct DecodedBitmap {
    int width = 0;
    int height = 0;
    int bitCount = 0;
    std::vector<uint8_t> rgba;  // 4 bytes a pixel; alpha 255 for formats without alpha
};

// Decodes an uncompressed packed DIB of 8 bits with palette, 16 bits (5-5-5),
// 24 bits or 32 bits (B G R A), rows bottom-up or top-down. Every size is
// checked against the bytes given; on a malformed DIB gives nothing and
// says why in `error`.
std::optional<DecodedBitmap> DecodeDib(std::span<const uint8_t> dib, std::string* error = nullptr);

struct RenderedGauge {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;          // straight RGBA, rows top-down
    std::vector<std::string> problems;  // elements that could not be drawn, and why

    const uint8_t* At(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
};

// Draws the gauge at `scale` times its size. The size is that of its first
// element's bitmap (the background), or its default size squared when the
// background cannot be drawn. An element whose bitmap is missing or
// malformed is left out and listed in `problems`.
RenderedGauge RenderGauge(const GaugeHeader& gauge, const BitmapLookup& bitmaps, const NeedleAngleLookup& angles,
                          double scale = 1.0);

// Writes the image as a PNG file; false (and why in `error`) on failure.
bool WritePng(const RenderedGauge& image, const std::string& path, std::string* error = nullptr);
// The same PNG file's bytes, into `png`.
bool EncodePng(const RenderedGauge& image, std::string* png, std::string* error = nullptr);
