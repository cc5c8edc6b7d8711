#include "platform/Rounding.h"

int32_t MulDiv(int32_t a, int32_t b, int32_t c)
{
    if (c == 0)
        return -1;
    const int64_t p = static_cast<int64_t>(a) * b;
    const bool negative = (p < 0) != (c < 0);
    const uint64_t num = static_cast<uint64_t>(p < 0 ? -p : p);
    const uint64_t den = static_cast<uint64_t>(c < 0 ? -static_cast<int64_t>(c) : c);
    // Halves away from zero: add half the divisor to the magnitude before dividing.
    const uint64_t q = (num + den / 2) / den;
    const int64_t r = negative ? -static_cast<int64_t>(q) : static_cast<int64_t>(q);
    if (r > INT32_MAX || r < INT32_MIN)
        return -1;
    return static_cast<int32_t>(r);
}
