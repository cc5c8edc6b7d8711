// Spatial filters of the retouch control. They run once when an effect is set
// and their result is cached, so clarity wins over speed here; all of them work
// in place on 24-bit rows.

#include "retouch/OrImage_Pixels.h"

#include <algorithm>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orimage {

namespace {

void MakeBgr(QImage& bmp)
{
    if (!bmp.isNull() && bmp.format() != QImage::Format_BGR888)
        bmp = bmp.convertToFormat(QImage::Format_BGR888);
}

// Row access without a detach test per call.
struct TRows {
    uchar* bits;
    qsizetype stride;
    explicit TRows(QImage& img) : bits(img.bits()), stride(img.bytesPerLine()) {}
    uchar* operator()(int y) const { return bits + y * stride; }
};

// out[i] = a[i] + b[i] + c[i] for bytes, 16 at a time where the platform allows.
void SumOfThree(const uchar* a, const uchar* b, const uchar* c, uint16_t* out, int n)
{
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i vc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
        const __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero)),
                                         _mm_unpacklo_epi8(vc, zero));
        const __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero)),
                                         _mm_unpackhi_epi8(vc, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), hi);
    }
#endif
    for (; i < n; ++i)
        out[i] = static_cast<uint16_t>(a[i] + b[i] + c[i]);
}

} // namespace

void AntiAliasRect(QImage& bmp, int x0, int y0, int x1, int y1)
{
    MakeBgr(bmp);
    const int w = bmp.width();
    const int h = bmp.height();
    const int xa = std::max(1, std::min(x0, x1));
    const int xb = std::min(w - 2, std::max(x0, x1));
    const int ya = std::max(1, std::min(y0, y1));
    const int yb = std::min(h - 2, std::max(y0, y1));
    if (xa > xb || ya > yb)
        return;
    const TRows row(bmp);
    // Only the left neighbour is a value written in this pass's row; the row above
    // is final, the row below and the right neighbour are not written yet. Their
    // sum is taken for the whole row first, leaving one addition in the chain.
    std::vector<uint16_t> partial(static_cast<size_t>(xb - xa + 1) * 3);
    for (int y = ya; y <= yb; ++y) {
        const uchar* up = row(y - 1);
        uchar* cur = row(y);
        const uchar* down = row(y + 1);
        const int first = xa * 3;
        const int count = static_cast<int>(partial.size());
        SumOfThree(up + first, down + first, cur + first + 3, partial.data(), count);
        // The left neighbour's new value stays in a register instead of a store and reload.
        int lb = cur[first - 3], lg = cur[first - 2], lr = cur[first - 1];
        const uint16_t* sum = partial.data();
        uchar* out = cur + first;
        for (int i = 0; i < count; i += 3) {
            lb = (sum[i] + lb) >> 2;
            lg = (sum[i + 1] + lg) >> 2;
            lr = (sum[i + 2] + lr) >> 2;
            out[i] = static_cast<uchar>(lb);
            out[i + 1] = static_cast<uchar>(lg);
            out[i + 2] = static_cast<uchar>(lr);
        }
    }
}

void Emboss(QImage& bmp)
{
    MakeBgr(bmp);
    const int w = bmp.width();
    const int h = bmp.height();
    if (w < 3 || h < 2)
        return;
    const TRows row(bmp);
    auto embossRow = [w](uchar* cur, const uchar* partner) {
        for (int x = 0; x <= w - 4; ++x)
            for (int c = 0; c < 3; ++c)
                cur[x * 3 + c] = static_cast<uchar>(((255 - partner[(x + 3) * 3 + c]) + cur[x * 3 + c]) >> 1);
        // The last three columns have no partner three to the right: they use the one below.
        for (int x = w - 3; x <= w - 1; ++x)
            for (int c = 0; c < 3; ++c)
                cur[x * 3 + c] = static_cast<uchar>(((255 - partner[x * 3 + c]) + cur[x * 3 + c]) >> 1);
    };
    for (int y = 0; y <= h - 2; ++y)
        embossRow(row(y), row(y + 1));
    // The last row has no row below; it pairs with the row above, already embossed.
    embossRow(row(h - 1), row(h - 2));
}

void Mosaic(QImage& bmp, int size)
{
    MakeBgr(bmp);
    if (size <= 1 || bmp.isNull())
        return;
    const int w = bmp.width();
    const int h = bmp.height();
    const TRows row(bmp);
    for (int by = 0; by < h; by += size) {
        const uchar* top = row(by);
        const int yEnd = std::min(h, by + size);
        for (int y = by; y < yEnd; ++y) {
            uchar* cur = row(y);
            for (int bx = 0; bx < w; bx += size) {
                const int xEnd = std::min(w, bx + size);
                const uchar* p = top + bx * 3;
                for (int x = bx; x < xEnd; ++x) {
                    cur[x * 3] = p[0];
                    cur[x * 3 + 1] = p[1];
                    cur[x * 3 + 2] = p[2];
                }
            }
        }
    }
}

void SplitBlur(QImage& bmp, int distance)
{
    MakeBgr(bmp);
    if (distance <= 0 || bmp.isNull())
        return;
    const int w = bmp.width();
    const int h = bmp.height();
    const int a = distance;
    // The mirrored fallback H - y (W - x) would be row H (column W) for the first
    // row (column); that pixel does not exist, so the pixel's own row (column)
    // stands in, as it does for the upper and left neighbours.
    auto lower = [a](int v, int size) {
        if (static_cast<int64_t>(v) + a < size)
            return v + a;
        const int mirrored = size - v;
        return mirrored < size ? mirrored : v;
    };
    auto upper = [a](int v) { return v - a < 0 ? v : v - a; };
    std::vector<int> xl(static_cast<size_t>(w)), xr(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
        xl[static_cast<size_t>(x)] = upper(x) * 3;
        xr[static_cast<size_t>(x)] = lower(x, w) * 3;
    }
    const TRows row(bmp);
    for (int y = 0; y < h; ++y) {
        const uchar* ru = row(upper(y));
        const uchar* rd = row(lower(y, h));
        uchar* cur = row(y);
        for (int x = 0; x < w; ++x) {
            const int l = xl[static_cast<size_t>(x)];
            const int r = xr[static_cast<size_t>(x)];
            for (int c = 0; c < 3; ++c)
                cur[x * 3 + c] = static_cast<uchar>((ru[l + c] + rd[l + c] + ru[r + c] + rd[r + c]) >> 2);
        }
    }
}

void GaussianBlur(QImage& bmp, int passes)
{
    for (int i = 0; i < passes; ++i)
        SplitBlur(bmp, 3);
}

uint8_t TraceIndex(uint8_t r, uint8_t g, uint8_t b)
{
    const int ri = (r * 7 + 127) / 255;
    const int gi = (g * 7 + 127) / 255;
    const int bi = (b * 3 + 127) / 255;
    return static_cast<uint8_t>((ri << 5) | (gi << 2) | bi);
}

void Trace(QImage& bmp, int intensity)
{
    MakeBgr(bmp);
    const int w = bmp.width();
    const int h = bmp.height();
    if (bmp.isNull() || intensity <= 0)
        return;
    // The reduced copy is taken once: every pass compares the same indices.
    std::vector<uint8_t> index(static_cast<size_t>(w) * static_cast<size_t>(h));
    const TRows row(bmp);
    for (int y = 0; y < h; ++y) {
        const uchar* p = row(y);
        for (int x = 0; x < w; ++x, p += 3)
            index[static_cast<size_t>(y) * w + x] = TraceIndex(p[2], p[1], p[0]);
    }
    auto idx = [&](int x, int y) { return index[static_cast<size_t>(y) * w + x]; };
    auto black = [&](int x, int y) {
        uchar* p = row(y) + x * 3;
        p[0] = p[1] = p[2] = 0;
    };
    // The first boundary met decides which side of later boundaries is painted:
    // the side whose colour matches the colour met first across that boundary.
    bool started = false;
    uint8_t m = 0;
    auto test = [&](int x, int y, int nx, int ny) {
        const uint8_t p = idx(x, y);
        const uint8_t q = idx(nx, ny);
        if (q == p)
            return;
        if (!started) {
            black(x, y);
            started = true;
            m = q;
        } else if (p == m) {
            black(nx, ny);
        } else {
            black(x, y);
        }
    };
    for (int pass = 1; pass <= intensity; ++pass) {
        for (int y = 0; y <= h - 2; ++y)
            for (int x = 0; x <= w - 3; ++x) {
                test(x, y, x + 1, y);
                test(x, y, x, y + 1);
            }
        if (pass >= 2)
            for (int y = h - 1; y >= 1; --y)
                for (int x = w - 1; x >= 2; --x) {
                    test(x, y, x - 1, y);
                    test(x, y, x, y - 1);
                }
    }
}

void SmoothResize(const QImage& srcIn, QImage& dst)
{
    const QImage src =
        srcIn.format() == QImage::Format_BGR888 ? srcIn : srcIn.convertToFormat(QImage::Format_BGR888);
    MakeBgr(dst);
    if (src.isNull() || dst.isNull())
        return;
    // 64-bit steps: (width - 1) x 32768 passes 32 bits for pictures wider than 65536.
    const int64_t sx = (static_cast<int64_t>(src.width() - 1) * 32768) / dst.width();
    const int64_t sy = (static_cast<int64_t>(src.height() - 1) * 32768) / dst.height();
    const TRows out(dst);
    for (int j = 0; j < dst.height(); ++j) {
        const int64_t v = j * sy;
        const int r0 = static_cast<int>(v >> 15);
        const int r1 = src.height() > 1 ? r0 + 1 : r0;
        const uint32_t fy = static_cast<uint32_t>(v & 32767);
        const uchar* s0 = src.constScanLine(r0);
        const uchar* s1 = src.constScanLine(r1);
        uchar* d = out(j);
        for (int i = 0; i < dst.width(); ++i) {
            const int64_t u = i * sx;
            const int q0 = static_cast<int>(u >> 15);
            // A single source column has no right neighbour; its weight is 0 anyway.
            const int q1 = src.width() > 1 ? q0 + 1 : q0;
            const uint32_t fx = static_cast<uint32_t>(u & 32767);
            const uint32_t w10 = ((32768 - fy) * fx) >> 15;
            const uint32_t w00 = (32768 - fy) - w10;
            const uint32_t w11 = (fy * fx) >> 15;
            const uint32_t w01 = fy - w11;
            for (int c = 0; c < 3; ++c)
                d[i * 3 + c] = static_cast<uchar>(
                    (w00 * s0[q0 * 3 + c] + w10 * s0[q1 * 3 + c] + w01 * s1[q0 * 3 + c] + w11 * s1[q1 * 3 + c]) >> 15);
        }
    }
}

void TileFill(QImage& dst, const QImage& tileIn)
{
    MakeBgr(dst);
    const QImage tile =
        tileIn.format() == QImage::Format_BGR888 ? tileIn : tileIn.convertToFormat(QImage::Format_BGR888);
    if (dst.isNull() || tile.isNull())
        return;
    const int tw = tile.width();
    const int th = tile.height();
    const TRows out(dst);
    for (int y = 0; y < dst.height(); ++y) {
        const uchar* t = tile.constScanLine(y % th);
        uchar* d = out(y);
        for (int x = 0; x < dst.width(); x += tw) {
            const int n = std::min(tw, dst.width() - x);
            std::copy(t, t + n * 3, d + x * 3);
        }
    }
}

} // namespace orimage
