#include "scan/TW_Pixels.h"

#include "scan/TW_Misc.h"

#include "platform/ImageAlloc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <utility>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr int kHeaderSize = 40;

// The memory of the last scanned picture, once nothing holds the picture any more.
struct TPictureMemory {
    void* Mem;
    size_t Size;
};
std::mutex g_spareMutex;
TPictureMemory g_sparePicture{nullptr, 0};

void ReturnPictureMemory(void* info)
{
    auto* m = static_cast<TPictureMemory*>(info);
    void* drop = m->Mem;
    {
        std::lock_guard<std::mutex> lock(g_spareMutex);
        std::swap(drop, g_sparePicture.Mem);
        g_sparePicture.Size = m->Size;
    }
    std::free(drop);
    delete m;
}

void SwapRedBluePlain(uint8_t* p, size_t pixels)
{
    for (size_t i = 0; i < pixels; ++i, p += 3) {
        const uint8_t r = p[0];
        p[0] = p[2];
        p[2] = r;
    }
}

#if defined(__x86_64__)
// The byte of a 48-byte group (16 pixels) that lands at `out` once red and blue change
// places: pixel out / 3, channel mirrored.
constexpr int SwappedSource(int out) { return out / 3 * 3 + 2 - out % 3; }

// pshufb masks taking output vector `v` of a group from input vector `u` (0x80: none).
struct TSwapMasks {
    alignas(16) uint8_t m[3][3][16];
    constexpr TSwapMasks() : m()
    {
        for (int v = 0; v < 3; ++v)
            for (int u = 0; u < 3; ++u)
                for (int j = 0; j < 16; ++j) {
                    const int from = SwappedSource(v * 16 + j);
                    m[v][u][j] = static_cast<uint8_t>(from / 16 == u ? from % 16 : 0x80);
                }
    }
};
constexpr TSwapMasks kSwapMasks;

// Sixteen pixels per round: the three vectors are all loaded before any is stored, so no
// load waits on a store it overlaps.
__attribute__((target("ssse3"))) void SwapRedBlueSsse3(uint8_t* p, size_t pixels)
{
    auto mask = [](int v, int u) { return _mm_load_si128(reinterpret_cast<const __m128i*>(kSwapMasks.m[v][u])); };
    const __m128i m00 = mask(0, 0), m01 = mask(0, 1);
    const __m128i m10 = mask(1, 0), m11 = mask(1, 1), m12 = mask(1, 2);
    const __m128i m21 = mask(2, 1), m22 = mask(2, 2);
    size_t i = 0;
    for (; i + 16 <= pixels; i += 16, p += 48) {
        auto* q = reinterpret_cast<__m128i*>(p);
        const __m128i a = _mm_loadu_si128(q);
        const __m128i b = _mm_loadu_si128(q + 1);
        const __m128i c = _mm_loadu_si128(q + 2);
        _mm_storeu_si128(q, _mm_or_si128(_mm_shuffle_epi8(a, m00), _mm_shuffle_epi8(b, m01)));
        _mm_storeu_si128(q + 1, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m10), _mm_shuffle_epi8(b, m11)),
                                             _mm_shuffle_epi8(c, m12)));
        _mm_storeu_si128(q + 2, _mm_or_si128(_mm_shuffle_epi8(b, m21), _mm_shuffle_epi8(c, m22)));
    }
    SwapRedBluePlain(p, pixels - i);
}
#endif

} // namespace

QImage NewScanPicture(int32_t width, int32_t height)
{
    constexpr size_t kHuge = size_t(2) << 20;
    const qsizetype stride = BgrStride(width);
    const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
    if (width <= 0 || height <= 0 || bytes < 2 * kHuge)
        return NewBgrImage(width, height);
    const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
    void* mem = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_spareMutex);
        if (g_sparePicture.Mem && g_sparePicture.Size == rounded) {
            mem = g_sparePicture.Mem;
            g_sparePicture.Mem = nullptr;
        }
    }
    if (!mem) {
        mem = std::aligned_alloc(kHuge, rounded);
        if (!mem)
            return QImage();
        madvise(mem, rounded, MADV_HUGEPAGE);
    }
    auto* info = new (std::nothrow) TPictureMemory{mem, rounded};
    if (!info) {
        std::free(mem);
        return QImage();
    }
    return QImage(static_cast<uchar*>(mem), width, height, stride, QImage::Format_BGR888, ReturnPictureMemory, info);
}

bool DibRowToBgr(int bits, const uint8_t* src, uint8_t* dst, int32_t width, const uint8_t (*lut)[3])
{
    switch (bits) {
    case 24:
        std::memcpy(dst, src, static_cast<size_t>(width) * 3);
        return true;
    case 32:
        for (int32_t x = 0; x < width; ++x, dst += 3)
            std::memcpy(dst, src + x * 4, 3);
        return true;
    case 8:
        for (int32_t x = 0; x < width; ++x, dst += 3)
            std::memcpy(dst, lut[src[x]], 3);
        return true;
    case 4:
        for (int32_t x = 0; x < width; ++x, dst += 3)
            std::memcpy(dst, lut[(src[x / 2] >> ((x & 1) ? 0 : 4)) & 0x0F], 3);
        return true;
    case 1:
        for (int32_t x = 0; x < width; ++x, dst += 3)
            std::memcpy(dst, lut[(src[x / 8] >> (7 - (x & 7))) & 1], 3);
        return true;
    default:
        return false;
    }
}

void SwapRedBlue(uint8_t* p, size_t pixels)
{
#if defined(__x86_64__)
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3) {
        SwapRedBlueSsse3(p, pixels);
        return;
    }
#endif
    SwapRedBluePlain(p, pixels);
}

TStripReceiver::TStripReceiver(QImage& picture, int64_t stride, int bits, bool rgb, const uint8_t* header,
                               uint32_t preferred)
    : picture_(picture), stride_(stride), bits_(bits), swap_(rgb && bits == 24), width_(picture.width()),
      height_(picture.height()), direct_(bits == 24 && stride == picture.bytesPerLine())
{
    const uint8_t* table = header + kHeaderSize;
    const int colors = DibNumColors(header);
    for (int i = 0; i < colors && i < 256; ++i) {
        lut_[i][0] = table[i * 4];
        lut_[i][1] = table[i * 4 + 1];
        lut_[i][2] = table[i * 4 + 2];
    }
    const int64_t rows = preferred > stride ? preferred / stride : 1;
    stripSize_ = static_cast<size_t>(rows * stride);
}

bool TStripReceiver::Next(TW_MEMORY& mem)
{
    const int64_t left = stride_ * height_ - received_;
    if (direct_ && left > 0) {
        mem.TheMem = picture_.bits() + received_;
        mem.Length = static_cast<TW_UINT32>(std::min<int64_t>(left, static_cast<int64_t>(stripSize_)));
        return true;
    }
    // A source that sends more rows than it announced is drained and ignored.
    if (scratch_.size() < stripSize_ + static_cast<size_t>(stride_)) {
        try {
            scratch_.resize(stripSize_ + static_cast<size_t>(stride_));
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    mem.TheMem = scratch_.data() + carry_;
    mem.Length = static_cast<TW_UINT32>(stripSize_);
    return true;
}

void TStripReceiver::Took(TW_UINT32 bytes, const TW_MEMORY& mem)
{
    const int64_t left = stride_ * height_ - received_;
    if (direct_ && left > 0) {
        const int64_t n = std::min<int64_t>(bytes, std::min<int64_t>(left, mem.Length));
        const int32_t done = static_cast<int32_t>(received_ / stride_);
        received_ += n;
        const int32_t now = static_cast<int32_t>(received_ / stride_);
        if (swap_)
            for (int32_t y = done; y < now; ++y)
                SwapRedBlue(picture_.scanLine(y), static_cast<size_t>(width_));
        return;
    }
    size_t have = carry_ + std::min<size_t>(bytes, mem.Length);
    const uint8_t* src = scratch_.data();
    while (have >= static_cast<size_t>(stride_)) {
        const int32_t y = static_cast<int32_t>(received_ / stride_);
        if (y < height_) {
            DibRowToBgr(bits_, src, picture_.scanLine(y), width_, lut_);
            if (swap_)
                SwapRedBlue(picture_.scanLine(y), static_cast<size_t>(width_));
            received_ += stride_;
        }
        src += stride_;
        have -= static_cast<size_t>(stride_);
    }
    if (have > 0 && src != scratch_.data())
        std::memmove(scratch_.data(), src, have);
    carry_ = have;
}

void TStripReceiver::FillRest()
{
    for (int32_t y = static_cast<int32_t>((received_ + stride_ - 1) / stride_); y < height_; ++y)
        std::memset(picture_.scanLine(y), 0xFF, static_cast<size_t>(picture_.bytesPerLine()));
    if (direct_ && received_ % stride_ != 0) {
        // A part row at the end: what came is kept, the rest of the row is white.
        const int32_t y = static_cast<int32_t>(received_ / stride_);
        const int64_t part = received_ % stride_;
        std::memset(picture_.scanLine(y) + part, 0xFF, static_cast<size_t>(stride_ - part));
        if (swap_)
            SwapRedBlue(picture_.scanLine(y), static_cast<size_t>(part / 3));
    }
}
