// The gauges' bitmaps as the simulator loads them: numbered BITMAP resources
// of the module, each of its size and pixel format, bottom-up rows; and every
// bitmap an element names is there.
#include "hx8_module.h"

namespace hx8 {
namespace {

struct BitmapSpec {
    uint32_t id;
    int32_t width, height;
    uint16_t bitsPerPixel;
};

constexpr BitmapSpec kBitmaps[] = {
    // Dial faces: 16 bits, 5-5-5.
    {256, 104, 104, 16}, {512, 104, 104, 16}, {1280, 104, 104, 16}, {1536, 104, 104, 16},
    // Needle shadow and needle: 8 bits with a palette.
    {260, 46, 11, 8}, {516, 46, 11, 8}, {1540, 46, 11, 8},
    {264, 43, 7, 8}, {520, 43, 7, 8}, {1544, 43, 7, 8},
    // Hub cap: 32 bits with alpha.
    {268, 34, 33, 32}, {524, 34, 33, 32}, {1548, 34, 33, 32},
    // Glass: 8 bits with a palette.
    {272, 104, 104, 8}, {528, 104, 104, 8}, {1288, 104, 104, 8}, {1552, 104, 104, 8},
    // Oil quantity needle with its hub: 16 bits.
    {1284, 61, 13, 16},
};

using Bitmaps = Hx8Test;

const BITMAPINFOHEADER* BitmapResource(HMODULE module, uint32_t id) {
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
    if (resource == nullptr) return nullptr;
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr || SizeofResource(module, resource) < sizeof(BITMAPINFOHEADER)) return nullptr;
    return static_cast<const BITMAPINFOHEADER*>(LockResource(loaded));
}

TEST_F(Bitmaps, EachResourceHasItsSizeAndPixelFormat) {
    for (const BitmapSpec& spec : kBitmaps) {
        SCOPED_TRACE("bitmap " + std::to_string(spec.id));
        const BITMAPINFOHEADER* info = BitmapResource(module.handle, spec.id);
        ASSERT_NE(info, nullptr);
        EXPECT_GE(info->biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(info->biWidth, spec.width);
        EXPECT_EQ(info->biHeight, spec.height) << "positive: bottom-up rows";
        EXPECT_EQ(info->biPlanes, 1);
        EXPECT_EQ(info->biBitCount, spec.bitsPerPixel);
        if (spec.bitsPerPixel == 16) {
            // 5-5-5: plain 16-bit RGB, or bit fields that say so.
            if (info->biCompression == BI_BITFIELDS) {
                auto* masks = reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(info) + info->biSize);
                EXPECT_EQ(masks[0], 0x7C00u);
                EXPECT_EQ(masks[1], 0x03E0u);
                EXPECT_EQ(masks[2], 0x001Fu);
            } else {
                EXPECT_EQ(info->biCompression, static_cast<DWORD>(BI_RGB));
            }
        }

        // Windows itself turns the resource into a bitmap of that size.
        HBITMAP bitmap = static_cast<HBITMAP>(
            LoadImageA(module.handle, MAKEINTRESOURCEA(spec.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ASSERT_NE(bitmap, nullptr);
        BITMAP object{};
        ASSERT_NE(GetObjectA(bitmap, sizeof object, &object), 0);
        EXPECT_EQ(object.bmWidth, spec.width);
        EXPECT_EQ(object.bmHeight, spec.height);
        EXPECT_EQ(object.bmBitsPixel, spec.bitsPerPixel);
        DeleteObject(bitmap);
    }
}

TEST_F(Bitmaps, EveryElementNamesABitmapOfTheModule) {
    for (int g = 0; g < kGauges; ++g) {
        const uint32_t header = GaugeHeaderAt(module, g);
        for (uint32_t element : ElementChain(header)) {
            const uint32_t id = U32(element, 4);
            EXPECT_NE(BitmapResource(module.handle, id), nullptr) << GaugeName(header) << " names bitmap " << id;
        }
    }
}

}  // namespace
}  // namespace hx8
