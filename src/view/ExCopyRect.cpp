#include "view/ExCopyRect.h"

#include "platform/ImageAlloc.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Weights are fixed point with 12 fraction bits; the weights of one
// destination pixel always add up to exactly kOne, so flat areas stay flat.
constexpr int kWeightBits = 12;
constexpr uint32_t kOne = 1u << kWeightBits;

int BytesPerPixel(QImage::Format f)
{
    switch (f) {
    case QImage::Format_BGR888:
    case QImage::Format_RGB888:
        return 3;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
        return 4;
    default:
        return 0;
    }
}

// Which source pixels make up each destination pixel along one axis.
struct Axis {
    std::vector<int32_t> first;  // first source index (absolute) per destination pixel
    std::vector<int32_t> count;  // number of source pixels
    std::vector<int32_t> offset; // start of its weights
    std::vector<uint16_t> weights;
    bool identity = false;
};

// Destination pixels [d0, d1) of a destination extent D (indices relative to
// its start) taken from the source extent [s0, s0 + S).
void BuildAxis(Axis& a, int64_t s0, int64_t S, int64_t D, int64_t d0, int64_t d1)
{
    const size_t n = static_cast<size_t>(d1 - d0);
    a.first.resize(n);
    a.count.resize(n);
    a.offset.resize(n);
    a.weights.clear();
    a.identity = (S == D);
    for (int64_t d = d0; d < d1; ++d) {
        const size_t i = static_cast<size_t>(d - d0);
        a.offset[i] = static_cast<int32_t>(a.weights.size());
        if (S > D) {
            // Area average. In units of 1/D source pixel the destination pixel
            // covers [d*S, (d+1)*S) and source pixel j covers [j*D, (j+1)*D).
            const int64_t lo = d * S;
            const int64_t hi = lo + S;
            const int64_t j0 = lo / D;
            const int64_t j1 = (hi + D - 1) / D;
            uint32_t sum = 0;
            size_t biggest = a.weights.size();
            uint32_t biggestW = 0;
            for (int64_t j = j0; j < j1; ++j) {
                const int64_t overlap = std::min((j + 1) * D, hi) - std::max(j * D, lo);
                const auto w = static_cast<uint32_t>(overlap * kOne / S);
                if (w > biggestW) {
                    biggestW = w;
                    biggest = a.weights.size();
                }
                a.weights.push_back(static_cast<uint16_t>(w));
                sum += w;
            }
            a.weights[biggest] = static_cast<uint16_t>(a.weights[biggest] + (kOne - sum));
            a.first[i] = static_cast<int32_t>(s0 + j0);
            a.count[i] = static_cast<int32_t>(j1 - j0);
        } else {
            // Bilinear at the destination pixel's centre: source position
            // ((2d + 1) * S - D) / (2D), measured between pixel centres.
            const int64_t num = (2 * d + 1) * S - D;
            const int64_t den = 2 * D;
            int64_t j = num >= 0 ? num / den : -((-num + den - 1) / den);
            const int64_t frac = num - j * den;
            auto w1 = static_cast<uint32_t>((frac * kOne + den / 2) / den);
            if (j < 0) {
                j = 0;
                w1 = 0;
            } else if (j >= S - 1) {
                j = S - 1;
                w1 = 0;
            }
            if (w1 == kOne) {
                ++j;
                w1 = 0;
            }
            a.first[i] = static_cast<int32_t>(s0 + j);
            if (w1 == 0) {
                a.count[i] = 1;
                a.weights.push_back(static_cast<uint16_t>(kOne));
            } else {
                a.count[i] = 2;
                a.weights.push_back(static_cast<uint16_t>(kOne - w1));
                a.weights.push_back(static_cast<uint16_t>(w1));
            }
        }
    }
}

// Horizontal pass over one row: `in` holds the row's values from source
// column `base` on; SHIFT removes the fixed point of the input and the weights.
template <int BPP, typename T, int SHIFT>
void HorizontalPass(const T* in, int32_t base, uint8_t* out, const Axis& h)
{
    const size_t n = h.first.size();
    const uint16_t* weights = h.weights.data();
    for (size_t i = 0; i < n; ++i) {
        const T* p = in + static_cast<size_t>(h.first[i] - base) * BPP;
        const uint16_t* w = weights + h.offset[i];
        const int32_t cnt = h.count[i];
        uint32_t s[BPP];
        for (int c = 0; c < BPP; ++c)
            s[c] = 1u << (SHIFT - 1);
        for (int32_t k = 0; k < cnt; ++k, p += BPP) {
            const uint32_t wk = w[k];
            for (int c = 0; c < BPP; ++c)
                s[c] += static_cast<uint32_t>(p[c]) * wk;
        }
        for (int c = 0; c < BPP; ++c)
            out[c] = static_cast<uint8_t>(s[c] >> SHIFT);
        out += BPP;
    }
}

template <int BPP>
void RunRows(uint8_t* dbase, qsizetype dstride, int32_t dx0, int32_t dy0, int32_t dy1, const uint8_t* sbase,
             qsizetype sstride, const Axis& h, const Axis& v)
{
    const int32_t sxMin = h.first.front();
    const int32_t sxMax = h.first.back() + h.count.back();
    const size_t n = static_cast<size_t>(sxMax - sxMin) * BPP;
    const size_t outBytes = h.first.size() * BPP;
    thread_local std::vector<uint32_t> accBuffer;
    if (accBuffer.size() < n)
        accBuffer.resize(n);
    uint32_t* acc = accBuffer.data();

    for (int32_t y = dy0; y < dy1; ++y) {
        const size_t iy = static_cast<size_t>(y - dy0);
        uint8_t* out = dbase + y * dstride + static_cast<qsizetype>(dx0) * BPP;
        const int32_t cnt = v.count[iy];
        const uint16_t* w = v.weights.data() + v.offset[iy];
        const uint8_t* row0 = sbase + v.first[iy] * sstride + static_cast<qsizetype>(sxMin) * BPP;
        if (cnt == 1) {
            if (h.identity)
                std::memcpy(out, row0, outBytes);
            else
                HorizontalPass<BPP, uint8_t, kWeightBits>(row0, sxMin, out, h);
            continue;
        }
        const uint32_t w0 = w[0];
        for (size_t i = 0; i < n; ++i)
            acc[i] = row0[i] * w0;
        for (int32_t k = 1; k < cnt; ++k) {
            const uint8_t* row = row0 + k * sstride;
            const uint32_t wk = w[k];
            for (size_t i = 0; i < n; ++i)
                acc[i] += row[i] * wk;
        }
        if (h.identity) {
            for (size_t i = 0; i < outBytes; ++i)
                out[i] = static_cast<uint8_t>((acc[i] + (kOne / 2)) >> kWeightBits);
        } else {
            HorizontalPass<BPP, uint32_t, 2 * kWeightBits>(acc, sxMin, out, h);
        }
    }
}

// Enlarging (or copying) along both axes: every destination pixel blends two
// source pixels per axis. Source rows are first interpolated horizontally
// once each (a row serves several destination rows), then each destination
// row blends the two rows around it.
template <int BPP>
void RunRowsEnlarge(uint8_t* dbase, qsizetype dstride, int32_t dx0, int32_t dy0, int32_t dy1, const uint8_t* sbase,
                    qsizetype sstride, const Axis& h, const Axis& v)
{
    const size_t nx = h.first.size();
    const size_t rowValues = nx * BPP;
    thread_local std::vector<int32_t> tapOffset;
    thread_local std::vector<uint32_t> tapWeight;
    thread_local std::vector<uint32_t> rowsBuffer;
    tapOffset.resize(nx);
    tapWeight.resize(nx);
    if (rowsBuffer.size() < 2 * rowValues)
        rowsBuffer.resize(2 * rowValues);
    // Two taps per pixel: the second weight is 0 where only one source pixel counts.
    const int32_t sxLast = h.first.back() + h.count.back() - 1;
    for (size_t i = 0; i < nx; ++i) {
        tapOffset[i] = h.first[i];
        tapWeight[i] = h.count[i] == 2 ? h.weights[static_cast<size_t>(h.offset[i]) + 1] : 0;
    }
    auto interpolate = [&](int32_t sy, uint32_t* out) {
        const uint8_t* row = sbase + sy * sstride;
        for (size_t i = 0; i < nx; ++i) {
            const uint8_t* p0 = row + static_cast<qsizetype>(tapOffset[i]) * BPP;
            const uint8_t* p1 = tapOffset[i] < sxLast ? p0 + BPP : p0;
            const uint32_t w1 = tapWeight[i];
            const uint32_t w0 = kOne - w1;
            for (int c = 0; c < BPP; ++c)
                out[c] = p0[c] * w0 + p1[c] * w1;
            out += BPP;
        }
    };
    uint32_t* upper = rowsBuffer.data();
    uint32_t* lower = upper + rowValues;
    int32_t upperRow = -1, lowerRow = -1;
    for (int32_t y = dy0; y < dy1; ++y) {
        const size_t iy = static_cast<size_t>(y - dy0);
        const int32_t sy = v.first[iy];
        const uint32_t wv = v.count[iy] == 2 ? v.weights[static_cast<size_t>(v.offset[iy]) + 1] : 0;
        const int32_t sy1 = wv != 0 ? sy + 1 : sy;
        if (upperRow != sy) {
            if (lowerRow == sy) {
                std::swap(upper, lower);
                std::swap(upperRow, lowerRow);
            } else {
                interpolate(sy, upper);
                upperRow = sy;
            }
        }
        uint8_t* out = dbase + y * dstride + static_cast<qsizetype>(dx0) * BPP;
        if (wv == 0) {
            for (size_t i = 0; i < rowValues; ++i)
                out[i] = static_cast<uint8_t>((upper[i] + (kOne / 2)) >> kWeightBits);
            continue;
        }
        if (lowerRow != sy1) {
            interpolate(sy1, lower);
            lowerRow = sy1;
        }
        const uint32_t wu = kOne - wv;
        for (size_t i = 0; i < rowValues; ++i)
            out[i] = static_cast<uint8_t>((upper[i] * wu + lower[i] * wv + (1u << 23)) >> 24);
    }
}

// Averages `blocks` consecutive blocks of `cols` pixels of a row of column
// sums; K > 0 fixes the block width at compile time, which lets the compiler
// unroll the common small reductions completely.
template <int BPP, typename Acc, int K>
void SumBlocks(const Acc* p, uint8_t* o, int blocks, int cols, uint64_t recip)
{
    const int n = K > 0 ? K : cols;
    for (int xr = 0; xr < blocks; ++xr) {
        uint32_t s[BPP] = {};
        for (int c = 0; c < n; ++c, p += BPP)
            for (int b = 0; b < BPP; ++b)
                s[b] += p[b];
        for (int b = 0; b < BPP; ++b)
            o[b] = static_cast<uint8_t>((s[b] * recip + (1ull << 31)) >> 32);
        o += BPP;
    }
}

template <int BPP, typename Acc>
void BoxReduceRows(const QImage& src, QImage& out, int k)
{
    const int W = src.width();
    const int H = src.height();
    const int Wr = out.width();
    const int Hr = out.height();
    const size_t n = static_cast<size_t>(W) * BPP;
    thread_local std::vector<Acc> accBuffer;
    if (accBuffer.size() < n)
        accBuffer.resize(n);
    Acc* acc = accBuffer.data();
    const qsizetype sstride = src.bytesPerLine();
    const uint8_t* sbase = src.constBits();
    for (int yr = 0; yr < Hr; ++yr) {
        const int y0 = yr * k;
        const int rows = std::min(k, H - y0);
        const uint8_t* row = sbase + y0 * sstride;
        // Up to four rows are summed per pass: several memory streams at once,
        // and fewer passes over the sums.
        for (int r = 0; r < rows;) {
            const uint8_t* a = row + r * sstride;
            const int take = std::min(4, rows - r);
            const bool first = r == 0;
            if (take == 4) {
                const uint8_t* b = a + sstride;
                const uint8_t* c = b + sstride;
                const uint8_t* d = c + sstride;
                for (size_t i = 0; i < n; ++i)
                    acc[i] = static_cast<Acc>((first ? 0 : acc[i]) + a[i] + b[i] + c[i] + d[i]);
            } else if (take == 3) {
                const uint8_t* b = a + sstride;
                const uint8_t* c = b + sstride;
                for (size_t i = 0; i < n; ++i)
                    acc[i] = static_cast<Acc>((first ? 0 : acc[i]) + a[i] + b[i] + c[i]);
            } else if (take == 2) {
                const uint8_t* b = a + sstride;
                for (size_t i = 0; i < n; ++i)
                    acc[i] = static_cast<Acc>((first ? 0 : acc[i]) + a[i] + b[i]);
            } else {
                for (size_t i = 0; i < n; ++i)
                    acc[i] = static_cast<Acc>((first ? 0 : acc[i]) + a[i]);
            }
            r += take;
        }
        // Full blocks first, then the last one, which may be narrower.
        const int lastCols = W - (Wr - 1) * k;
        const uint64_t fullCount = static_cast<uint64_t>(k) * rows;
        const uint64_t lastCount = static_cast<uint64_t>(lastCols) * rows;
        const uint64_t fullRecip = ((1ull << 32) + fullCount / 2) / fullCount;
        const uint64_t lastRecip = ((1ull << 32) + lastCount / 2) / lastCount;
        uint8_t* o = out.scanLine(yr);
        switch (k) {
        case 2: SumBlocks<BPP, Acc, 2>(acc, o, Wr - 1, 2, fullRecip); break;
        case 3: SumBlocks<BPP, Acc, 3>(acc, o, Wr - 1, 3, fullRecip); break;
        case 4: SumBlocks<BPP, Acc, 4>(acc, o, Wr - 1, 4, fullRecip); break;
        case 5: SumBlocks<BPP, Acc, 5>(acc, o, Wr - 1, 5, fullRecip); break;
        case 6: SumBlocks<BPP, Acc, 6>(acc, o, Wr - 1, 6, fullRecip); break;
        case 7: SumBlocks<BPP, Acc, 7>(acc, o, Wr - 1, 7, fullRecip); break;
        case 8: SumBlocks<BPP, Acc, 8>(acc, o, Wr - 1, 8, fullRecip); break;
        default: SumBlocks<BPP, Acc, 0>(acc, o, Wr - 1, k, fullRecip); break;
        }
        SumBlocks<BPP, Acc, 0>(acc + static_cast<size_t>(Wr - 1) * k * BPP, o + static_cast<size_t>(Wr - 1) * BPP, 1,
                               lastCols, lastRecip);
    }
}

} // namespace

bool ExCopyRect(QImage& dest, const TRect& destRect, const QImage& src, const TRect& srcRect)
{
    if (dest.isNull() || src.isNull())
        return false;
    const int bpp = BytesPerPixel(src.format());
    if (bpp == 0 || BytesPerPixel(dest.format()) != bpp)
        return false;
    if (srcRect.Left < 0 || srcRect.Top < 0 || srcRect.Right > src.width() || srcRect.Bottom > src.height() ||
        srcRect.Right <= srcRect.Left || srcRect.Bottom <= srcRect.Top)
        return false;
    if (destRect.Right <= destRect.Left || destRect.Bottom <= destRect.Top)
        return true;
    const int32_t dx0 = std::max(destRect.Left, 0);
    const int32_t dx1 = std::min(destRect.Right, dest.width());
    const int32_t dy0 = std::max(destRect.Top, 0);
    const int32_t dy1 = std::min(destRect.Bottom, dest.height());
    if (dx1 <= dx0 || dy1 <= dy0)
        return true;

    uint8_t* dbase = dest.bits();
    const uint8_t* sbase = src.constBits();
    if (dbase == sbase)
        return false;

    thread_local Axis h;
    thread_local Axis v;
    const int64_t dW = int64_t(destRect.Right) - destRect.Left;
    const int64_t dH = int64_t(destRect.Bottom) - destRect.Top;
    BuildAxis(h, srcRect.Left, int64_t(srcRect.Right) - srcRect.Left, dW, dx0 - int64_t(destRect.Left),
              dx1 - int64_t(destRect.Left));
    BuildAxis(v, srcRect.Top, int64_t(srcRect.Bottom) - srcRect.Top, dH, dy0 - int64_t(destRect.Top),
              dy1 - int64_t(destRect.Top));
    const bool enlarging = srcRect.Right - srcRect.Left <= dW && srcRect.Bottom - srcRect.Top <= dH;
    const bool copying = h.identity && v.identity;
    if (enlarging && !copying) {
        if (bpp == 3)
            RunRowsEnlarge<3>(dbase, dest.bytesPerLine(), dx0, dy0, dy1, sbase, src.bytesPerLine(), h, v);
        else
            RunRowsEnlarge<4>(dbase, dest.bytesPerLine(), dx0, dy0, dy1, sbase, src.bytesPerLine(), h, v);
    } else if (bpp == 3) {
        RunRows<3>(dbase, dest.bytesPerLine(), dx0, dy0, dy1, sbase, src.bytesPerLine(), h, v);
    } else {
        RunRows<4>(dbase, dest.bytesPerLine(), dx0, dy0, dy1, sbase, src.bytesPerLine(), h, v);
    }
    return true;
}

QImage BoxReduce(const QImage& src, int k)
{
    const int bpp = BytesPerPixel(src.format());
    if (src.isNull() || k < 1 || bpp == 0)
        return QImage();
    const int Wr = (src.width() + k - 1) / k;
    const int Hr = (src.height() + k - 1) / k;
    QImage out = src.format() == QImage::Format_BGR888 ? NewBgrImage(Wr, Hr) : QImage(Wr, Hr, src.format());
    if (out.isNull())
        return out;
    // 16-bit sums hold up to 257 rows of bytes.
    if (bpp == 3) {
        if (k <= 257)
            BoxReduceRows<3, uint16_t>(src, out, k);
        else
            BoxReduceRows<3, uint32_t>(src, out, k);
    } else {
        if (k <= 257)
            BoxReduceRows<4, uint16_t>(src, out, k);
        else
            BoxReduceRows<4, uint32_t>(src, out, k);
    }
    return out;
}

void FillRectBgr(QImage& img, const TRect& r, uint8_t blue, uint8_t green, uint8_t red)
{
    const int bpp = BytesPerPixel(img.format());
    if (img.isNull() || bpp == 0)
        return;
    const int32_t x0 = std::max(r.Left, 0);
    const int32_t x1 = std::min(r.Right, img.width());
    const int32_t y0 = std::max(r.Top, 0);
    const int32_t y1 = std::min(r.Bottom, img.height());
    if (x1 <= x0 || y1 <= y0)
        return;
    uint8_t px[4];
    if (bpp == 3) {
        const bool bgr = img.format() == QImage::Format_BGR888;
        px[0] = bgr ? blue : red;
        px[1] = green;
        px[2] = bgr ? red : blue;
    } else {
        const QRgb c = qRgb(red, green, blue);
        std::memcpy(px, &c, 4);
    }
    // Fill the first row pixel by pixel, then copy it to the other rows.
    uint8_t* first = img.scanLine(y0) + static_cast<qsizetype>(x0) * bpp;
    for (int32_t x = x0; x < x1; ++x)
        std::memcpy(first + static_cast<qsizetype>(x - x0) * bpp, px, static_cast<size_t>(bpp));
    const size_t bytes = static_cast<size_t>(x1 - x0) * bpp;
    for (int32_t y = y0 + 1; y < y1; ++y)
        std::memcpy(img.scanLine(y) + static_cast<qsizetype>(x0) * bpp, first, bytes);
}

void CopyInsideEllipse(QImage& dest, const QImage& src, const TRect& box)
{
    const int bpp = BytesPerPixel(dest.format());
    if (dest.isNull() || bpp == 0 || src.format() != dest.format() || src.size() != dest.size())
        return;
    const double rx = (double(box.Right) - box.Left) / 2.0;
    const double ry = (double(box.Bottom) - box.Top) / 2.0;
    if (rx <= 0 || ry <= 0)
        return;
    const double cx = box.Left + rx;
    const double cy = box.Top + ry;
    const int32_t y0 = std::max(box.Top, 0);
    const int32_t y1 = std::min(box.Bottom, dest.height());
    for (int32_t y = y0; y < y1; ++y) {
        const double t = (y + 0.5 - cy) / ry;
        if (t * t > 1.0)
            continue;
        const double half = rx * std::sqrt(1.0 - t * t);
        // Pixel x is inside when its centre x + 0.5 lies within [cx - half, cx + half].
        auto xa = static_cast<int32_t>(std::ceil(cx - half - 0.5));
        auto xb = static_cast<int32_t>(std::floor(cx + half - 0.5)) + 1;
        xa = std::max(xa, 0);
        xb = std::min(xb, dest.width());
        if (xb <= xa)
            continue;
        std::memcpy(dest.scanLine(y) + static_cast<qsizetype>(xa) * bpp,
                    src.constScanLine(y) + static_cast<qsizetype>(xa) * bpp, static_cast<size_t>(xb - xa) * bpp);
    }
}

uint8_t MaskChannel(uint8_t maskByte, uint8_t alpha, uint8_t background)
{
    const uint32_t v = maskByte + (static_cast<uint32_t>(background) * (255u - alpha) + 127u) / 255u;
    return static_cast<uint8_t>(std::min<uint32_t>(v, 255u));
}

QImage ComposeMask(const QImage& back, const TRect& selRect, const TRect& canvasRect, int32_t alpha)
{
    if (back.isNull())
        return QImage();
    const QImage bgr = back.format() == QImage::Format_BGR888 ? back : back.convertToFormat(QImage::Format_BGR888);
    const int W = bgr.width();
    const int H = bgr.height();
    QImage out(W, H, QImage::Format_RGB32);
    const auto a = static_cast<uint8_t>(alpha & 0xFF);
    const auto mb = static_cast<uint8_t>((alpha - 110) & 0xFF);
    const auto mg = static_cast<uint8_t>((alpha - 80) & 0xFF);
    const auto mr = static_cast<uint8_t>((alpha - 100) & 0xFF);
    uint8_t tb[256], tg[256], tr[256];
    for (int i = 0; i < 256; ++i) {
        tb[i] = MaskChannel(mb, a, static_cast<uint8_t>(i));
        tg[i] = MaskChannel(mg, a, static_cast<uint8_t>(i));
        tr[i] = MaskChannel(mr, a, static_cast<uint8_t>(i));
    }
    // Columns of the veil on a row: [c0, c1] of the picture minus the frame's columns.
    const int32_t c0 = std::max(canvasRect.Left, 0);
    const int32_t c1 = std::min(canvasRect.Right, W - 1);
    for (int y = 0; y < H; ++y) {
        const uint8_t* s = bgr.constScanLine(y);
        auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
        const bool rowOnPicture = y >= canvasRect.Top && y <= canvasRect.Bottom;
        const bool rowInSel = y >= selRect.Top && y <= selRect.Bottom;
        for (int x = 0; x < W; ++x, s += 3) {
            const bool veil = rowOnPicture && x >= c0 && x <= c1 &&
                              !(rowInSel && x >= selRect.Left && x <= selRect.Right);
            o[x] = veil ? qRgb(tr[s[2]], tg[s[1]], tb[s[0]]) : qRgb(s[2], s[1], s[0]);
        }
    }
    return out;
}
