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

// Direction from (fromX, fromY) towards (toX, toY), same convention.
double DirectionDegrees(double fromX, double fromY, double toX, double toY);
