// The renderer: decoding DIBs (and refusing malformed ones), and what the
// host makes of positions, offsets, angles, drawing order and image flags,
// on a small gauge built here.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>

#include "dib_builder.h"
#include "render.h"

#include <cairo.h>

namespace {

// ---- DecodeDib --------------------------------------------------------------

// A valid 2 x 2 8-bit image: top row red, green; bottom row blue, white.
std::vector<uint8_t> TwoByTwo() {
    return MakePaletteImage({0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}, {{0, 1}, {2, 3}});
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct MalformedCase {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> spoil;
};

const MalformedCase kMalformed[] = {
    {"ShorterThanHeader", [](auto& b) { b.resize(39); }},
    {"HeaderSizeTooSmall", [](auto& b) { Put32(b, 0, 12); }},
    {"HeaderSizePastEnd", [](auto& b) { Put32(b, 0, 100000); }},
    {"ZeroWidth", [](auto& b) { Put32(b, 4, 0); }},
    {"NegativeWidth", [](auto& b) { Put32(b, 4, static_cast<uint32_t>(-2)); }},
    {"ZeroHeight", [](auto& b) { Put32(b, 8, 0); }},
    {"MostNegativeHeight", [](auto& b) { Put32(b, 8, static_cast<uint32_t>(INT_MIN)); }},
    {"HugeWidth", [](auto& b) { Put32(b, 4, 0x40000000); }},
    {"Compressed", [](auto& b) { Put32(b, 16, 1); }},
    {"FourBitsPerPixel", [](auto& b) { b[14] = 4; }},
    {"PaletteOver256", [](auto& b) { Put32(b, 32, 257); }},
    {"PaletteRunsIntoRows", [](auto& b) { Put32(b, 32, 200); }},
    {"LastRowCutShort", [](auto& b) { b.pop_back(); }},
    {"WidthGrownPastRows", [](auto& b) { Put32(b, 4, 5); }},
};

class DecodeDibRejects : public testing::TestWithParam<MalformedCase> {};

TEST_P(DecodeDibRejects, MalformedBitmapWithAReason) {
    std::vector<uint8_t> dib = TwoByTwo();
    ASSERT_TRUE(DecodeDib(dib));
    GetParam().spoil(dib);
    std::string why;
    EXPECT_FALSE(DecodeDib(dib, &why));
    EXPECT_FALSE(why.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, DecodeDibRejects, testing::ValuesIn(kMalformed),
                         [](const auto& info) { return std::string(info.param.name); });

uint32_t Rgb(const DecodedBitmap& b, int x, int y) {
    const uint8_t* p = &b.rgba[(static_cast<size_t>(y) * b.width + x) * 4];
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

TEST(DecodeDib, RowsBottomUpAndTopDownComeOutTopDown) {
    const std::optional<DecodedBitmap> up = DecodeDib(TwoByTwo());
    ASSERT_TRUE(up);
    EXPECT_EQ(Rgb(*up, 0, 0), 0xFF0000u);
    EXPECT_EQ(Rgb(*up, 1, 0), 0x00FF00u);
    EXPECT_EQ(Rgb(*up, 0, 1), 0x0000FFu);
    EXPECT_EQ(Rgb(*up, 1, 1), 0xFFFFFFu);

    // the same rows stored top-down, with a negative height
    DibSpec s;
    s.width = 2, s.height = -2, s.coloursUsed = 4;
    const std::optional<DecodedBitmap> down =
        DecodeDib(MakeDib(s, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}, {{0, 1, 0, 0}, {2, 3, 0, 0}}));
    ASSERT_TRUE(down);
    EXPECT_EQ(down->rgba, up->rgba);
}

TEST(DecodeDib, PixelFormats) {
    // 16 bits 5-5-5: full channels read as 255, bit 15 ignored
    DibSpec s16;
    s16.width = 3, s16.bitCount = 16;
    const auto d16 = DecodeDib(MakeDib(s16, {}, {{0xFF, 0xFF, 0x00, 0x7C, 0x1F, 0x00, 0, 0}}));
    ASSERT_TRUE(d16);
    EXPECT_EQ(Rgb(*d16, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(Rgb(*d16, 1, 0), 0xFF0000u);
    EXPECT_EQ(Rgb(*d16, 2, 0), 0x0000FFu);
    EXPECT_EQ(d16->rgba[3], 255) << "no alpha in 16-bit images";

    // 32 bits: B G R A kept straight
    const auto d32 = DecodeDib(MakeArgbImage({{0x80112233}}));
    ASSERT_TRUE(d32);
    EXPECT_EQ(Rgb(*d32, 0, 0), 0x112233u);
    EXPECT_EQ(d32->rgba[3], 0x80);

    // 8 bits: an index past a short palette reads as black, not past the buffer
    DibSpec s8;
    s8.width = 2, s8.coloursUsed = 1;
    const auto d8 = DecodeDib(MakeDib(s8, {0xFFFFFF}, {{0, 9, 0, 0}}));
    ASSERT_TRUE(d8);
    EXPECT_EQ(Rgb(*d8, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(Rgb(*d8, 1, 0), 0u);
}

// ---- RenderGauge on a small gauge ---------------------------------------------

// A 16 x 16 grey face, then a needle turning about (8, 8), then an overlay:
// each test fills in the bitmaps and flags it needs.
struct SmallGauge {
    GaugeHeader header{};
    ElementHeader* root = nullptr;
    StaticImageElement face{};
    NeedleElement needle{};
    StaticImageElement overlay{};
    ElementList afterFace{}, afterNeedle{};
    std::map<uint32_t, std::vector<uint8_t>> bitmaps;
    std::optional<double> angle;

    static constexpr uint32_t kGrey = 0x404040;

    SmallGauge() {
        header.defaultSize = 16;
        header.rootPointer = &root;
        root = &face.head;
        face.head = {kStaticImage, 1, 0, 0, {}, 0, 0, &header, nullptr, &afterFace, nullptr, 0x1, 0, 0};
        needle.head = {kNeedle, 2, 8, 8, {}, 1, 1, &header, nullptr, &afterNeedle, nullptr, 0x3, 0, 0};
        overlay.head = {kStaticImage, 3, 0, 0, {}, 0, 0, &header, nullptr, nullptr, nullptr, 0x1, 0, 0};
        afterFace.elements[0] = &needle.head;
        afterNeedle.elements[0] = &overlay.head;
        bitmaps[1] = MakePaletteImage({kGrey}, std::vector<std::vector<uint8_t>>(16, std::vector<uint8_t>(16, 0)));
        // a needle 6 wide, 3 high: a white middle row, black above and below
        bitmaps[2] = MakePaletteImage({0x000000, 0xFFFFFF}, {{0, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 1, 1}, {0, 0, 0, 0, 0, 0}});
        bitmaps[3] = MakePaletteImage({0x000000}, {{0}});  // a black dot at (0, 0)
    }

    RenderedGauge Draw(double scale = 1.0) {
        return RenderGauge(
            header,
            [this](uint32_t id) -> std::span<const uint8_t> {
                const auto found = bitmaps.find(id);
                if (found == bitmaps.end()) return {};
                return found->second;
            },
            [this](const ElementHeader*) { return angle; }, scale);
    }
};

uint32_t Rgb(const RenderedGauge& g, int x, int y) {
    const uint8_t* p = g.At(x, y);
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

struct TurnCase {
    double angle;
    int whiteX, whiteY;  // a pixel the needle's white row covers
    int clearX, clearY;  // a pixel it would cover at angle 0 but not now
};

// The needle's white row lies just below its turning point (bitmap rows 1..2
// with the point at y = 1): at 0 degrees it covers gauge pixels (8..12, 8).
const TurnCase kTurns[] = {
    {0, 11, 8, 8, 10},
    {90, 7, 11, 11, 8},
    {180, 5, 7, 11, 8},
    {-90, 8, 5, 11, 8},
};

class NeedleTurn : public testing::TestWithParam<TurnCase> {};

TEST_P(NeedleTurn, TurnsAboutItsOffsetOnItsPosition) {
    SmallGauge g;
    g.angle = GetParam().angle;
    const RenderedGauge image = g.Draw();
    EXPECT_EQ(Rgb(image, GetParam().whiteX, GetParam().whiteY), 0xFFFFFFu);
    EXPECT_EQ(Rgb(image, GetParam().clearX, GetParam().clearY), SmallGauge::kGrey);
}

INSTANTIATE_TEST_SUITE_P(Angles, NeedleTurn, testing::ValuesIn(kTurns));

TEST(RenderGauge, NeedleWithoutAnAngleIsNotDrawn) {
    SmallGauge g;
    const RenderedGauge image = g.Draw();
    for (int x = 1; x < 16; ++x) EXPECT_EQ(Rgb(image, x, 8), SmallGauge::kGrey) << x;
}

struct FlagCase {
    const char* name;
    uint32_t needleFlags;
    uint32_t expectedAboveRow;  // pixel (10, 7): a black pixel of the needle bitmap
};

// The needle bitmap's black rows: opaque without the black-transparent bit,
// the face shows through with it; blended, black adds no light.
const FlagCase kFlags[] = {
    {"Opaque", 0x1, 0x000000},
    {"BlackTransparent", 0x3, SmallGauge::kGrey},
    {"NeedleFlags", 0x83, SmallGauge::kGrey},
    {"OverlayAddsLight", 0x2003, SmallGauge::kGrey},
};

class ImageFlags : public testing::TestWithParam<FlagCase> {};

TEST_P(ImageFlags, DecideWhatBlackPixelsDo) {
    SmallGauge g;
    g.angle = 0;
    g.needle.head.imageFlags = GetParam().needleFlags;
    const RenderedGauge image = g.Draw();
    EXPECT_EQ(Rgb(image, 10, 7), GetParam().expectedAboveRow);
    EXPECT_EQ(Rgb(image, 10, 8), 0xFFFFFFu) << "white stays white";
}

INSTANTIATE_TEST_SUITE_P(Table, ImageFlags, testing::ValuesIn(kFlags),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RenderGauge, OverlayWithoutAlphaAddsItsLight) {
    SmallGauge g;
    g.overlay.head.imageFlags = 0x2003;
    g.bitmaps[3] = MakePaletteImage({0x000000, 0x102030}, {{1, 0}});
    const RenderedGauge image = g.Draw();
    EXPECT_EQ(Rgb(image, 0, 0), 0x506070u) << "grey face plus the overlay's light";
    EXPECT_EQ(Rgb(image, 1, 0), SmallGauge::kGrey) << "black adds nothing";
}

TEST(RenderGauge, ThirtyTwoBitOverlayUsesItsAlphaOnlyWhenBlended) {
    SmallGauge g;
    g.bitmaps[3] = MakeArgbImage({{0x80FFFFFF, 0x00FF0000}});
    g.overlay.head.imageFlags = 0x2003;
    RenderedGauge image = g.Draw();
    EXPECT_NEAR(image.At(0, 0)[0], (0x40 + 0xFF) / 2.0, 2) << "half-transparent white over grey";
    EXPECT_EQ(Rgb(image, 1, 0), SmallGauge::kGrey) << "fully transparent";

    g.overlay.head.imageFlags = 0x1;
    image = g.Draw();
    EXPECT_EQ(Rgb(image, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(Rgb(image, 1, 0), 0xFF0000u) << "alpha ignored: opaque";
}

TEST(RenderGauge, LaterElementsOfTheChainDrawOnTop) {
    SmallGauge g;
    g.angle = 0;
    g.overlay.head.positionX = 10;
    g.overlay.head.positionY = 8;
    g.bitmaps[3] = MakePaletteImage({0xFF0000}, {{0}});
    const RenderedGauge image = g.Draw();
    EXPECT_EQ(Rgb(image, 10, 8), 0xFF0000u) << "overlay over needle";
    EXPECT_EQ(Rgb(image, 11, 8), 0xFFFFFFu);
}

TEST(RenderGauge, MissingOrMalformedBitmapIsListedAndTheRestDrawn) {
    SmallGauge g;
    g.angle = 0;
    g.bitmaps.erase(3);
    g.bitmaps[2].resize(20);  // cut inside its header
    const RenderedGauge image = g.Draw();
    ASSERT_EQ(image.problems.size(), 2u);
    EXPECT_NE(image.problems[0].find("bitmap 2"), std::string::npos);
    EXPECT_NE(image.problems[1].find("bitmap 3"), std::string::npos);
    EXPECT_EQ(Rgb(image, 11, 8), SmallGauge::kGrey) << "face drawn, needle left out";
}

TEST(RenderGauge, SizeComesFromTheBackgroundOrTheDefaultSize) {
    SmallGauge g;
    g.bitmaps[1] = MakePaletteImage({SmallGauge::kGrey}, std::vector<std::vector<uint8_t>>(10, std::vector<uint8_t>(20, 0)));
    RenderedGauge image = g.Draw(3.0);
    EXPECT_EQ(image.width, 60);
    EXPECT_EQ(image.height, 30);

    g.bitmaps.erase(1);
    image = g.Draw();
    EXPECT_EQ(image.width, 16) << "default size, square";
    EXPECT_EQ(image.height, 16);

    SmallGauge whole;
    for (double bad : {0.0, -1.0, std::nan(""), 1000.0}) {
        image = whole.Draw(bad);
        EXPECT_EQ(image.width, 16) << bad;
        ASSERT_EQ(image.problems.size(), 1u) << bad;
        EXPECT_NE(image.problems[0].find("scale"), std::string::npos);
    }
}

TEST(RenderGauge, ImageTooLargeToMakeIsReportedNotDrawn) {
    SmallGauge g;
    g.bitmaps[1] = MakePaletteImage({SmallGauge::kGrey}, {std::vector<uint8_t>(16000, 0)});
    const RenderedGauge image = g.Draw(32.0);  // 512000 pixels wide
    EXPECT_EQ(image.width, 0);
    ASSERT_FALSE(image.problems.empty());
    EXPECT_NE(image.problems.back().find("cannot make"), std::string::npos);
    EXPECT_FALSE(WritePng(image, testing::TempDir() + "tw_render_none.png"));
}

TEST(RenderGauge, EmptyChainGivesAnEmptyImageOfTheDefaultSize) {
    SmallGauge g;
    g.root = nullptr;
    const RenderedGauge image = g.Draw();
    EXPECT_EQ(image.width, 16);
    EXPECT_TRUE(image.problems.empty());
    EXPECT_EQ(image.At(5, 5)[3], 0);
}

TEST(WritePng, WritesAReadablePngAndReportsAnUnwritablePath) {
    SmallGauge g;
    const RenderedGauge image = g.Draw();
    const std::string path = testing::TempDir() + "tw_render_small.png";
    std::string error;
    ASSERT_TRUE(WritePng(image, path, &error)) << error;
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    unsigned char magic[8] = {};
    EXPECT_EQ(std::fread(magic, 1, 8, f), 8u);
    std::fclose(f);
    EXPECT_EQ(std::memcmp(magic, "\x89PNG\r\n\x1a\n", 8), 0);
    std::remove(path.c_str());

    EXPECT_FALSE(WritePng(image, "/nonexistent-folder/x.png", &error));
    EXPECT_FALSE(error.empty());
}

// The PNG a live page gets is read back by another PNG reader (libpng,
// through cairo) as the same picture, alpha included.
TEST(EncodePng, AnotherReaderGetsTheSamePixels) {
    RenderedGauge image;
    image.width = 37;  // rows of an odd length, and rows that differ from the one above
    image.height = 6;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const uint8_t alpha = (x + y) % 3 == 0 ? 0 : (x + y) % 3 == 1 ? 128 : 255;
            for (const uint8_t v : {static_cast<uint8_t>(7 * x + 40 * y), static_cast<uint8_t>(255 - 5 * x), static_cast<uint8_t>(x * y), alpha}) {
                image.rgba.push_back(v);
            }
        }
    }
    std::string png, error;
    ASSERT_TRUE(EncodePng(image, &png, &error)) << error;
    struct Reader {
        const std::string* png;
        size_t at = 0;
    } reader{&png};
    cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(
        [](void* closure, unsigned char* data, unsigned int length) {
            auto* r = static_cast<Reader*>(closure);
            if (r->at + length > r->png->size()) return CAIRO_STATUS_READ_ERROR;
            std::memcpy(data, r->png->data() + r->at, length);
            r->at += length;
            return CAIRO_STATUS_SUCCESS;
        },
        &reader);
    ASSERT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_image_surface_get_width(surface), image.width);
    ASSERT_EQ(cairo_image_surface_get_height(surface), image.height);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            uint32_t v;
            std::memcpy(&v, data + y * stride + x * 4, 4);
            const uint8_t* px = image.At(x, y);
            const unsigned a = px[3];
            ASSERT_EQ(v >> 24, a) << x << "," << y;
            for (int c = 0; c < 3; ++c) {
                const int premultiplied = (px[c] * a + 127) / 255;
                EXPECT_NEAR(static_cast<int>((v >> (16 - 8 * c)) & 0xFF), premultiplied, 1) << x << "," << y << " channel " << c;
            }
        }
    }
    cairo_surface_destroy(surface);

    EXPECT_FALSE(EncodePng(RenderedGauge{}, &png, &error));
    EXPECT_EQ(error, "no image to write");
}

}  // namespace
