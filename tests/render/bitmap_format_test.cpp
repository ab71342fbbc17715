// The generated bitmaps: exact sizes and pixel formats for the element
// records, well-formed files, the same bytes in the module's resource table,
// and the same output for the same input.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include "bitmap_table.h"
#include "needle_geometry.h"
#include "records.h"
#include "render.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

struct ExpectedBitmap {
    uint32_t id;
    int32_t width, height;
    uint16_t bits;
};

// Every bitmap the element records of tw_hx8 name.
const ExpectedBitmap kHx8Bitmaps[] = {
    {256, 104, 104, 16}, {260, 46, 11, 8}, {264, 43, 7, 8},  {268, 34, 33, 32}, {272, 104, 104, 8},
    {512, 104, 104, 16}, {516, 46, 11, 8}, {520, 43, 7, 8},  {524, 34, 33, 32}, {528, 104, 104, 8},
    {1280, 104, 104, 16}, {1284, 61, 13, 16}, {1288, 104, 104, 8},
    {1536, 104, 104, 16}, {1540, 46, 11, 8}, {1544, 43, 7, 8}, {1548, 34, 33, 32}, {1552, 104, 104, 8},
};

class GeneratedBitmap : public testing::TestWithParam<ExpectedBitmap> {};

TEST_P(GeneratedBitmap, FileHasTheExactSizeFormatAndLayout) {
    const ExpectedBitmap e = GetParam();
    const std::vector<uint8_t> file = ReadBytes(fs::path(TW_HX8_BITMAP_DIR) / (std::to_string(e.id) + ".bmp"));
    ASSERT_GE(file.size(), 54u);

    // File header.
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Le32(file, 2), file.size());
    EXPECT_EQ(Le32(file, 6), 0u);

    // Info header: uncompressed, positive height (rows bottom-up).
    EXPECT_EQ(Le32(file, 14), 40u);
    EXPECT_EQ(static_cast<int32_t>(Le32(file, 18)), e.width);
    EXPECT_EQ(static_cast<int32_t>(Le32(file, 22)), e.height);
    EXPECT_EQ(Le16(file, 26), 1);
    EXPECT_EQ(Le16(file, 28), e.bits);
    EXPECT_EQ(Le32(file, 30), 0u) << "BI_RGB";
    const uint32_t rowBytes = (static_cast<uint32_t>(e.width) * e.bits + 31) / 32 * 4;
    EXPECT_EQ(Le32(file, 34), rowBytes * e.height);

    const uint32_t colours = Le32(file, 46);
    if (e.bits == 8) {
        EXPECT_GE(colours, 1u);
        EXPECT_LE(colours, 256u);
        EXPECT_EQ(Le32(file, 54) & 0xFFFFFF, 0u) << "palette entry 0 is the transparent black";
    } else {
        EXPECT_EQ(colours, 0u) << "no palette for " << e.bits << "-bit images";
    }
    EXPECT_EQ(Le32(file, 10), 14 + 40 + colours * 4) << "pixel rows follow header and palette";
    EXPECT_EQ(file.size(), 14 + 40 + colours * 4 + rowBytes * e.height) << "nothing missing, nothing extra";
    if (e.bits == 8) {
        for (size_t i = Le32(file, 10); i < file.size(); ++i) ASSERT_LT(file[i], colours) << "index past the palette";
    }
}

TEST_P(GeneratedBitmap, ModuleTableHoldsTheFileWithoutItsFileHeader) {
    const ExpectedBitmap e = GetParam();
    const std::vector<uint8_t> file = ReadBytes(fs::path(TW_HX8_BITMAP_DIR) / (std::to_string(e.id) + ".bmp"));
    const std::span<const uint8_t> dib = Hx8().Bitmap(e.id);
    ASSERT_FALSE(dib.empty());
    ASSERT_EQ(dib.size() + 14, file.size());
    EXPECT_TRUE(std::equal(dib.begin(), dib.end(), file.begin() + 14));
}

INSTANTIATE_TEST_SUITE_P(Hx8, GeneratedBitmap, testing::ValuesIn(kHx8Bitmaps),
                         [](const auto& info) { return "Bitmap" + std::to_string(info.param.id); });

TEST(Hx8BitmapTable, ListsExactlyTheBitmapsTheRecordsNameAndEndsWithZero) {
    void* handle = dlopen(TW_HX8_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    const auto* table = static_cast<const TwBitmapResource*>(dlsym(handle, TW_BITMAP_RESOURCES_SYMBOL));
    ASSERT_NE(table, nullptr);
    std::set<uint32_t> listed;
    size_t i = 0;
    for (; i < 64 && table[i].id != 0; ++i) {
        EXPECT_TRUE(listed.insert(table[i].id).second) << "bitmap " << table[i].id << " listed twice";
        EXPECT_NE(table[i].dib, nullptr);
    }
    EXPECT_EQ(table[i].id, 0u) << "the table ends with id 0";

    std::set<uint32_t> named;  // what the gauges' element records ask for
    for (GaugeHeader* gauge : Hx8().Gauges()) {
        for (ElementHeader* element : ElementChain(*gauge)) named.insert(element->bitmapId);
    }
    std::set<uint32_t> expected;
    for (const ExpectedBitmap& e : kHx8Bitmaps) expected.insert(e.id);
    EXPECT_EQ(named, expected);
    EXPECT_EQ(listed, expected);
    dlclose(handle);
}

TEST(Hx8BitmapTable, SharedArtIsOneImageUnderEachNumber) {
    const std::vector<std::vector<uint32_t>> groups = {
        {260, 516, 1540}, {264, 520, 1544}, {268, 524, 1548}, {272, 528, 1288, 1552}};
    for (const auto& group : groups) {
        const std::span<const uint8_t> first = Hx8().Bitmap(group[0]);
        for (uint32_t id : group) {
            const std::span<const uint8_t> other = Hx8().Bitmap(id);
            EXPECT_TRUE(std::equal(first.begin(), first.end(), other.begin(), other.end()))
                << id << " differs from " << group[0];
        }
    }
}

// A face is drawn opaque; a pure black pixel in it would be a hole wherever
// black is taken as transparent.
TEST(Hx8BitmapArt, FacesHaveNoPureBlackPixel) {
    for (uint32_t id : {256u, 512u, 1280u, 1536u}) {
        const std::optional<DecodedBitmap> face = DecodeDib(Hx8().Bitmap(id));
        ASSERT_TRUE(face) << id;
        int black = 0;
        for (size_t i = 0; i < face->rgba.size(); i += 4) {
            black += face->rgba[i] == 0 && face->rgba[i + 1] == 0 && face->rgba[i + 2] == 0;
        }
        EXPECT_EQ(black, 0) << "face " << id;
    }
}

// Each needle bitmap turns about the element's offset: the pixels around that
// point are part of the needle, and the needle reaches out along +x from it.
TEST(Hx8BitmapArt, NeedlesPointAlongXFromTheirTurningPoint) {
    std::map<uint32_t, std::pair<int, int>> offsets;  // bitmap -> offset in the records
    for (GaugeHeader* gauge : Hx8().Gauges()) {
        for (NeedleElement* needle : NeedleElements(*gauge)) {
            offsets[needle->head.bitmapId] = {needle->head.offsetX, needle->head.offsetY};
        }
    }
    ASSERT_EQ(offsets.size(), 7u);
    for (const auto& [id, offset] : offsets) {
        SCOPED_TRACE("bitmap " + std::to_string(id));
        const std::optional<DecodedBitmap> b = DecodeDib(Hx8().Bitmap(id));
        ASSERT_TRUE(b);
        auto visible = [&](int x, int y) {
            const uint8_t* p = &b->rgba[(static_cast<size_t>(y) * b->width + x) * 4];
            return p[0] != 0 || p[1] != 0 || p[2] != 0;
        };
        const auto [ox, oy] = offset;
        // the turning point is a pixel corner: the four pixels meeting there
        for (int y = oy - 1; y <= oy; ++y)
            for (int x = ox - 1; x <= ox; ++x) EXPECT_TRUE(visible(x, y)) << "pixel " << x << "," << y;

        double farthest = 0, farthestDirection = 0;
        for (int y = 0; y < b->height; ++y) {
            for (int x = 0; x < b->width; ++x) {
                if (!visible(x, y)) continue;
                const double d = std::hypot(x + 0.5 - ox, y + 0.5 - oy);
                if (d > farthest) farthest = d, farthestDirection = DirectionDegrees(ox, oy, x + 0.5, y + 0.5);
            }
        }
        EXPECT_GE(farthest, 0.85 * (b->width - ox)) << "the needle runs the length of its bitmap";
        EXPECT_LT(std::fabs(farthestDirection), 3.0) << "the tip lies on the +x axis";
    }
}

int RunGenerator(const std::string& args) {
    const std::string command = std::string("\"") + TW_BITMAPS_EXE + "\" " + args + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, std::vector<uint8_t>> FolderContents(const fs::path& dir) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::directory_iterator(dir)) files[entry.path().filename()] = ReadBytes(entry.path());
    return files;
}

TEST(BitmapGenerator, SameInputGivesSameBytes) {
    const fs::path first = FreshFolder("gen1"), second = FreshFolder("gen2");
    ASSERT_EQ(RunGenerator("hx8 " + first.string()), 0);
    ASSERT_EQ(RunGenerator("hx8 " + second.string()), 0);
    const auto a = FolderContents(first), b = FolderContents(second);
    EXPECT_EQ(a.size(), std::size(kHx8Bitmaps) + 2) << "the .bmp files, bitmaps.rc and bitmap_table.cpp";
    EXPECT_TRUE(a == b);
    // ... and the same as what the build compiled into the module
    EXPECT_TRUE(a == FolderContents(TW_HX8_BITMAP_DIR));
    fs::remove_all(first);
    fs::remove_all(second);
}

TEST(BitmapGenerator, ResourceScriptNamesEveryBitmapFile) {
    const std::vector<uint8_t> rc = ReadBytes(fs::path(TW_HX8_BITMAP_DIR) / "bitmaps.rc");
    const std::string text(rc.begin(), rc.end());
    for (const ExpectedBitmap& e : kHx8Bitmaps) {
        const std::string id = std::to_string(e.id);
        EXPECT_NE(text.find("\n" + id + " BITMAP \"" + id + ".bmp\"\n"), std::string::npos) << id;
    }
}

TEST(BitmapGenerator, SoundModuleGetsOneBlackPixel) {
    const fs::path dir = FreshFolder("sound");
    ASSERT_EQ(RunGenerator("sound " + dir.string()), 0);
    const std::vector<uint8_t> file = ReadBytes(dir / "1280.bmp");
    ASSERT_EQ(file.size(), 14u + 40 + 4 + 4);
    EXPECT_EQ(Le32(file, 18), 1u);
    EXPECT_EQ(Le32(file, 22), 1u);
    EXPECT_EQ(Le16(file, 28), 8);
    EXPECT_EQ(Le32(file, 46), 1u) << "one palette entry";
    EXPECT_EQ(Le32(file, 54), 0u) << "black";
    EXPECT_EQ(file[58], 0) << "the pixel uses it";
    fs::remove_all(dir);
}

TEST(BitmapGenerator, UnknownModuleOrBadArgumentsFailWithoutOutput) {
    const fs::path dir = FreshFolder("bad");
    EXPECT_EQ(RunGenerator("nosuch " + dir.string()), 2);
    EXPECT_EQ(RunGenerator("hx8"), 2);
    EXPECT_EQ(RunGenerator("hx8 " + dir.string() + " --bogus"), 2);
    EXPECT_NE(RunGenerator("hx8 " + dir.string() + " --fonts " + (dir / "none").string()), 0);
    EXPECT_TRUE(fs::is_empty(dir));
    fs::remove_all(dir);
}

}  // namespace
