// Drawing helpers over cairo for the artwork: canvases that turn into
// Pictures, fonts loaded from a fixed TrueType file (never through the
// system's font lookup, so the same files give the same pixels), text placed
// by its ink box, and a soft-edge blur.
#pragma once

#include <cairo.h>

#include <string>

#include "dib.h"

// A cairo image surface with its context; the surface starts transparent.
class Canvas {
public:
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    cairo_t* cr() const { return cr_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // Straight RGBA copy of what has been drawn.
    Picture ToPicture() const;

private:
    int width_, height_;
    cairo_surface_t* surface_;
    cairo_t* cr_;
};

// A font face loaded from `path`; throws std::runtime_error if it cannot be read.
class FontFile {
public:
    explicit FontFile(const std::string& path);
    ~FontFile();
    FontFile(const FontFile&) = delete;
    FontFile& operator=(const FontFile&) = delete;
    cairo_font_face_t* face() const { return face_; }

private:
    cairo_font_face_t* face_ = nullptr;
};

// Selects `font` at `pixelSize` with fixed rendering options.
void UseFont(cairo_t* cr, const FontFile& font, double pixelSize);

// Width and height of the ink of `text` in the current font.
struct InkSize {
    double width, height;
};
InkSize MeasureInk(cairo_t* cr, const char* text);

// Draws `text` with the centre of its ink box at (cx, cy).
void DrawTextCentred(cairo_t* cr, const char* text, double cx, double cy);

// Blurs the picture (colour and alpha alike) with `passes` box passes of
// `radius` pixels, for soft shadows.
void Blur(Picture& picture, int radius, int passes);
