#include "app/U_Cropping_Pixels.h"

#include "platform/ImageAlloc.h"
#include "platform/Rounding.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Geometry: a pixel (i, j) covers the unit square [i, i+1) x [j, j+1), and the
// picture turns about the middle of its rectangle. Every target pixel centre is
// mapped back into the source; when it lands inside the source rectangle the pixel
// is a bilinear blend of the four nearest source pixel centres (edge pixels
// repeated at the border), otherwise it gets the background.
//
// Source positions are 32.32 fixed point in 64-bit integers. A target pixel's
// position is start + x * step with exact integer arithmetic, so the covered span
// of a row can be solved exactly instead of testing every pixel, and steps of
// whole degrees that are multiples of 90 land exactly on source pixels.

namespace {

constexpr int kFracBits = 32;
constexpr int64_t kOne = int64_t(1) << kFracBits;
constexpr int64_t kHalf = kOne / 2;

int64_t ToFixed(double v) { return static_cast<int64_t>(std::llround(std::ldexp(v, kFracBits))); }

int64_t FloorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

// Narrows [lo, hi] to the x for which lower <= start + x * step < upper.
void Constrain(int64_t start, int64_t step, int64_t lower, int64_t upper, int64_t& lo, int64_t& hi)
{
    if (step == 0) {
        if (start < lower || start >= upper)
            hi = lo - 1;
        return;
    }
    int64_t a;
    int64_t b;
    if (step > 0) {
        a = CeilDiv(lower - start, step);
        b = FloorDiv(upper - 1 - start, step);
    } else {
        a = CeilDiv(upper - 1 - start, step);
        b = FloorDiv(lower - start, step);
    }
    lo = std::max(lo, a);
    hi = std::min(hi, b);
}

struct RotateJob {
    const uchar* src = nullptr;
    qsizetype srcStride = 0;
    int sw = 0;
    int sh = 0;
    uchar* dst = nullptr;
    qsizetype dstStride = 0;
    int dw = 0;
    int dh = 0;
    // Source position of target pixel (0, y) is (x0 + y * xPerRow, y0 + y * yPerRow);
    // one step right adds (xPerCol, yPerCol).
    int64_t x0 = 0;
    int64_t y0 = 0;
    int64_t xPerCol = 0;
    int64_t yPerCol = 0;
    int64_t xPerRow = 0;
    int64_t yPerRow = 0;
    uchar bk[3] = {0, 0, 0};
    // Looked at between bands of rows: once set, the rest is left undone.
    const std::atomic<bool>* cancel = nullptr;
};

constexpr int kCancelBand = 32;

// Bilinear blend with 8-bit fractions. The horizontal blends are halved so that
// the vertical one fits 16-bit lanes; at whole-pixel positions the result is the
// source byte exactly. The vector path below computes the very same numbers.
inline void Blend(const uchar* p00, const uchar* p01, const uchar* p10, const uchar* p11, int fx, int fy,
                  uchar* out)
{
    for (int k = 0; k < 3; ++k) {
        const int top = (p00[k] * (256 - fx) + p01[k] * fx) >> 1;
        const int bottom = (p10[k] * (256 - fx) + p11[k] * fx) >> 1;
        out[k] = static_cast<uchar>((top * (256 - fy) + bottom * fy + 16384) >> 15);
    }
}

#if defined(__SSE2__)
// Blend computed for two pixels at once, A from the four pixels at pA, pA + 3,
// pA + stride, pA + stride + 3 and B likewise from pB. Each source row is read
// eight bytes wide. The result holds A's blue, green, red in bytes 0 to 2 and
// B's in bytes 3 to 5.
inline uint64_t BlendPairVector(const uchar* pA, const uchar* pB, qsizetype stride, int fxA, int fyA, int fxB,
                                int fyB)
{
    const __m128i zero = _mm_setzero_si128();
    // Left and right neighbours of A in the low half, of B in the high half.
    // Built from 32-bit moves: a 16-bit broadcast from a variable makes the
    // compiler store 16 bits and reload 32, which stalls on every pixel pair.
    const __m128i w0 = _mm_shuffle_epi32(_mm_unpacklo_epi32(_mm_cvtsi32_si128((256 - fxA) * 0x10001),
                                                            _mm_cvtsi32_si128((256 - fxB) * 0x10001)),
                                         0x50);
    const __m128i w1 = _mm_sub_epi16(_mm_set1_epi16(256), w0);
    auto horizontal = [&](const uchar* a, const uchar* b) {
        const __m128i ra = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)), zero);
        const __m128i rb = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)), zero);
        const __m128i left = _mm_unpacklo_epi64(ra, rb);
        const __m128i right = _mm_unpacklo_epi64(_mm_srli_si128(ra, 6), _mm_srli_si128(rb, 6));
        // At most 255 * 256, so the sixteen-bit sum cannot wrap.
        return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(left, w0), _mm_mullo_epi16(right, w1)), 1);
    };
    const __m128i top = horizontal(pA, pB);
    const __m128i bottom = horizontal(pA + stride, pB + stride);
    const __m128i round = _mm_set1_epi32(16384);
    const __m128i a = _mm_srai_epi32(
        _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(top, bottom), _mm_set1_epi32((fyA << 16) | (256 - fyA))),
                      round),
        15);
    const __m128i b = _mm_srai_epi32(
        _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(top, bottom), _mm_set1_epi32((fyB << 16) | (256 - fyB))),
                      round),
        15);
    uint64_t v;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&v), _mm_packus_epi16(_mm_packs_epi32(a, b), zero));
    return (v & 0xFFFFFFu) | ((v >> 8) & 0xFFFFFF000000u);
}
#endif

void FillBackground(uchar* out, int count, const uchar* bk)
{
    for (int i = 0; i < count; ++i, out += 3) {
        out[0] = bk[0];
        out[1] = bk[1];
        out[2] = bk[2];
    }
}

// Pixels near the source border: neighbour indices are clamped into the picture.
void EdgeSpan(const RotateJob& j, int64_t sx, int64_t sy, int from, int to, uchar* out)
{
    sx += from * j.xPerCol;
    sy += from * j.yPerCol;
    out += from * 3;
    for (int x = from; x < to; ++x, out += 3, sx += j.xPerCol, sy += j.yPerCol) {
        const int ix = static_cast<int>(sx >> kFracBits);
        const int iy = static_cast<int>(sy >> kFracBits);
        const int fx = static_cast<int>((sx >> (kFracBits - 8)) & 0xFF);
        const int fy = static_cast<int>((sy >> (kFracBits - 8)) & 0xFF);
        const int cx0 = std::clamp(ix, 0, j.sw - 1) * 3;
        const int cx1 = std::clamp(ix + 1, 0, j.sw - 1) * 3;
        const uchar* r0 = j.src + std::clamp(iy, 0, j.sh - 1) * j.srcStride;
        const uchar* r1 = j.src + std::clamp(iy + 1, 0, j.sh - 1) * j.srcStride;
        Blend(r0 + cx0, r0 + cx1, r1 + cx0, r1 + cx1, fx, fy, out);
    }
}

// Pixels whose four neighbours all lie inside the source and whose right
// neighbour is followed by at least two more bytes of the row, so that eight
// bytes can be read from each of the two source rows.
void InnerSpan(const RotateJob& j, int64_t sx, int64_t sy, int from, int to, uchar* out)
{
    if (from >= to)
        return;
    sx += from * j.xPerCol;
    sy += from * j.yPerCol;
    out += from * 3;
    const qsizetype stride = j.srcStride;
#if defined(__SSE2__)
    // Pairs of pixels are stored with eight bytes, the last two being overwritten
    // by the next pixel; at the end of the span nothing past it is touched, since
    // the row's neighbour may belong to another thread.
    const int64_t xStep2 = 2 * j.xPerCol;
    const int64_t yStep2 = 2 * j.yPerCol;
    int x = from;
    for (; x + 1 < to; x += 2, out += 6, sx += xStep2, sy += yStep2) {
        const int64_t sxB = sx + j.xPerCol;
        const int64_t syB = sy + j.yPerCol;
        const uchar* pA = j.src + static_cast<int>(sy >> kFracBits) * stride + static_cast<int>(sx >> kFracBits) * 3;
        const uchar* pB =
            j.src + static_cast<int>(syB >> kFracBits) * stride + static_cast<int>(sxB >> kFracBits) * 3;
        const uint64_t words = BlendPairVector(pA, pB, stride, static_cast<int>((sx >> (kFracBits - 8)) & 0xFF),
                                               static_cast<int>((sy >> (kFracBits - 8)) & 0xFF),
                                               static_cast<int>((sxB >> (kFracBits - 8)) & 0xFF),
                                               static_cast<int>((syB >> (kFracBits - 8)) & 0xFF));
        if (x + 2 < to)
            std::memcpy(out, &words, 8);
        else
            std::memcpy(out, &words, 6);
    }
    if (x < to) {
        const uchar* p = j.src + static_cast<int>(sy >> kFracBits) * stride + static_cast<int>(sx >> kFracBits) * 3;
        Blend(p, p + 3, p + stride, p + stride + 3, static_cast<int>((sx >> (kFracBits - 8)) & 0xFF),
              static_cast<int>((sy >> (kFracBits - 8)) & 0xFF), out);
    }
#else
    for (int x = from; x < to; ++x, out += 3, sx += j.xPerCol, sy += j.yPerCol) {
        const int ix = static_cast<int>(sx >> kFracBits);
        const int iy = static_cast<int>(sy >> kFracBits);
        const int fx = static_cast<int>((sx >> (kFracBits - 8)) & 0xFF);
        const int fy = static_cast<int>((sy >> (kFracBits - 8)) & 0xFF);
        const uchar* p = j.src + iy * stride + ix * 3;
        Blend(p, p + 3, p + stride, p + stride + 3, fx, fy, out);
    }
#endif
}

void RotateRows(const RotateJob& j, int rowFrom, int rowTo)
{
    // Covered: the mapped point lies in [0, W) x [0, H), i.e. the sample position
    // (pixel-centre units) lies in [-0.5, W - 0.5) x [-0.5, H - 0.5).
    const int64_t covLoX = -kHalf;
    const int64_t covHiX = static_cast<int64_t>(j.sw) * kOne - kHalf;
    const int64_t covLoY = -kHalf;
    const int64_t covHiY = static_cast<int64_t>(j.sh) * kOne - kHalf;
    // Inner: 0 <= position, the lower neighbour is still a source row, and two
    // pixels to the right remain (the vector path reads eight bytes).
    const int64_t inHiX = static_cast<int64_t>(j.sw - 2) * kOne;
    const int64_t inHiY = static_cast<int64_t>(j.sh - 1) * kOne;

    for (int y = rowFrom; y < rowTo; ++y) {
        if (j.cancel && (y - rowFrom) % kCancelBand == 0 && j.cancel->load(std::memory_order_relaxed))
            return;
        const int64_t sx = j.x0 + y * j.xPerRow;
        const int64_t sy = j.y0 + y * j.yPerRow;
        uchar* out = j.dst + y * j.dstStride;

        int64_t a = 0;
        int64_t b = j.dw - 1;
        Constrain(sx, j.xPerCol, covLoX, covHiX, a, b);
        Constrain(sy, j.yPerCol, covLoY, covHiY, a, b);
        if (a > b) {
            FillBackground(out, j.dw, j.bk);
            continue;
        }
        int64_t c = a;
        int64_t d = b;
        Constrain(sx, j.xPerCol, 0, inHiX, c, d);
        Constrain(sy, j.yPerCol, 0, inHiY, c, d);

        const int ia = static_cast<int>(a);
        const int ib = static_cast<int>(b) + 1;
        FillBackground(out, ia, j.bk);
        if (c > d) {
            EdgeSpan(j, sx, sy, ia, ib, out);
        } else {
            const int ic = static_cast<int>(c);
            const int id = static_cast<int>(d) + 1;
            EdgeSpan(j, sx, sy, ia, ic, out);
            InnerSpan(j, sx, sy, ic, id, out);
            EdgeSpan(j, sx, sy, id, ib, out);
        }
        FillBackground(out + ib * 3, j.dw - ib, j.bk);
    }
}

// cos and sin of a whole number of degrees; the quarter turns exactly.
void DegreesCosSin(int32_t degs, double& c, double& s)
{
    const int32_t m = ((degs % 360) + 360) % 360;
    switch (m) {
    case 0: c = 1; s = 0; return;
    case 90: c = 0; s = 1; return;
    case 180: c = -1; s = 0; return;
    case 270: c = 0; s = -1; return;
    default: break;
    }
    const double r = m * (M_PI / 180.0);
    c = std::cos(r);
    s = std::sin(r);
}

void RunSplit(const RotateJob& job, int threads)
{
    const int rows = job.dh;
    // A thread is not worth starting for a few rows.
    const int useful = std::max(1, rows / 64);
    const int hw = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int n = std::clamp(std::min(threads, useful), 1, std::max(1, hw));
    if (n == 1) {
        RotateRows(job, 0, rows);
        return;
    }
    std::vector<std::thread> workers;
    workers.reserve(static_cast<size_t>(n - 1));
    for (int t = 1; t < n; ++t) {
        const int from = static_cast<int>(static_cast<int64_t>(rows) * t / n);
        const int to = static_cast<int>(static_cast<int64_t>(rows) * (t + 1) / n);
        try {
            workers.emplace_back([&job, from, to] { RotateRows(job, from, to); });
        } catch (const std::system_error&) {
            // No thread to be had: the rows are done here instead.
            RotateRows(job, from, to);
        }
    }
    RotateRows(job, 0, static_cast<int>(static_cast<int64_t>(rows) / n));
    for (auto& w : workers)
        w.join();
}

} // namespace

QSize RotatedBoundingSize(int width, int height, int32_t Degs)
{
    const float r = static_cast<float>(Degs) * static_cast<float>(M_PI) / 180.0f;
    const float c = std::fabs(std::cos(r));
    const float s = std::fabs(std::sin(r));
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    return QSize(static_cast<int>(Round(w * c + h * s)), static_cast<int>(Round(w * s + h * c)));
}

namespace {

// The rotation of src (BGR888) to a target of size full, computing only the
// part `part` of that target into dst (of part's size). Every pixel's source
// position is an exact integer sum, so a part equals the same pixels of the whole.
bool RotatePart(const QImage& src, QImage& dst, int32_t Degs, QSize full, const QRect& part, TColor BkColor,
                int threads, const std::atomic<bool>* cancel)
{
    const int sw = src.width();
    const int sh = src.height();
    double cs;
    double sn;
    DegreesCosSin(Degs, cs, sn);
    if (cs == 1.0 && full == src.size()) {
        const size_t rowBytes = static_cast<size_t>(part.width()) * 3;
        for (int y = 0; y < part.height(); ++y)
            std::memcpy(dst.scanLine(y), src.constScanLine(part.top() + y) + part.left() * 3, rowBytes);
        return true;
    }

    RotateJob job;
    job.src = src.constBits();
    job.srcStride = src.bytesPerLine();
    job.sw = sw;
    job.sh = sh;
    job.dst = dst.bits();
    job.dstStride = dst.bytesPerLine();
    job.dw = part.width();
    job.dh = part.height();
    job.bk[0] = GetBValue(BkColor);
    job.bk[1] = GetGValue(BkColor);
    job.bk[2] = GetRValue(BkColor);
    job.cancel = cancel;

    // Inverse of a clockwise turn (y pointing down) about the centres:
    //   p = cS + [cos sin; -sin cos] (q - cD), sample position = p - 0.5.
    const double cxS = sw * 0.5;
    const double cyS = sh * 0.5;
    const double cxD = full.width() * 0.5;
    const double cyD = full.height() * 0.5;
    const double qx = 0.5 - cxD;
    const double qy = 0.5 - cyD;
    job.xPerCol = ToFixed(cs);
    job.yPerCol = ToFixed(-sn);
    job.xPerRow = ToFixed(sn);
    job.yPerRow = ToFixed(cs);
    job.x0 = ToFixed(cxS - 0.5 + cs * qx + sn * qy) + part.left() * job.xPerCol + part.top() * job.xPerRow;
    job.y0 = ToFixed(cyS - 0.5 - sn * qx + cs * qy) + part.left() * job.yPerCol + part.top() * job.yPerRow;
    RunSplit(job, threads);
    return !(cancel && cancel->load());
}

} // namespace

bool RotateBitmapInto(const QImage& Src, QImage& Dst, int32_t Degs, bool AdjustSize, TColor BkColor, int threads,
                      const std::atomic<bool>* cancel)
{
    if (&Src == &Dst) {
        RotateBitmapGDIP(Dst, Degs, AdjustSize, BkColor, threads);
        return true;
    }
    if (Src.isNull()) {
        Dst = QImage();
        return true;
    }
    const QImage src = Src.format() == QImage::Format_BGR888 ? Src : Src.convertToFormat(QImage::Format_BGR888);
    const QSize size = AdjustSize ? RotatedBoundingSize(src.width(), src.height(), Degs) : src.size();
    EnsureBgrImage(Dst, std::max(1, size.width()), std::max(1, size.height()));
    if (Dst.isNull())
        return false;
    return RotatePart(src, Dst, Degs, Dst.size(), Dst.rect(), BkColor, threads, cancel);
}

void RotateBitmapPart(const QImage& Src, QImage& Dst, int32_t Degs, const QRect& Part, TColor BkColor, int threads)
{
    const QRect part = Part.intersected(QRect(QPoint(0, 0), Src.size()));
    if (Src.isNull() || part.isEmpty()) {
        Dst = QImage();
        return;
    }
    const QImage src = Src.format() == QImage::Format_BGR888 ? Src : Src.convertToFormat(QImage::Format_BGR888);
    EnsureBgrImage(Dst, part.width(), part.height());
    if (!Dst.isNull())
        RotatePart(src, Dst, Degs, src.size(), part, BkColor, threads, nullptr);
}

void RotateBitmapGDIP(QImage& Bmp, int32_t Degs, bool AdjustSize, TColor BkColor, int threads)
{
    // The copy shares Bmp's pixels, so Bmp is given a fresh buffer and the rotation
    // reads the untouched original.
    const QImage original = Bmp;
    RotateBitmapInto(original, Bmp, Degs, AdjustSize, BkColor, threads);
}
