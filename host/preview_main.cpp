// twpreview: draws every gauge of a module at a few needle values, as PNGs.
//
//   twpreview <module> <output folder> [--scale N]
//
// For each gauge, <name>-<value>.png at values spread over its dial (the
// needle set straight to the scale point of the value, as the simulator shows
// a settled needle), and panel.png with all gauges side by side at mid-scale.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "module.h"
#include "needle_geometry.h"
#include "records.h"
#include "render.h"

namespace {

void Usage() { std::fprintf(stderr, "usage: twpreview <module> <output folder> [--scale N]\n"); }

// Values at 5 %, 50 % and 95 % of the span of the gauge's first needle's scale.
std::vector<double> PreviewValues(const GaugeHeader& gauge) {
    const std::vector<NeedleElement*> needles = NeedleElements(gauge);
    if (needles.empty() || needles.front()->scale == nullptr || needles.front()->scaleCount == 0) return {0};
    const NeedleElement& n = *needles.front();
    const double lo = n.scale[0].value, hi = n.scale[n.scaleCount - 1].value;
    std::vector<double> values;
    for (double f : {0.05, 0.5, 0.95}) values.push_back(std::round((lo + f * (hi - lo)) * 100) / 100);
    return values;
}

std::string Format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

RenderedGauge Draw(const LoadedModule& module, const GaugeHeader& gauge, double value, double scale) {
    return RenderGauge(
        gauge, [&](uint32_t id) { return module.Bitmap(id); },
        [&](const ElementHeader* element) -> std::optional<double> {
            return NeedleAngleForValue(*reinterpret_cast<const NeedleElement*>(element), value);
        },
        scale);
}

// Copies `image` into `sheet` with its top-left corner at (x, y).
void Place(RenderedGauge& sheet, const RenderedGauge& image, int x0, int y0) {
    for (int y = 0; y < image.height && y0 + y < sheet.height; ++y) {
        for (int x = 0; x < image.width && x0 + x < sheet.width; ++x) {
            const uint8_t* from = image.At(x, y);
            std::copy(from, from + 4, &sheet.rgba[(static_cast<size_t>(y0 + y) * sheet.width + x0 + x) * 4]);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        Usage();
        return 2;
    }
    double scale = 3.0;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--scale" && i + 1 < argc) {
            scale = std::atof(argv[++i]);
            if (!(scale > 0 && scale <= 16)) {
                std::fprintf(stderr, "twpreview: scale must lie between 0 and 16\n");
                return 2;
            }
        } else {
            Usage();
            return 2;
        }
    }
    std::string error;
    std::unique_ptr<LoadedModule> module = LoadedModule::Open(argv[1], &error);
    if (!module) {
        std::fprintf(stderr, "twpreview: %s\n", error.c_str());
        return 1;
    }
    if (!module->HasBitmapTable()) {
        std::fprintf(stderr, "twpreview: %s carries no bitmap table\n", argv[1]);
        return 1;
    }
    const std::string outDir = argv[2];
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);

    const std::vector<GaugeHeader*> gauges = module->Gauges();
    const int margin = static_cast<int>(std::lround(8 * scale));
    const int columns = 4;
    std::vector<RenderedGauge> middles;
    int failures = 0;
    for (GaugeHeader* gauge : gauges) {
        const std::string name = gauge->name ? gauge->name : "gauge";
        const std::vector<double> values = PreviewValues(*gauge);
        for (double value : values) {
            RenderedGauge image = Draw(*module, *gauge, value, scale);
            for (const std::string& problem : image.problems) {
                std::fprintf(stderr, "twpreview: %s: %s\n", name.c_str(), problem.c_str());
            }
            const std::string path = outDir + "/" + name + "-" + Format(value) + ".png";
            if (!WritePng(image, path, &error)) {
                std::fprintf(stderr, "twpreview: %s\n", error.c_str());
                ++failures;
            }
            if (value == values[values.size() / 2]) middles.push_back(std::move(image));
        }
    }

    if (!middles.empty()) {
        int cellW = 0, cellH = 0;
        for (const RenderedGauge& m : middles) cellW = std::max(cellW, m.width), cellH = std::max(cellH, m.height);
        const int rows = (static_cast<int>(middles.size()) + columns - 1) / columns;
        const int usedColumns = std::min<int>(columns, static_cast<int>(middles.size()));
        RenderedGauge sheet;
        sheet.width = usedColumns * (cellW + margin) + margin;
        sheet.height = rows * (cellH + margin) + margin;
        sheet.rgba.resize(static_cast<size_t>(sheet.width) * sheet.height * 4);
        for (size_t i = 0; i < sheet.rgba.size(); i += 4) {  // panel paint
            sheet.rgba[i] = 58, sheet.rgba[i + 1] = 62, sheet.rgba[i + 2] = 66, sheet.rgba[i + 3] = 255;
        }
        for (size_t i = 0; i < middles.size(); ++i) {
            Place(sheet, middles[i], margin + static_cast<int>(i % columns) * (cellW + margin),
                  margin + static_cast<int>(i / columns) * (cellH + margin));
        }
        if (!WritePng(sheet, outDir + "/panel.png", &error)) {
            std::fprintf(stderr, "twpreview: %s\n", error.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
