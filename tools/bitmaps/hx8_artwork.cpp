// Artwork of the engine instruments: four dial faces, the needle with its
// shadow, the hub cap and the glass, and the oil quantity needle.
//
// Everything is placed from the scale tables of the needle records: a tick
// at every scale point, numerals on the radial line of their scale points,
// minor ticks and limit bands where the needle stands for those values. The
// tables below are the module's own; the rendering check in tests/render
// compares the faces against the records the module really carries.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "artwork.h"
#include "dib.h"
#include "draw.h"
#include "needle_geometry.h"

namespace {

constexpr int kDialSize = 104;
constexpr double kCentreX = 52, kCentreY = 52;  // the needles' turning point on the gauge

struct Rgb {
    double r, g, b;  // 0..255
};

void SetColour(cairo_t* cr, Rgb c, double alpha = 1.0) {
    cairo_set_source_rgba(cr, c.r / 255, c.g / 255, c.b / 255, alpha);
}

// Colours. Nothing visible is pure black: black is the transparent colour of
// the needle, shadow and glass bitmaps.
constexpr Rgb kPanel{46, 48, 52};
constexpr Rgb kFaceCentre{36, 37, 40};
constexpr Rgb kFaceEdge{24, 25, 27};
constexpr Rgb kFaceMatte{30, 31, 34};  // what needle edges are blended over
constexpr Rgb kMarking{240, 240, 236};
constexpr Rgb kLabel{205, 207, 210};
constexpr Rgb kRed{222, 38, 34};
constexpr Rgb kAmber{244, 170, 24};
constexpr Rgb kGreen{34, 190, 72};

// Radii of the scale, in gauge pixels from the turning point.
constexpr double kFaceRadius = 47.5;
constexpr double kTickOuter = 45.5;
constexpr double kMajorTickInner = 37.5;  // numbered scale points
constexpr double kPointTickInner = 39.5;  // other scale points
constexpr double kMinorTickInner = 41.5;
constexpr double kBandInner = 42.0, kBandOuter = 45.5;
constexpr double kNumeralGap = 2.0;  // between the numerals' ink and the major ticks

struct ScalePoint {
    double value;
    int x, y;
};

const std::vector<ScalePoint> kOilPressScale = {{0, 90, 80},  {10, 70, 97}, {20, 43, 100}, {40, 4, 65},
                                                {60, 19, 17}, {80, 67, 8},  {90, 88, 23},  {100, 98, 48}};
const std::vector<ScalePoint> kOilTempScale = {{-50, 94, 72}, {-40, 89, 81}, {0, 58, 100}, {40, 22, 91},
                                               {80, 3, 54},   {120, 19, 15}, {160, 54, 2}, {180, 75, 8}};
const std::vector<ScalePoint> kOilQtyScale = {{0, 24, 89}, {1, 6, 46}, {2, 34, 9}, {3, 79, 16}, {4, 97, 59}, {5, 69, 94}};
const std::vector<ScalePoint> kVibScale = {{0, 8, 76}, {1, 4, 35}, {2, 32, 5}, {3, 74, 6}, {4, 100, 39}, {5, 93, 81}};

// Where the needle points for a value, by the same rule the simulator uses
// to turn it (interpolated between scale points along the shorter arc).
class ScaleGeometry {
public:
    explicit ScaleGeometry(const std::vector<ScalePoint>& scale) : points_(scale.size()) {
        for (size_t i = 0; i < scale.size(); ++i) points_[i] = {scale[i].x, scale[i].y, scale[i].value, 0, 0};
        needle_.head.kind = kNeedle;
        needle_.head.positionX = static_cast<int32_t>(kCentreX);
        needle_.head.positionY = static_cast<int32_t>(kCentreY);
        needle_.scale = points_.data();
        needle_.scaleCount = static_cast<uint32_t>(points_.size());
    }
    double Radians(double value) const { return NeedleAngleForValue(needle_, value) * M_PI / 180.0; }
    double first() const { return points_.front().value; }
    double last() const { return points_.back().value; }
    bool IsScalePoint(double value) const {
        for (const NeedleScalePoint& p : points_)
            if (std::fabs(p.value - value) < 1e-9) return true;
        return false;
    }

    // Clockwise sweep (radians, y down) from `from` to `to`: the sum of the
    // short turns between neighbouring values, so arcs follow the needle.
    double Sweep(double from, double to) const {
        double sweep = 0, previous = Radians(from);
        constexpr int kSteps = 240;
        for (int i = 1; i <= kSteps; ++i) {
            const double a = Radians(from + (to - from) * i / kSteps);
            sweep += std::remainder(a - previous, 2 * M_PI);
            previous = a;
        }
        return sweep;
    }

private:
    std::vector<NeedleScalePoint> points_;
    NeedleElement needle_{};
};

struct Band {
    double from, to;
    Rgb colour;
};

struct Label {
    const char* text;  // UTF-8
    double x, y;       // centre of its ink
    double size;       // pixels
};

struct DialArt {
    uint32_t faceId;
    const std::vector<ScalePoint>* scale;
    std::vector<double> numerals;
    double minorStep;
    std::vector<Band> bands;
    std::vector<Label> labels;
};

std::string Numeral(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

struct Fonts {
    FontFile numerals;
    FontFile labels;
};

void DrawBezelAndFace(cairo_t* cr) {
    SetColour(cr, kPanel);
    cairo_paint(cr);

    // Bezel: a dark metal ring, lit from the upper left.
    cairo_pattern_t* metal = cairo_pattern_create_linear(10, 8, 94, 98);
    cairo_pattern_add_color_stop_rgb(metal, 0.0, 118 / 255.0, 121 / 255.0, 126 / 255.0);
    cairo_pattern_add_color_stop_rgb(metal, 0.5, 66 / 255.0, 68 / 255.0, 72 / 255.0);
    cairo_pattern_add_color_stop_rgb(metal, 1.0, 28 / 255.0, 29 / 255.0, 32 / 255.0);
    cairo_arc(cr, kCentreX, kCentreY, 51.6, 0, 2 * M_PI);
    cairo_set_source(cr, metal);
    cairo_fill(cr);
    cairo_pattern_destroy(metal);

    SetColour(cr, {16, 17, 19});
    cairo_arc(cr, kCentreX, kCentreY, kFaceRadius + 1.2, 0, 2 * M_PI);
    cairo_fill(cr);

    cairo_pattern_t* face = cairo_pattern_create_radial(kCentreX - 6, kCentreY - 8, 4, kCentreX, kCentreY, kFaceRadius);
    cairo_pattern_add_color_stop_rgb(face, 0.0, kFaceCentre.r / 255, kFaceCentre.g / 255, kFaceCentre.b / 255);
    cairo_pattern_add_color_stop_rgb(face, 1.0, kFaceEdge.r / 255, kFaceEdge.g / 255, kFaceEdge.b / 255);
    cairo_arc(cr, kCentreX, kCentreY, kFaceRadius, 0, 2 * M_PI);
    cairo_set_source(cr, face);
    cairo_fill(cr);
    cairo_pattern_destroy(face);
}

void DrawBand(cairo_t* cr, const ScaleGeometry& g, const Band& band) {
    const double start = g.Radians(band.from);
    const double end = start + g.Sweep(band.from, band.to);
    cairo_new_path(cr);
    cairo_arc(cr, kCentreX, kCentreY, kBandOuter, std::min(start, end), std::max(start, end));
    cairo_arc_negative(cr, kCentreX, kCentreY, kBandInner, std::max(start, end), std::min(start, end));
    cairo_close_path(cr);
    SetColour(cr, band.colour);
    cairo_fill(cr);
}

void DrawTick(cairo_t* cr, double radians, double inner, double width) {
    const double c = std::cos(radians), s = std::sin(radians);
    cairo_move_to(cr, kCentreX + inner * c, kCentreY + inner * s);
    cairo_line_to(cr, kCentreX + kTickOuter * c, kCentreY + kTickOuter * s);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    SetColour(cr, kMarking);
    cairo_stroke(cr);
}

// The numeral sits on the radial line of its scale point, as close to the
// major tick as its ink box allows.
void DrawNumeral(cairo_t* cr, const Fonts& fonts, double radians, double value) {
    const std::string text = Numeral(value);
    UseFont(cr, fonts.numerals, 10.5);
    const InkSize ink = MeasureInk(cr, text.c_str());
    const double c = std::cos(radians), s = std::sin(radians);
    const double reach = std::fabs(c) * ink.width / 2 + std::fabs(s) * ink.height / 2;
    const double r = kMajorTickInner - kNumeralGap - reach;
    SetColour(cr, kMarking);
    DrawTextCentred(cr, text.c_str(), kCentreX + r * c, kCentreY + r * s);
}

Picture DrawFace(const DialArt& art, const Fonts& fonts) {
    const ScaleGeometry g(*art.scale);
    Canvas canvas(kDialSize, kDialSize);
    cairo_t* cr = canvas.cr();
    DrawBezelAndFace(cr);
    for (const Band& band : art.bands) DrawBand(cr, g, band);

    if (art.minorStep > 0) {
        for (long k = std::lround(std::ceil(g.first() / art.minorStep)); k * art.minorStep <= g.last() + 1e-9; ++k) {
            const double v = k * art.minorStep;
            if (!g.IsScalePoint(v)) DrawTick(cr, g.Radians(v), kMinorTickInner, 1.0);
        }
    }
    for (const ScalePoint& p : *art.scale) {
        bool numbered = false;
        for (double n : art.numerals) numbered |= n == p.value;
        DrawTick(cr, g.Radians(p.value), numbered ? kMajorTickInner : kPointTickInner, numbered ? 1.8 : 1.4);
    }
    for (double n : art.numerals) DrawNumeral(cr, fonts, g.Radians(n), n);

    SetColour(cr, kLabel);
    for (const Label& label : art.labels) {
        UseFont(cr, fonts.labels, label.size);
        DrawTextCentred(cr, label.text, label.x, label.y);
    }
    return canvas.ToPicture();
}

// The pointer: white, pointing along +x from its turning point, with a short
// tail behind the turning point (hidden under the hub cap).
void PointerPath(cairo_t* cr, double turnX, double turnY, double length) {
    cairo_move_to(cr, turnX - 3, turnY - 1.9);
    cairo_line_to(cr, turnX + 6, turnY - 1.9);
    cairo_line_to(cr, turnX + length, turnY - 0.35);
    cairo_line_to(cr, turnX + length, turnY + 0.35);
    cairo_line_to(cr, turnX + 6, turnY + 1.9);
    cairo_line_to(cr, turnX - 3, turnY + 1.9);
    cairo_close_path(cr);
}

Picture DrawNeedle() {
    Canvas canvas(43, 7);
    PointerPath(canvas.cr(), 3, 4, 39.5);
    SetColour(canvas.cr(), {246, 246, 242});
    cairo_fill(canvas.cr());
    return canvas.ToPicture();
}

// The needle's shadow falls a little below it: the element stands 4 pixels
// lower than the needle, turning about (5, 6) of this bitmap.
Picture DrawNeedleShadow() {
    Canvas canvas(46, 11);
    PointerPath(canvas.cr(), 5, 6, 39.5);
    SetColour(canvas.cr(), {9, 9, 11});
    cairo_fill(canvas.cr());
    Picture p = canvas.ToPicture();
    Blur(p, 1, 1);
    return p;
}

// Hub cap over the turning point, (17, 13) of the bitmap, with its own soft
// shadow a little below.
Picture DrawHubCap() {
    Canvas canvas(34, 33);
    cairo_t* cr = canvas.cr();
    cairo_arc(cr, 17, 17.5, 9.0, 0, 2 * M_PI);
    SetColour(cr, {8, 8, 10}, 0.65);
    cairo_fill(cr);
    Picture shadow = canvas.ToPicture();
    Blur(shadow, 2, 2);

    Canvas cap(34, 33);
    cr = cap.cr();
    cairo_pattern_t* dome = cairo_pattern_create_radial(14.5, 10.5, 0.5, 17, 13, 8.5);
    cairo_pattern_add_color_stop_rgb(dome, 0.0, 104 / 255.0, 106 / 255.0, 110 / 255.0);
    cairo_pattern_add_color_stop_rgb(dome, 0.55, 46 / 255.0, 47 / 255.0, 50 / 255.0);
    cairo_pattern_add_color_stop_rgb(dome, 1.0, 22 / 255.0, 23 / 255.0, 25 / 255.0);
    cairo_arc(cr, 17, 13, 8.5, 0, 2 * M_PI);
    cairo_set_source(cr, dome);
    cairo_fill(cr);
    cairo_pattern_destroy(dome);
    cairo_arc(cr, 17, 13, 8.1, 0, 2 * M_PI);
    cairo_set_line_width(cr, 0.8);
    SetColour(cr, {96, 98, 103});
    cairo_stroke(cr);

    // shadow under the cap: "over" compositing by hand on straight pixels
    Picture top = cap.ToPicture();
    for (size_t i = 0; i < top.rgba.size(); i += 4) {
        const double at = top.rgba[i + 3] / 255.0, ab = shadow.rgba[i + 3] / 255.0;
        const double a = at + ab * (1 - at);
        for (int ch = 0; ch < 3; ++ch) {
            const double c = a > 0 ? (top.rgba[i + ch] * at + shadow.rgba[i + ch] * ab * (1 - at)) / a : 0;
            shadow.rgba[i + ch] = static_cast<uint8_t>(std::lround(c));
        }
        shadow.rgba[i + 3] = static_cast<uint8_t>(std::lround(a * 255));
    }
    return shadow;
}

// The glass: the light it reflects, added to the instrument below. Stored
// as the amount of light (black: none).
Picture DrawGlass() {
    Canvas canvas(kDialSize, kDialSize);
    cairo_t* cr = canvas.cr();
    // A crescent of sky light along the upper left of the glass.
    cairo_arc(cr, kCentreX, kCentreY, kFaceRadius - 0.5, 0, 2 * M_PI);
    cairo_new_sub_path(cr);
    cairo_arc_negative(cr, kCentreX + 7, kCentreY + 9, kFaceRadius + 2, 2 * M_PI, 0);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_pattern_t* sky = cairo_pattern_create_linear(14, 14, 52, 52);
    cairo_pattern_add_color_stop_rgba(sky, 0.0, 1, 1, 1, 0.30);
    cairo_pattern_add_color_stop_rgba(sky, 1.0, 1, 1, 1, 0.02);
    cairo_set_source(cr, sky);
    cairo_fill(cr);
    cairo_pattern_destroy(sky);

    // A faint glint on the lower right rim.
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_arc(cr, kCentreX, kCentreY, kFaceRadius - 1.5, 0.15 * M_PI, 0.35 * M_PI);
    cairo_set_line_width(cr, 1.5);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.18);
    cairo_stroke(cr);
    return canvas.ToPicture();
}

// The oil quantity needle: a long pointer with a counterweight and its own
// hub, turning about (16, 7) of the bitmap.
Picture DrawQuantityNeedle() {
    Canvas canvas(61, 13);
    cairo_t* cr = canvas.cr();
    const double tx = 16, ty = 7;
    cairo_move_to(cr, tx, ty - 1.9);
    cairo_line_to(cr, 58.5, ty - 0.4);
    cairo_line_to(cr, 58.5, ty + 0.4);
    cairo_line_to(cr, tx, ty + 1.9);
    cairo_close_path(cr);
    SetColour(cr, {246, 246, 242});
    cairo_fill(cr);
    cairo_rectangle(cr, 2.5, ty - 1.6, tx - 2.5, 3.2);
    SetColour(cr, {150, 152, 156});
    cairo_fill(cr);

    cairo_pattern_t* dome = cairo_pattern_create_radial(tx - 2, ty - 2, 0.5, tx, ty, 5.6);
    cairo_pattern_add_color_stop_rgb(dome, 0.0, 110 / 255.0, 112 / 255.0, 116 / 255.0);
    cairo_pattern_add_color_stop_rgb(dome, 1.0, 30 / 255.0, 31 / 255.0, 34 / 255.0);
    cairo_arc(cr, tx, ty, 5.6, 0, 2 * M_PI);
    cairo_set_source(cr, dome);
    cairo_fill(cr);
    cairo_pattern_destroy(dome);
    cairo_arc(cr, tx, ty, 5.2, 0, 2 * M_PI);
    cairo_set_line_width(cr, 0.8);
    SetColour(cr, {120, 122, 127});
    cairo_stroke(cr);
    return canvas.ToPicture();
}

Conversion Keyed(uint8_t threshold) {
    Conversion c;
    c.blackIsTransparent = true;
    c.coverageThreshold = threshold;
    c.matte[0] = static_cast<uint8_t>(kFaceMatte.r);
    c.matte[1] = static_cast<uint8_t>(kFaceMatte.g);
    c.matte[2] = static_cast<uint8_t>(kFaceMatte.b);
    return c;
}

std::vector<DialArt> Dials() {
    const double kLabelSize = 6.2;
    return {
        {256, &kOilPressScale, {0, 20, 40, 60, 80, 100}, 10,
         {{0, 20, kRed}, {20, 40, kAmber}},
         {{"OIL PRESS", 52, 39, kLabelSize}, {"PSI", 52, 70, kLabelSize}}},
        {512, &kOilTempScale, {-40, 0, 40, 80, 120}, 20,
         {{40, 120, kGreen}, {120, 160, kAmber}, {160, 180, kRed}},
         {{"OIL", 68, 33, kLabelSize}, {"TEMP", 68, 41, kLabelSize}, {"\u00B0C", 52, 71, kLabelSize}}},
        {1280, &kOilQtyScale, {0, 1, 2, 3, 4}, 0.5,
         {},
         {{"OIL", 57, 63, kLabelSize}, {"QUANTITY", 57, 70, kLabelSize}, {"GALLONS", 57, 77, kLabelSize}}},
        {1536, &kVibScale, {0, 1, 2, 3, 4, 5}, 0.5,
         {},
         {{"VIB.", 52, 36, kLabelSize}, {"AMPLITUDE", 52, 76, kLabelSize}, {"Mils", 52, 84, kLabelSize}}},
    };
}

}  // namespace

std::vector<GeneratedBitmap> Hx8Artwork(const ArtworkOptions& options) {
    const Fonts fonts{FontFile(options.fontDir + "/DejaVuSansCondensed-Bold.ttf"),
                      FontFile(options.fontDir + "/DejaVuSansCondensed-Bold.ttf")};
    std::vector<GeneratedBitmap> out;
    const Conversion opaque;
    Conversion face;
    face.dither = true;
    for (const DialArt& dial : Dials()) out.push_back({dial.faceId, EncodeDib(DrawFace(dial, fonts), DibFormat::Rgb555, face)});

    // One needle, shadow, hub cap and glass serve the three dials that have them.
    const std::vector<uint8_t> shadow = EncodeDib(DrawNeedleShadow(), DibFormat::Palette8, Keyed(60));
    const std::vector<uint8_t> needle = EncodeDib(DrawNeedle(), DibFormat::Palette8, Keyed(96));
    const std::vector<uint8_t> hub = EncodeDib(DrawHubCap(), DibFormat::Argb32, opaque);
    Conversion light;  // the glass stores light: partial cover is less light, never a matte colour
    light.blackIsTransparent = true;
    light.coverageThreshold = 6;
    const std::vector<uint8_t> glass = EncodeDib(DrawGlass(), DibFormat::Palette8, light);
    for (uint32_t base : {256u, 512u, 1536u}) {
        out.push_back({base + 4, shadow});
        out.push_back({base + 8, needle});
        out.push_back({base + 12, hub});
        out.push_back({base + 16, glass});
    }
    out.push_back({1284, EncodeDib(DrawQuantityNeedle(), DibFormat::Rgb555, Keyed(96))});
    out.push_back({1288, glass});
    return out;
}
