#include "draw.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

Canvas::Canvas(int width, int height)
    : width_(width),
      height_(height),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
      cr_(cairo_create(surface_)) {
    if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) throw std::runtime_error("cannot create a cairo canvas");
}

Canvas::~Canvas() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

Picture Canvas::ToPicture() const {
    cairo_surface_flush(surface_);
    Picture p;
    p.width = width_;
    p.height = height_;
    p.rgba.resize(static_cast<size_t>(width_) * height_ * 4);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            uint32_t v;
            __builtin_memcpy(&v, data + static_cast<size_t>(y) * stride + x * 4, 4);
            const unsigned a = v >> 24;
            uint8_t* out = p.At(x, y);
            out[3] = static_cast<uint8_t>(a);
            // cairo keeps premultiplied colour; pictures keep it straight
            for (int ch = 0; ch < 3; ++ch) {
                const unsigned c = (v >> (16 - 8 * ch)) & 0xFF;
                out[ch] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255u, (c * 255 + a / 2) / a));
            }
        }
    }
    return p;
}

namespace {

// One FreeType library for the whole run; the tool is short-lived.
FT_Library Library() {
    static FT_Library library = [] {
        FT_Library l = nullptr;
        if (FT_Init_FreeType(&l) != 0) throw std::runtime_error("cannot start FreeType");
        return l;
    }();
    return library;
}

const cairo_user_data_key_t kFaceKey{};

void DoneFace(void* face) { FT_Done_Face(static_cast<FT_Face>(face)); }

}  // namespace

FontFile::FontFile(const std::string& path) {
    FT_Face face = nullptr;
    if (FT_New_Face(Library(), path.c_str(), 0, &face) != 0) throw std::runtime_error("cannot read the font " + path);
    face_ = cairo_ft_font_face_create_for_ft_face(face, 0);
    // cairo may keep the font face in its caches after we let go of it: the
    // FreeType face is freed when cairo frees the font face.
    if (cairo_font_face_set_user_data(face_, &kFaceKey, face, DoneFace) != CAIRO_STATUS_SUCCESS) {
        cairo_font_face_destroy(face_);
        FT_Done_Face(face);
        throw std::runtime_error("cannot use the font " + path);
    }
}

FontFile::~FontFile() { cairo_font_face_destroy(face_); }

void UseFont(cairo_t* cr, const FontFile& font, double pixelSize) {
    cairo_set_font_face(cr, font.face());
    cairo_set_font_size(cr, pixelSize);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, options);
    cairo_font_options_destroy(options);
}

InkSize MeasureInk(cairo_t* cr, const char* text) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text, &e);
    return {e.width, e.height};
}

void DrawTextCentred(cairo_t* cr, const char* text, double cx, double cy) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text, &e);
    cairo_move_to(cr, cx - (e.x_bearing + e.width / 2), cy - (e.y_bearing + e.height / 2));
    cairo_show_text(cr, text);
    cairo_new_path(cr);
}

void Blur(Picture& p, int radius, int passes) {
    const int w = p.width, h = p.height;
    std::vector<double> buf(static_cast<size_t>(w) * h * 4), tmp(buf.size());
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
        const double a = p.rgba[i * 4 + 3] / 255.0;
        for (int ch = 0; ch < 3; ++ch) buf[i * 4 + ch] = p.rgba[i * 4 + ch] * a;
        buf[i * 4 + 3] = p.rgba[i * 4 + 3];
    }
    auto pass = [&](bool horizontal) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                double sum[4] = {0, 0, 0, 0};
                for (int d = -radius; d <= radius; ++d) {
                    const int sx = horizontal ? x + d : x, sy = horizontal ? y : y + d;
                    if (sx < 0 || sy < 0 || sx >= w || sy >= h) continue;
                    for (int ch = 0; ch < 4; ++ch) sum[ch] += buf[(static_cast<size_t>(sy) * w + sx) * 4 + ch];
                }
                for (int ch = 0; ch < 4; ++ch) tmp[(static_cast<size_t>(y) * w + x) * 4 + ch] = sum[ch] / (2 * radius + 1);
            }
        }
        buf.swap(tmp);
    };
    for (int i = 0; i < passes; ++i) {
        pass(true);
        pass(false);
    }
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
        const double a = buf[i * 4 + 3];
        p.rgba[i * 4 + 3] = static_cast<uint8_t>(std::lround(std::min(255.0, a)));
        for (int ch = 0; ch < 3; ++ch) {
            const double c = a > 0 ? buf[i * 4 + ch] / (a / 255.0) : 0;
            p.rgba[i * 4 + ch] = static_cast<uint8_t>(std::lround(std::clamp(c, 0.0, 255.0)));
        }
    }
}
