// How different two colours look: CIEDE2000 between linear sRGB colours
// (Rec. 709 primaries, D65 white) taken to CIELAB. About 1 is the smallest
// difference a viewer notices; a keyer needs more.
#pragma once

#include <array>

#include "host/records.h"

namespace refhost {

using Lab = std::array<double, 3>;  // L*, a*, b*

// A linear sRGB colour in CIELAB (D65 white).
Lab lab_of(const host::Colour& colour);

// The CIEDE2000 colour difference of two CIELAB colours.
double ciede2000(const Lab& first, const Lab& second);

}  // namespace refhost
