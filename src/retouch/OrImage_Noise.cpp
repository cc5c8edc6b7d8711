// Noise pictures of the retouch control.

#include "retouch/OrImage_Pixels.h"

#include "platform/ImageAlloc.h"

namespace orimage {

int32_t TNoiseRandom::Random(int32_t n)
{
    // Linear congruential step modulo 2^32; the upper bits of the product with n
    // spread the draw evenly over 0..n - 1.
    FSeed = FSeed * 134775813u + 1u;
    if (n <= 0)
        return 0;
    return static_cast<int32_t>((static_cast<uint64_t>(FSeed) * static_cast<uint32_t>(n)) >> 32);
}

QImage MakeNoise(int width, int height, int32_t n, bool mono, TNoiseRandom& rng)
{
    QImage noise = NewBgrImage(width, height);
    if (noise.isNull())
        return noise;
    const int32_t half = n / 2;
    auto draw = [&]() -> uchar {
        const int64_t v = static_cast<int64_t>(rng.Random(n)) - half;
        return static_cast<uchar>(v < 0 ? 0 : (v > 255 ? 255 : v));
    };
    for (int y = 0; y < height; ++y) {
        uchar* p = noise.scanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            if (mono) {
                p[0] = p[1] = p[2] = draw();
            } else {
                // Drawn red, green, blue in that order; stored blue, green, red.
                p[2] = draw();
                p[1] = draw();
                p[0] = draw();
            }
        }
    }
    return noise;
}

} // namespace orimage
