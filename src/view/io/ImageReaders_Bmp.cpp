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
    // BITMAPINFOHEADER and its later extensions share the fields read above.
    const bool knownHeader = infoSize == 40 || infoSize == 52 || infoSize == 56 || infoSize == 108 || infoSize == 124;
    if (!knownHeader || bitCount != 24 || compression != 0 /* BI_RGB */)
        return false;

    notMine = false;
    const bool topDown = rawHeight < 0;
    if (planes != 1 || width <= 0 || rawHeight == 0 || rawHeight == INT_MIN) {
        failure.error = QStringLiteral("BMP: intestazione non valida");
        return false;
    }
    const std::int32_t height = topDown ? -rawHeight : rawHeight;
    if (!ImageSizeAllowed(width, height)) {
        failure.oversize = true;
        failure.error = OversizeMessage(width, height);
        return false;
    }
    // BMP rows are padded to 4 bytes exactly as BGR888 rows are in memory.
    const qsizetype stride = BgrStride(width);
    const std::uint64_t pixelBytes = std::uint64_t(stride) * std::uint64_t(height);
    if (pixelOffset < kFileHeader + infoSize || std::uint64_t(pixelOffset) + pixelBytes > std::uint64_t(st.st_size)) {
        failure.error = QStringLiteral("BMP: file troncato o dati dei pixel fuori dal file");
        return false;
    }

    QImage image = NewBgrImage(width, height);
    if (image.isNull() || image.bytesPerLine() != stride) {
        failure.error = QStringLiteral("Memoria insufficiente per un'immagine di %1 x %2 pixel").arg(width).arg(height);
        return false;
    }
    uchar* bits = image.bits();
    // Rows go from the page cache straight to their place, bottom-up files
    // included: one vector of row buffers per read, no second copy.
    constexpr int kRowsPerRead = 512;
    iovec vec[kRowsPerRead];
    off_t offset = off_t(pixelOffset);
    for (std::int32_t fileRow = 0; fileRow < height; fileRow += kRowsPerRead) {
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
