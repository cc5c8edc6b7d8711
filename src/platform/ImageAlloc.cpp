#include "platform/ImageAlloc.h"

#include <cstdlib>
#include <new>
#include <mutex>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace {
constexpr size_t kHugePage = 2u * 1024u * 1024u;
// Below this size huge pages bring nothing and would waste memory, and a fresh
// buffer is cheap enough.
constexpr size_t kHugeThreshold = 4u * 1024u * 1024u;
// The view's picture and its turned copy: two buffers cover going from one
// page to the next of the same size.
constexpr size_t kMaxSpares = 2;

struct TBlock
{
    void* mem;
    size_t bytes;
};

std::mutex gSpareMutex;
std::vector<TBlock> gSpares;

size_t SpareLimit()
{
    // An eighth of the memory: a machine that can hold only a few pages does not keep one idle.
    static const size_t limit = [] {
        const std::int64_t physical = PhysicalMemoryBytes();
        return physical > 0 ? size_t(physical / 8) : size_t(1) << 30;
    }();
    return limit;
}

size_t SpareBytesLocked()
{
    size_t total = 0;
    for (const TBlock& b : gSpares)
        total += b.bytes;
    return total;
}

// The last picture using the buffer is gone (on whichever thread dropped it).
void GiveBack(void* info)
{
    auto* block = static_cast<TBlock*>(info);
    {
        std::lock_guard<std::mutex> lock(gSpareMutex);
        if (gSpares.size() < kMaxSpares && SpareBytesLocked() + block->bytes <= SpareLimit()) {
            gSpares.push_back(*block);
            delete block;
            return;
        }
    }
    std::free(block->mem);
    delete block;
}

// A kept buffer of exactly `bytes`, or null. Buffers of other sizes are let go
// first: a fresh buffer is coming, and they would only add to the peak.
void* TakeSpare(size_t bytes)
{
    std::vector<TBlock> others;
    void* found = nullptr;
    {
        std::lock_guard<std::mutex> lock(gSpareMutex);
        for (size_t i = 0; i < gSpares.size(); ++i) {
            if (gSpares[i].bytes == bytes) {
                found = gSpares[i].mem;
                gSpares.erase(gSpares.begin() + std::ptrdiff_t(i));
                break;
            }
        }
        if (!found)
            others.swap(gSpares);
    }
    for (const TBlock& b : others)
        std::free(b.mem);
    return found;
}
} // namespace

QImage NewBgrImage(int width, int height)
{
    if (width <= 0 || height <= 0)
        return QImage();
    const qsizetype stride = BgrStride(width);
    const size_t bytes = static_cast<size_t>(stride) * static_cast<size_t>(height);
    if (bytes / static_cast<size_t>(height) != static_cast<size_t>(stride))
        return QImage();
    if (bytes < kHugeThreshold)
        return QImage(width, height, QImage::Format_BGR888);
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* mem = TakeSpare(rounded);
    if (!mem) {
        mem = std::aligned_alloc(kHugePage, rounded);
        if (!mem)
            return QImage();
        // Measured on a 600 dpi page (104 MB): first writes into 4 KB pages
        // take 200 to 300 ms, into huge pages usually 50 ms; now and then the
        // kernel compacts memory first (300 ms to over a second), still
        // rarely enough that huge pages win on average.
        madvise(mem, rounded, MADV_HUGEPAGE);
    }
    auto* block = new (std::nothrow) TBlock{mem, rounded};
    if (!block) {
        std::free(mem);
        return QImage();
    }
    return QImage(static_cast<uchar*>(mem), width, height, stride, QImage::Format_BGR888, GiveBack, block);
}

void EnsureBgrImage(QImage& img, int width, int height)
{
    if (!img.isNull() && img.width() == width && img.height() == height &&
        img.format() == QImage::Format_BGR888 && img.isDetached())
        return;
    img = NewBgrImage(width, height);
}

std::int64_t SpareImageBytes()
{
    std::lock_guard<std::mutex> lock(gSpareMutex);
    return std::int64_t(SpareBytesLocked());
}

void ReleaseSpareImageBuffers()
{
    std::vector<TBlock> all;
    {
        std::lock_guard<std::mutex> lock(gSpareMutex);
        all.swap(gSpares);
    }
    for (const TBlock& b : all)
        std::free(b.mem);
}

std::int64_t PhysicalMemoryBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return std::int64_t(pages) * pageSize;
}
