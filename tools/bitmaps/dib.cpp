#include "dib.h"

#include <algorithm>
#include <array>
#include <map>
#include <stdexcept>

namespace {

constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kFileHeaderSize = 14;
constexpr int32_t kPixelsPerMetre = 2835;  // 72 dots per inch

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

uint32_t RowBytes(int width, int bits) { return ((static_cast<uint32_t>(width) * bits + 31) / 32) * 4; }

using Rgb = std::array<uint8_t, 3>;

// The colour a pixel is stored as in a format without alpha; nullopt-like
// `visible == false` for pixels that become transparent black.
struct Stored {
    bool visible;
    Rgb rgb;
};

Stored StoredColour(const uint8_t* px, const Conversion& c) {
    const unsigned a = px[3];
    if (c.blackIsTransparent && a < c.coverageThreshold) return {false, {0, 0, 0}};
    Rgb rgb;
    for (int i = 0; i < 3; ++i) rgb[i] = static_cast<uint8_t>((px[i] * a + c.matte[i] * (255 - a) + 127) / 255);
    return {true, rgb};
}

// Keeps a visible colour away from the transparent one after it has been cut
// to `bits` bits per channel.
void KeepOffBlack(Rgb& rgb, int bits) {
    const int step = 1 << (8 - bits);
    if ((rgb[0] >> (8 - bits)) == 0 && (rgb[1] >> (8 - bits)) == 0 && (rgb[2] >> (8 - bits)) == 0) {
        rgb = {static_cast<uint8_t>(step), static_cast<uint8_t>(step), static_cast<uint8_t>(step)};
    }
}

// 8 bits to 5, rounding; `bias` in 1/16 of a step moves the rounding point
// (ordered dithering), 8 being plain rounding.
uint8_t To5(uint8_t v, int bias = 8) {
    return static_cast<uint8_t>(std::clamp((v * 31 * 16 + bias * 255) / (255 * 16), 0, 31));
}

constexpr int kBayer4[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

void EncodeRgb555(const Picture& p, const Conversion& c, std::vector<uint8_t>& out) {
    const uint32_t row = RowBytes(p.width, 16);
    for (int y = p.height - 1; y >= 0; --y) {
        const size_t start = out.size();
        for (int x = 0; x < p.width; ++x) {
            const Stored s = StoredColour(p.At(x, y), c);
            uint16_t v = 0;
            if (s.visible) {
                const int bias = c.dither ? kBayer4[y & 3][x & 3] : 8;
                uint16_t r = To5(s.rgb[0], bias), g = To5(s.rgb[1], bias), b = To5(s.rgb[2], bias);
                if (r == 0 && g == 0 && b == 0) r = g = b = 1;  // pure black would read as a hole
                v = static_cast<uint16_t>((r << 10) | (g << 5) | b);
            }
            PutU16(out, v);
        }
        out.resize(start + row, 0);
    }
}

uint32_t Key(const Rgb& c) { return (uint32_t{c[0]} << 16) | (uint32_t{c[1]} << 8) | c[2]; }
Rgb FromKey(uint32_t k) { return {static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k)}; }

// Median cut over the colour histogram, fully ordered so that the same
// picture always gives the same palette.
std::vector<Rgb> MedianCut(const std::map<uint32_t, uint32_t>& histogram, size_t maxColours) {
    struct Entry {
        Rgb rgb;
        uint32_t count;
    };
    if (histogram.empty()) return {};
    std::vector<Entry> all;
    for (const auto& [key, count] : histogram) all.push_back({FromKey(key), count});
    std::vector<std::vector<Entry>> boxes{all};
    auto range = [](const std::vector<Entry>& box, int& channel) {
        int best = -1;
        for (int ch = 0; ch < 3; ++ch) {
            int lo = 255, hi = 0;
            for (const Entry& e : box) lo = std::min<int>(lo, e.rgb[ch]), hi = std::max<int>(hi, e.rgb[ch]);
            if (hi - lo > best) best = hi - lo, channel = ch;
        }
        return best;
    };
    while (boxes.size() < maxColours) {
        size_t pick = boxes.size();
        int pickRange = 0, pickChannel = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            int channel = 0;
            const int r = boxes[i].size() > 1 ? range(boxes[i], channel) : 0;
            if (r > pickRange) pick = i, pickRange = r, pickChannel = channel;
        }
        if (pick == boxes.size()) break;
        std::vector<Entry>& box = boxes[pick];
        std::stable_sort(box.begin(), box.end(),
                         [&](const Entry& a, const Entry& b) { return a.rgb[pickChannel] < b.rgb[pickChannel]; });
        uint64_t total = 0;
        for (const Entry& e : box) total += e.count;
        uint64_t run = 0;
        size_t cut = 1;
        for (; cut < box.size(); ++cut) {
            run += box[cut - 1].count;
            if (run * 2 >= total) break;
        }
        cut = std::clamp<size_t>(cut, 1, box.size() - 1);
        std::vector<Entry> upper(box.begin() + static_cast<long>(cut), box.end());
        box.resize(cut);
        boxes.push_back(std::move(upper));
    }
    std::vector<Rgb> palette;
    for (const auto& box : boxes) {
        uint64_t sum[3] = {0, 0, 0}, n = 0;
        for (const Entry& e : box) {
            for (int ch = 0; ch < 3; ++ch) sum[ch] += uint64_t{e.rgb[ch]} * e.count;
            n += e.count;
        }
        Rgb mean;
        for (int ch = 0; ch < 3; ++ch) mean[ch] = static_cast<uint8_t>((sum[ch] + n / 2) / n);
        KeepOffBlack(mean, 8);
        palette.push_back(mean);
    }
    std::sort(palette.begin(), palette.end());
    palette.erase(std::unique(palette.begin(), palette.end()), palette.end());
    return palette;
}

void EncodePalette8(const Picture& p, const Conversion& c, std::vector<uint8_t>& out, uint32_t& colours) {
    std::vector<Stored> stored;
    std::map<uint32_t, uint32_t> histogram;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            Stored s = StoredColour(p.At(x, y), c);
            if (s.visible) {
                KeepOffBlack(s.rgb, 8);
                ++histogram[Key(s.rgb)];
            }
            stored.push_back(s);
        }
    }
    // Index 0 is black: the transparent colour, present in every palette.
    std::vector<Rgb> palette{{0, 0, 0}};
    for (const Rgb& rgb : MedianCut(histogram, 255)) palette.push_back(rgb);
    colours = static_cast<uint32_t>(palette.size());

    std::map<uint32_t, uint8_t> index;
    auto nearest = [&](const Rgb& rgb) {
        const auto found = index.find(Key(rgb));
        if (found != index.end()) return found->second;
        uint8_t best = 1;
        int bestDistance = 1 << 30;
        for (size_t i = 1; i < palette.size(); ++i) {
            int d = 0;
            for (int ch = 0; ch < 3; ++ch) d += (rgb[ch] - palette[i][ch]) * (rgb[ch] - palette[i][ch]);
            if (d < bestDistance) bestDistance = d, best = static_cast<uint8_t>(i);
        }
        index.emplace(Key(rgb), best);
        return best;
    };

    for (const Rgb& rgb : palette) {
        out.push_back(rgb[2]);
        out.push_back(rgb[1]);
        out.push_back(rgb[0]);
        out.push_back(0);
    }
    const uint32_t row = RowBytes(p.width, 8);
    for (int y = p.height - 1; y >= 0; --y) {
        const size_t start = out.size();
        for (int x = 0; x < p.width; ++x) {
            const Stored& s = stored[static_cast<size_t>(y) * p.width + x];
            out.push_back(s.visible ? nearest(s.rgb) : 0);
        }
        out.resize(start + row, 0);
    }
}

void EncodeArgb32(const Picture& p, std::vector<uint8_t>& out) {
    for (int y = p.height - 1; y >= 0; --y) {
        for (int x = 0; x < p.width; ++x) {
            const uint8_t* px = p.At(x, y);
            const bool clear = px[3] == 0;  // fully transparent pixels store no colour
            out.push_back(clear ? 0 : px[2]);
            out.push_back(clear ? 0 : px[1]);
            out.push_back(clear ? 0 : px[0]);
            out.push_back(px[3]);
        }
    }
}

}  // namespace

std::vector<uint8_t> EncodeDib(const Picture& picture, DibFormat format, const Conversion& conversion) {
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.rgba.size() != static_cast<size_t>(picture.width) * picture.height * 4) {
        throw std::invalid_argument("picture has no pixels or the wrong number of them");
    }
    const int bits = format == DibFormat::Rgb555 ? 16 : format == DibFormat::Palette8 ? 8 : 32;
    std::vector<uint8_t> pixels;
    uint32_t colours = 0;
    switch (format) {
        case DibFormat::Rgb555: EncodeRgb555(picture, conversion, pixels); break;
        case DibFormat::Palette8: EncodePalette8(picture, conversion, pixels, colours); break;
        case DibFormat::Argb32: EncodeArgb32(picture, pixels); break;
    }
    const uint32_t imageSize = RowBytes(picture.width, bits) * static_cast<uint32_t>(picture.height);

    std::vector<uint8_t> dib;
    PutU32(dib, kInfoHeaderSize);
    PutU32(dib, static_cast<uint32_t>(picture.width));
    PutU32(dib, static_cast<uint32_t>(picture.height));  // positive: rows run bottom-up
    PutU16(dib, 1);                                      // planes
    PutU16(dib, static_cast<uint32_t>(bits));
    PutU32(dib, 0);  // BI_RGB: uncompressed; for 16 bits that means 5-5-5
    PutU32(dib, imageSize);
    PutU32(dib, kPixelsPerMetre);
    PutU32(dib, kPixelsPerMetre);
    PutU32(dib, colours);  // palette entries actually stored
    PutU32(dib, 0);        // all colours important
    dib.insert(dib.end(), pixels.begin(), pixels.end());
    return dib;
}

std::vector<uint8_t> BmpFileFromDib(const std::vector<uint8_t>& dib) {
    if (dib.size() < kInfoHeaderSize) throw std::invalid_argument("DIB shorter than its header");
    const uint32_t colours = dib[32] | (dib[33] << 8) | (dib[34] << 16) | (uint32_t{dib[35]} << 24);
    std::vector<uint8_t> file;
    file.push_back('B');
    file.push_back('M');
    PutU32(file, static_cast<uint32_t>(kFileHeaderSize + dib.size()));
    PutU32(file, 0);  // reserved
    PutU32(file, kFileHeaderSize + kInfoHeaderSize + colours * 4);  // where the pixel rows start
    file.insert(file.end(), dib.begin(), dib.end());
    return file;
}
