#include "render.h"

#include <cairo.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "records.h"

namespace {

constexpr uint32_t kInfoHeaderSize = 40;
constexpr int kMaxDimension = 16384;
constexpr double kMaxScale = 32.0;

uint32_t U32(std::span<const uint8_t> b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}
uint16_t U16(std::span<const uint8_t> b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

bool Fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

std::nullopt_t Malformed(std::string* error, const std::string& why) {
    Fail(error, why);
    return std::nullopt;
}

// 5-bit channel to 8 bits, so that 31 gives 255.
uint8_t Expand5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }

// A cairo surface of the decoded bitmap with the element's flags applied.
struct Surface {
    cairo_surface_t* surface = nullptr;
    bool additive = false;
    ~Surface() {
        if (surface) cairo_surface_destroy(surface);
    }
};

bool MakeSurface(const DecodedBitmap& bitmap, uint32_t flags, Surface& out) {
    const bool keyBlack = (flags & kImageBlackTransparent) != 0;
    const bool hasAlpha = bitmap.bitCount == 32;
    const bool useAlpha = hasAlpha && (flags & kImageBlend) != 0;
    out.additive = !hasAlpha && (flags & kImageBlend) != 0;
    out.surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, bitmap.width, bitmap.height);
    if (cairo_surface_status(out.surface) != CAIRO_STATUS_SUCCESS) return false;
    cairo_surface_flush(out.surface);
    unsigned char* data = cairo_image_surface_get_data(out.surface);
    const int stride = cairo_image_surface_get_stride(out.surface);
    for (int y = 0; y < bitmap.height; ++y) {
        for (int x = 0; x < bitmap.width; ++x) {
            const uint8_t* px = &bitmap.rgba[(static_cast<size_t>(y) * bitmap.width + x) * 4];
            unsigned a = useAlpha ? px[3] : 255;
            // With an alpha channel in use, alpha alone decides what shows.
            if (keyBlack && !useAlpha && px[0] == 0 && px[1] == 0 && px[2] == 0) a = 0;
            const uint32_t v = (a << 24) | (((px[0] * a + 127) / 255) << 16) | (((px[1] * a + 127) / 255) << 8) |
                               ((px[2] * a + 127) / 255);
            std::memcpy(data + static_cast<size_t>(y) * stride + x * 4, &v, 4);
        }
    }
    cairo_surface_mark_dirty(out.surface);
    return true;
}

}  // namespace

std::optional<DecodedBitmap> DecodeDib(std::span<const uint8_t> dib, std::string* error) {
    if (dib.size() < kInfoHeaderSize) return Malformed(error, "shorter than a bitmap header");
    const uint32_t headerSize = U32(dib, 0);
    if (headerSize < kInfoHeaderSize || headerSize > dib.size()) {
        return Malformed(error, "header size " + std::to_string(headerSize) + " not usable");
    }
    const int32_t width = static_cast<int32_t>(U32(dib, 4));
    const int32_t rawHeight = static_cast<int32_t>(U32(dib, 8));
    const uint16_t bitCount = U16(dib, 14);
    const uint32_t compression = U32(dib, 16);
    const uint32_t coloursUsed = U32(dib, 32);
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN || width > kMaxDimension ||
        std::abs(rawHeight) > kMaxDimension) {
        return Malformed(error, "size " + std::to_string(width) + " x " + std::to_string(rawHeight) + " not usable");
    }
    if (compression != 0) return Malformed(error, "compressed bitmaps are not supported");
    if (bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) {
        return Malformed(error, std::to_string(bitCount) + "-bit bitmaps are not supported");
    }
    const bool bottomUp = rawHeight > 0;
    const int height = std::abs(rawHeight);
    const uint64_t paletteEntries = bitCount == 8 ? (coloursUsed == 0 ? 256 : coloursUsed) : 0;
    if (paletteEntries > 256) return Malformed(error, "palette larger than 256 colours");
    const uint64_t rowBytes = (uint64_t{static_cast<uint32_t>(width)} * bitCount + 31) / 32 * 4;
    const uint64_t pixelsAt = uint64_t{headerSize} + paletteEntries * 4;
    if (pixelsAt + rowBytes * height > dib.size()) {
        return Malformed(error, "pixel rows run past the end of the bitmap (" + std::to_string(dib.size()) + " bytes)");
    }

    DecodedBitmap out;
    out.width = width;
    out.height = height;
    out.bitCount = bitCount;
    out.rgba.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        const size_t row = pixelsAt + rowBytes * static_cast<uint64_t>(bottomUp ? height - 1 - y : y);
        for (int x = 0; x < width; ++x) {
            uint8_t* px = &out.rgba[(static_cast<size_t>(y) * width + x) * 4];
            px[3] = 255;
            switch (bitCount) {
                case 8: {
                    const uint8_t index = dib[row + x];
                    if (index < paletteEntries) {  // an index past the palette reads as black
                        const size_t entry = headerSize + size_t{index} * 4;
                        px[0] = dib[entry + 2], px[1] = dib[entry + 1], px[2] = dib[entry];
                    } else {
                        px[0] = px[1] = px[2] = 0;
                    }
                    break;
                }
                case 16: {
                    const uint16_t v = U16(dib, row + size_t{static_cast<unsigned>(x)} * 2);
                    px[0] = Expand5((v >> 10) & 31), px[1] = Expand5((v >> 5) & 31), px[2] = Expand5(v & 31);
                    break;
                }
                case 24: {
                    const size_t at = row + size_t{static_cast<unsigned>(x)} * 3;
                    px[0] = dib[at + 2], px[1] = dib[at + 1], px[2] = dib[at];
                    break;
                }
                case 32: {
                    const size_t at = row + size_t{static_cast<unsigned>(x)} * 4;
                    px[0] = dib[at + 2], px[1] = dib[at + 1], px[2] = dib[at], px[3] = dib[at + 3];
                    break;
                }
            }
        }
    }
    return out;
}

RenderedGauge RenderGauge(const GaugeHeader& gauge, const BitmapLookup& bitmaps, const NeedleAngleLookup& angles,
                          double scale) {
    RenderedGauge out;
    if (!(scale > 0) || scale > kMaxScale) {
        out.problems.push_back("scale " + std::to_string(scale) + " not usable: drawn at 1");
        scale = 1.0;
    }
    const std::vector<ElementHeader*> chain = ElementChain(gauge);

    struct Prepared {
        const ElementHeader* element;
        std::optional<DecodedBitmap> bitmap;
    };
    std::vector<Prepared> prepared;
    for (const ElementHeader* element : chain) {
        std::string why;
        std::optional<DecodedBitmap> bitmap;
        const std::span<const uint8_t> dib = bitmaps ? bitmaps(element->bitmapId) : std::span<const uint8_t>{};
        if (dib.empty()) {
            why = "no such bitmap";
        } else {
            bitmap = DecodeDib(dib, &why);
        }
        if (!bitmap) out.problems.push_back("bitmap " + std::to_string(element->bitmapId) + ": " + why);
        prepared.push_back({element, std::move(bitmap)});
    }

    int gaugeWidth = static_cast<int>(std::clamp<uint32_t>(gauge.defaultSize, 1, kMaxDimension));
    int gaugeHeight = gaugeWidth;
    if (!prepared.empty() && prepared.front().bitmap) {
        gaugeWidth = prepared.front().bitmap->width;
        gaugeHeight = prepared.front().bitmap->height;
    }
    out.width = std::max(1, static_cast<int>(std::lround(gaugeWidth * scale)));
    out.height = std::max(1, static_cast<int>(std::lround(gaugeHeight * scale)));

    cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, out.width, out.height);
    if (cairo_surface_status(target) != CAIRO_STATUS_SUCCESS) {
        out.problems.push_back("cannot make a " + std::to_string(out.width) + " x " + std::to_string(out.height) +
                               " image: " + cairo_status_to_string(cairo_surface_status(target)));
        cairo_surface_destroy(target);
        out.width = out.height = 0;
        return out;
    }
    cairo_t* cr = cairo_create(target);
    cairo_scale(cr, scale, scale);
    for (const Prepared& p : prepared) {
        if (!p.bitmap) continue;
        const ElementHeader& e = *p.element;
        Surface image;
        if (!MakeSurface(*p.bitmap, e.imageFlags, image)) {
            out.problems.push_back("bitmap " + std::to_string(e.bitmapId) + ": cannot make a surface");
            continue;
        }
        cairo_save(cr);
        cairo_translate(cr, e.positionX, e.positionY);
        bool turned = false;
        if (e.kind == kNeedle) {
            const std::optional<double> angle = angles ? angles(&e) : std::nullopt;
            if (!angle || !std::isfinite(*angle)) {
                cairo_restore(cr);
                continue;  // a needle without a value yet is not drawn
            }
            cairo_rotate(cr, *angle * std::numbers::pi / 180.0);
            cairo_translate(cr, -e.offsetX, -e.offsetY);
            turned = true;
        }
        cairo_set_source_surface(cr, image.surface, 0, 0);
        // Static images at their own size land on whole pixels: taken as they are.
        const bool smooth = (e.imageFlags & kImageSmooth) != 0 || (!turned && scale != 1.0);
        cairo_pattern_set_filter(cairo_get_source(cr), smooth ? CAIRO_FILTER_BILINEAR : CAIRO_FILTER_NEAREST);
        // A scaled static image keeps its edge pixels up to its edge; needles fade out.
        if (!turned) {
            cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
            cairo_rectangle(cr, 0, 0, p.bitmap->width, p.bitmap->height);
            cairo_clip(cr);
        }
        cairo_set_operator(cr, image.additive ? CAIRO_OPERATOR_ADD : CAIRO_OPERATOR_OVER);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    cairo_destroy(cr);

    cairo_surface_flush(target);
    const unsigned char* data = cairo_image_surface_get_data(target);
    const int stride = cairo_image_surface_get_stride(target);
    out.rgba.resize(static_cast<size_t>(out.width) * out.height * 4);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            uint32_t v;
            std::memcpy(&v, data + static_cast<size_t>(y) * stride + x * 4, 4);
            const unsigned a = v >> 24;
            uint8_t* px = &out.rgba[(static_cast<size_t>(y) * out.width + x) * 4];
            for (int ch = 0; ch < 3; ++ch) {
                const unsigned c = (v >> (16 - 8 * ch)) & 0xFF;
                px[ch] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (c * 255 + a / 2) / a));
            }
            px[3] = static_cast<uint8_t>(a);
        }
    }
    cairo_surface_destroy(target);
    return out;
}

namespace {

// The image as a cairo surface (premultiplied native-endian ARGB); 0 (and
// why) when there is none.
cairo_surface_t* PngSurface(const RenderedGauge& image, std::string* error) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != static_cast<size_t>(image.width) * image.height * 4) {
        Fail(error, "no image to write");
        return nullptr;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width, image.height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        Fail(error, "cannot make a " + std::to_string(image.width) + " x " + std::to_string(image.height) + " image");
        return nullptr;
    }
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* px = image.At(x, y);
            const unsigned a = px[3];
            const uint32_t v = (a << 24) | (((px[0] * a + 127) / 255) << 16) | (((px[1] * a + 127) / 255) << 8) |
                               ((px[2] * a + 127) / 255);
            std::memcpy(data + static_cast<size_t>(y) * stride + x * 4, &v, 4);
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

}  // namespace

bool WritePng(const RenderedGauge& image, const std::string& path, std::string* error) {
    cairo_surface_t* surface = PngSurface(image, error);
    if (surface == nullptr) return false;
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) return Fail(error, path + ": " + cairo_status_to_string(status));
    return true;
}

namespace {

void PutBigEndian(std::string* out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>((value >> shift) & 0xFF));
}

void PutChunk(std::string* out, const char type[4], const std::string& data) {
    PutBigEndian(out, static_cast<uint32_t>(data.size()));
    const size_t start = out->size();
    out->append(type, 4);
    out->append(data);
    const auto* bytes = reinterpret_cast<const Bytef*>(out->data() + start);
    PutBigEndian(out, static_cast<uint32_t>(crc32(0, bytes, static_cast<uInt>(out->size() - start))));
}

}  // namespace

// Written here rather than by cairo: a live panel encodes a picture whenever
// a needle moves, and cairo's writer (libpng at its default compression)
// takes several times longer for a picture a few per cent smaller. Each row
// is filtered with "up" (the difference to the row above), which suits a
// dial, then deflated at zlib's fastest level.
bool EncodePng(const RenderedGauge& image, std::string* png, std::string* error) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != static_cast<size_t>(image.width) * image.height * 4) {
        return Fail(error, "no image to write");
    }
    const size_t row = static_cast<size_t>(image.width) * 4;
    std::string filtered(static_cast<size_t>(image.height) * (row + 1), '\0');
    for (int y = 0; y < image.height; ++y) {
        char* out = filtered.data() + static_cast<size_t>(y) * (row + 1);
        const uint8_t* line = image.rgba.data() + static_cast<size_t>(y) * row;
        out[0] = y == 0 ? 0 : 2;  // none for the first row, up for the others
        if (y == 0) {
            std::memcpy(out + 1, line, row);
            continue;
        }
        const uint8_t* above = line - row;
        for (size_t x = 0; x < row; ++x) out[1 + x] = static_cast<char>(line[x] - above[x]);
    }
    uLongf size = compressBound(static_cast<uLong>(filtered.size()));
    std::string deflated(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(deflated.data()), &size, reinterpret_cast<const Bytef*>(filtered.data()),
                  static_cast<uLong>(filtered.size()), Z_BEST_SPEED) != Z_OK) {
        return Fail(error, "cannot compress the image");
    }
    deflated.resize(size);

    std::string header;
    PutBigEndian(&header, static_cast<uint32_t>(image.width));
    PutBigEndian(&header, static_cast<uint32_t>(image.height));
    header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits a sample, RGBA, deflate, no interlace
    png->assign("\x89PNG\r\n\x1a\n", 8);
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", deflated);
    PutChunk(png, "IEND", std::string());
    return true;
}
