#include "platform/ImageAlloc.h"

#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {
constexpr size_t kHugePage = 2u * 1024u * 1024u;
// Below this size huge pages bring nothing and would waste memory.
constexpr size_t kHugeThreshold = 4u * 1024u * 1024u;

void freeBuffer(void* p) { std::free(p); }
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
    void* mem = std::aligned_alloc(kHugePage, rounded);
    if (!mem)
        return QImage();
    madvise(mem, rounded, MADV_HUGEPAGE);
    return QImage(static_cast<uchar*>(mem), width, height, stride, QImage::Format_BGR888, freeBuffer, mem);
}

void EnsureBgrImage(QImage& img, int width, int height)
{
    if (!img.isNull() && img.width() == width && img.height() == height &&
        img.format() == QImage::Format_BGR888 && img.isDetached())
        return;
    img = NewBgrImage(width, height);
}

std::int64_t PhysicalMemoryBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return std::int64_t(pages) * pageSize;
}
