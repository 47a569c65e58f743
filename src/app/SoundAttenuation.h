// The soft distance law of sounds played at a point: the volume factor
// -ln((d - min) / (max - min)), held within [minValue, maxValue]. The share
// under the logarithm is kept inside (0, 1], so a distance below the range,
// an empty or inverted range, or a NaN never gives an infinite or NaN value.
#pragma once

float softAttenuation(float distance, float minDistance, float maxDistance, float minValue, float maxValue);
