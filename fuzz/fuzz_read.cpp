// One picture reader per build: the input is written to a file with that
// reader's extension and loaded with LoadImagefromFile (PNG chunks get their
// checksums made right first). The Qt build takes the extension from the
// first byte (formats without a reader of our own, and BMP files of the
// kinds our BMP reader hands on), the file is the rest.
//
// Properties checked besides memory safety: a load reported as read gives a
// BGR888 picture within the size limit; a failed one gives the 300 x 300
// placeholder; the only exception a reader may throw is EImageReadError.

#include "FuzzSupport.h"

#include "view/io/ImageReaders.h"

#include <QCoreApplication>
#include <QImageReader>

#include <zlib.h>

namespace {

#if defined(FUZZ_READER_jpeg)
const char* Extension(const uint8_t*&, size_t&) { return "jpg"; }
#elif defined(FUZZ_READER_png)
const char* Extension(const uint8_t*&, size_t&) { return "png"; }
#define FUZZ_FIX_PNG_CRCS 1
#elif defined(FUZZ_READER_tiff)
const char* Extension(const uint8_t*&, size_t&) { return "tif"; }
#elif defined(FUZZ_READER_gif)
const char* Extension(const uint8_t*&, size_t&) { return "gif"; }
#elif defined(FUZZ_READER_bmp)
const char* Extension(const uint8_t*&, size_t&) { return "bmp"; }
#elif defined(FUZZ_READER_qt)
const char* Extension(const uint8_t*& data, size_t& size)
{
    static const char* const kinds[] = {"bmp", "ppm", "pgm", "pbm", "xpm", "xbm", "ico", "cur", "svg", "emf"};
    const uint8_t first = size ? data[0] : 0;
    if (size) {
        ++data;
        --size;
    }
    return kinds[first % (sizeof kinds / sizeof kinds[0])];
}
#else
#error "FUZZ_READER_<kind> is not set"
#endif

// Reads both ends of every row, so a picture whose rows reach past the
// memory it owns shows up under the address sanitizer.
unsigned TouchRows(const QImage& img)
{
    unsigned sum = 0;
    const int last = img.width() * 3 - 1;
    for (int y = 0; y < img.height(); ++y) {
        const uchar* row = img.constScanLine(y);
        sum += row[0] + row[last];
    }
    return sum;
}

#ifdef FUZZ_FIX_PNG_CRCS
// libpng refuses a chunk whose checksum is wrong, so nearly every mutation
// would end there. The checksums are made right before the file is written,
// which lets the mutations reach the reader's own handling of the contents.
std::vector<uint8_t> WithPngCrcs(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> b(data, data + size);
    size_t pos = 8;
    while (pos + 12 <= b.size()) {
        const uint32_t len = uint32_t(b[pos]) << 24 | uint32_t(b[pos + 1]) << 16 | uint32_t(b[pos + 2]) << 8 | b[pos + 3];
        if (len > b.size() - pos - 12)
            break;
        const uLong crc = crc32(0, b.data() + pos + 4, uInt(len + 4));
        for (int i = 0; i < 4; ++i)
            b[pos + 8 + len + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
        pos += 12 + len;
    }
    return b;
}
#endif

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Qt's image plugins are found through the application; a core one keeps
    // the placeholder text-free and the run fast.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* ext = Extension(data, size);
    const std::string path = fuzz::ScratchDir() + "/input." + ext;
#ifdef FUZZ_FIX_PNG_CRCS
    const std::vector<uint8_t> fixed = WithPngCrcs(data, size);
    FUZZ_CHECK(fuzz::WriteWhole(path, fixed.data(), fixed.size()));
#else
    FUZZ_CHECK(fuzz::WriteWhole(path, data, size));
#endif

    const QString file = QString::fromStdString(path);
    // Pictures within the size limit but above 16 megapixels take the same
    // paths as small ones, only seconds longer under the sanitizer: skipped
    // where Qt can tell the size from the header. Larger ones still go in,
    // since refusing them is a path of its own.
    const QSize declared = QImageReader(file).size();
    if (declared.isValid() && ImageSizeAllowed(declared.width(), declared.height()) &&
        qint64(declared.width()) * declared.height() > (qint64(16) << 20))
        return 0;

    QImage bitmap;
    QString message;
    bool ok = false;
    try {
        ok = LoadImagefromFile(file, bitmap, &message);
    } catch (const EImageReadError& e) {
        FUZZ_CHECK(!e.Message().isEmpty());
        FUZZ_CHECK(bitmap.isNull());
        return 0;
    }
    FUZZ_CHECK(bitmap.format() == QImage::Format_BGR888);
    if (ok) {
        FUZZ_CHECK(!bitmap.isNull() && ImageSizeAllowed(bitmap.width(), bitmap.height()));
        volatile unsigned sink = TouchRows(bitmap);
        (void)sink;
    } else {
        FUZZ_CHECK(bitmap.width() == 300 && bitmap.height() == 300);
    }
    return 0;
}
