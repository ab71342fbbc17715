#include "needle_geometry.h"

#include <cmath>
#include <numbers>

double DirectionDegrees(double fromX, double fromY, double toX, double toY) {
    return std::atan2(toY - fromY, toX - fromX) * 180.0 / std::numbers::pi;
}

namespace {

double PointAngle(const NeedleElement& needle, const NeedleScalePoint& point) {
    return DirectionDegrees(needle.head.positionX, needle.head.positionY, point.x, point.y);
}

// Signed difference b - a folded into (-180, 180].
double ShortestTurn(double a, double b) {
    double d = std::fmod(b - a, 360.0);
    if (d > 180.0) d -= 360.0;
    if (d <= -180.0) d += 360.0;
    return d;
}

}  // namespace

double NeedleAngleForValue(const NeedleElement& needle, double value) {
    const NeedleScalePoint* points = needle.scale;
    const uint32_t count = needle.scaleCount;
    if (points == nullptr || count == 0) return 0.0;
    if (std::isnan(value) || value <= points[0].value) return PointAngle(needle, points[0]);
    if (value >= points[count - 1].value) return PointAngle(needle, points[count - 1]);
    uint32_t i = 1;
    while (value > points[i].value) ++i;
    const NeedleScalePoint& lo = points[i - 1];
    const NeedleScalePoint& hi = points[i];
    const double from = PointAngle(needle, lo);
    const double t = (value - lo.value) / (hi.value - lo.value);
    return from + t * ShortestTurn(from, PointAngle(needle, hi));
}

double NeedleSweepForValue(const NeedleElement& needle, double value) {
    const NeedleScalePoint* points = needle.scale;
    const uint32_t count = needle.scaleCount;
    if (points == nullptr || count == 0) return 0.0;
    double angle = PointAngle(needle, points[0]);
    if (std::isnan(value) || value <= points[0].value) return angle;
    for (uint32_t i = 1; i < count; ++i) {
        const double turn = ShortestTurn(PointAngle(needle, points[i - 1]), PointAngle(needle, points[i]));
        if (value < points[i].value) {
            return angle + (value - points[i - 1].value) / (points[i].value - points[i - 1].value) * turn;
        }
        angle += turn;
    }
    return angle;
}
