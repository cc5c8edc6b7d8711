#pragma once
// The rounding rules the program's arithmetic relies on.
//  - Round: nearest integer, halves to the even neighbour (banker's rounding),
//    computed under the default floating-point rounding mode.
//  - Trunc / integer '/': toward zero.
//  - MulDiv: a*b/c in 64 bits, halves away from zero; c == 0 gives -1 like the platform.

#include <cmath>
#include <cstdint>

inline int64_t Round(long double v) { return static_cast<int64_t>(std::nearbyintl(v)); }
inline int64_t Round(double v) { return static_cast<int64_t>(std::nearbyint(v)); }
inline int64_t Round(float v) { return static_cast<int64_t>(std::nearbyintf(v)); }

inline int64_t Trunc(long double v) { return static_cast<int64_t>(v); }
inline int64_t Trunc(double v) { return static_cast<int64_t>(v); }

int32_t MulDiv(int32_t a, int32_t b, int32_t c);
