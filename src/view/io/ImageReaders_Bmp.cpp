// Our own reader for uncompressed 24-bit BMP files: every scan travels through
// such a file, and a plain read is several times faster than Qt's BMP plugin.
// Other BMP kinds go to QImageReader.

#include "platform/ImageAlloc.h"
#include "view/io/ImageReaders.h"
#include "view/io/ImageReaders_Formats.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace imageio {

namespace {

constexpr std::size_t kFileHeader = 14;

std::uint16_t Le16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

class Fd
{
public:
    explicit Fd(int fd) : FFd(fd) {}
    ~Fd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return FFd; }

private:
    int FFd;
};

// Reads exactly `total` bytes at `offset` into the buffers of `iov`, which it
// advances; short reads (signals, page-cache boundaries) are resumed.
bool ReadFully(int fd, off_t offset, iovec* iov, int count)
{
    while (count > 0) {
        const ssize_t n = ::preadv(fd, iov, count, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        offset += n;
        std::size_t left = std::size_t(n);
        while (count > 0 && left >= iov->iov_len) {
            left -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0) {
            iov->iov_base = static_cast<std::uint8_t*>(iov->iov_base) + left;
            iov->iov_len -= left;
        }
    }
    return true;
}

// Whether a BMP of another kind than ours has the bytes its header promises.
// Uncompressed rows must all be present; run-length data cannot be bounded
// exactly (escapes skip whole rows), so it gets a ratio no real scan nears:
// a white A4 page at 600 dpi in RLE8 takes about 80 bytes a row.
bool BmpDataCanFill(const std::uint8_t* head, std::uint32_t infoSize, std::uint64_t fileSize)
{
    std::uint64_t width = 0, height = 0, bits = 0, compression = 0;
    if (infoSize == 12) { // OS/2 core header: 16-bit sizes, never compressed
        width = Le16(head + 18);
        height = Le16(head + 20);
        bits = Le16(head + 24);
    } else if (infoSize >= 40) {
        const std::int32_t w = std::int32_t(Le32(head + 18));
        const std::int32_t h = std::int32_t(Le32(head + 22));
        if (w <= 0 || h == 0 || h == INT_MIN)
            return true; // malformed: Qt refuses it without allocating
        width = std::uint64_t(w);
        height = std::uint64_t(h < 0 ? -std::int64_t(h) : h);
        bits = Le16(head + 28);
        compression = Le32(head + 30);
    } else {
        return true;
    }
    const std::uint64_t pixelOffset = Le32(head + 10);
    constexpr std::uint64_t kRleMaxPixelsPerByte = 4096;
    switch (compression) {
    case 0: // BI_RGB
    case 3: // BI_BITFIELDS
    case 6: // BI_ALPHABITFIELDS
        if (bits == 0 || bits > 32)
            return true;
        return pixelOffset + (width * bits + 31) / 32 * 4 * height <= fileSize;
    case 1: // BI_RLE8
    case 2: // BI_RLE4
        return width * height <= fileSize * kRleMaxPixelsPerByte;
    default:
        return true; // JPEG or PNG inside: their decoders check their own data
    }
}

} // namespace

bool ReadBmp24File(const QString& fileName, QImage& out, TReadFailure& failure, bool& notMine)
{
    notMine = true;
    Fd fd(::open(LocalPath(fileName).constData(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return false; // Qt's reader will fail on it in its own way.
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;

    // File header, then the info header up to the compression field.
    std::uint8_t head[kFileHeader + 40];
    iovec headVec{head, sizeof head};
    if (st.st_size < off_t(sizeof head) || !ReadFully(fd.get(), 0, &headVec, 1))
        return false;
    if (head[0] != 'B' || head[1] != 'M')
        return false;
    const std::uint32_t pixelOffset = Le32(head + 10);
    const std::uint32_t infoSize = Le32(head + 14);
    const std::int32_t width = std::int32_t(Le32(head + 18));
    const std::int32_t rawHeight = std::int32_t(Le32(head + 22));
    const std::uint16_t planes = Le16(head + 26);
    const std::uint16_t bitCount = Le16(head + 28);
    const std::uint32_t compression = Le32(head + 30);
    auto truncated = [&] {
        notMine = false;
        failure.error = QStringLiteral("BMP: file troncato o dati dei pixel fuori dal file");
        return false;
    };
    // BITMAPINFOHEADER and its later extensions share the fields read above.
    const bool knownHeader = infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 || infoSize == 124;
    if (!knownHeader || bitCount != 24 || compression != 0 /* BI_RGB */) {
        // Qt's plugin takes the header's size at its word and allocates it
        // before reading a pixel: a 64-byte file could cost hundreds of MB
        // once widened to 24 bits. Refuse what the file cannot hold.
        if (!BmpDataCanFill(head, infoSize, std::uint64_t(st.st_size)))
            return truncated();
        return false;
    }

    const bool topDown = rawHeight < 0;
    notMine = false;
    if (planes != 1 || width <= 0 || rawHeight == 0 || rawHeight == INT_MIN) {
        failure.error = QStringLiteral("BMP: intestazione non valida");
        return false;
    }
    const std::int32_t height = topDown ? -rawHeight : rawHeight;
    if (!ImageSizeAllowed(width, height)) {
        return failure.FailSize(TReadFault::Oversize, width, height);
    }
    // BMP rows are padded to 4 bytes exactly as BGR888 rows are in memory.
    const qsizetype stride = BgrStride(width);
    const std::uint64_t pixelBytes = std::uint64_t(stride) * std::uint64_t(height);
    if (pixelOffset < kFileHeader + infoSize || std::uint64_t(pixelOffset) + pixelBytes > std::uint64_t(st.st_size))
        return truncated();

    QImage image = NewBgrImage(width, height);
    if (image.isNull() || image.bytesPerLine() != stride)
        return failure.FailSize(TReadFault::OutOfMemory, width, height);
    uchar* bits = image.bits();
    // Rows go from the page cache straight to their place, bottom-up files
    // included: one vector of row buffers per read, no second copy.
    constexpr int kRowsPerRead = 512;
    iovec vec[kRowsPerRead];
    off_t offset = off_t(pixelOffset);
    for (std::int32_t fileRow = 0; fileRow < height; fileRow += kRowsPerRead) {
        if (failure.Cancelled())
            return failure.Fail(TReadFault::Cancelled);
        const int rows = int(std::min<std::int32_t>(kRowsPerRead, height - fileRow));
        for (int i = 0; i < rows; ++i) {
            const std::int32_t y = topDown ? fileRow + i : height - 1 - (fileRow + i);
            vec[i].iov_base = bits + qsizetype(y) * stride;
            vec[i].iov_len = std::size_t(stride);
        }
        if (!ReadFully(fd.get(), offset, vec, rows)) {
            failure.error = QStringLiteral("BMP: errore di lettura");
            return false;
        }
        offset += off_t(stride) * rows;
    }
    out = std::move(image);
    return true;
}

} // namespace imageio
