// Where a needle points: the simulator turns a needle about its turning point
// towards the scale point listed for the value, interpolating between points.
#pragma once

#include "gauge_records.h"

// Direction in degrees from the needle's turning point (its position on the
// gauge) towards the scale point of `value`, in gauge pixels with y growing
// downwards: 0 points right, 90 points down. Between two listed points the
// direction is interpolated linearly in the value (along the shorter arc);
// values beyond the ends of the table, and NaN, stop at the end points.
double NeedleAngleForValue(const NeedleElement& needle, double value);

// The same direction measured along the dial: starting from the direction of
// the first scale point, the angle keeps growing (or shrinking) with the
// value instead of folding back into (-180, 180]. A needle turning between
// two values moves between their sweep angles, along the scale and never
// across the gap between its ends. Equal to NeedleAngleForValue modulo 360.
double NeedleSweepForValue(const NeedleElement& needle, double value);

// Direction from (fromX, fromY) towards (toX, toY), same convention.
double DirectionDegrees(double fromX, double fromY, double toX, double toY);
