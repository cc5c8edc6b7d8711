// The reference the whole-program benchmark times the program against: the
// least a viewer built straight from the same libraries does for each step.
//
//   bench_minimal_viewer --bare                     an empty Qt window (start-up)
//   bench_minimal_viewer --open FILE --save-to OUT  the same window; then keys:
//     Return     decode FILE (TurboJPEG, libpng, libtiff, or a plain BMP read)
//                into a Qt image and show it smooth-scaled to the view
//     1          show the page one to one around its middle
//     Page Down  turn the page one more degree (OpenCV warpAffine, two
//                threads, bilinear, into a page buffer kept for the next step)
//     s          cut the middle 33 x 40 mm, scale it to 260 x 315, encode it
//                at quality 100, 95, ... until it fits 34990 bytes, write it
//                to OUT through a temporary name and rename it into place
//
// The window has the program's first-start size and its view the same place,
// so both show the same number of pixels. Pages are held as 32-bit RGBX,
// the format Qt's smooth scaling works on without a conversion.

// OpenCV first: libtiff marks its own int64 typedefs deprecated, which
// OpenCV's headers would then warn about at every use.
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QWidget>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kViewX = 3, kViewY = 0, kViewW = 599, kViewH = 671;

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::vector<uint8_t> bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0)
            ::close(fd);
        return bytes;
    }
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

QImage DecodeJpeg(const std::string& path)
{
    const std::vector<uint8_t> bytes = ReadAll(path);
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, cs = 0;
    QImage img;
    if (tj && tjDecompressHeader3(tj, bytes.data(), bytes.size(), &w, &h, &sub, &cs) == 0) {
        img = QImage(w, h, QImage::Format_RGBX8888);
        if (tjDecompress2(tj, bytes.data(), bytes.size(), img.bits(), w, static_cast<int>(img.bytesPerLine()), h,
                          TJPF_RGBX, 0) != 0)
            img = QImage();
    }
    if (tj)
        tjDestroy(tj);
    return img;
}

QImage DecodePng(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return QImage();
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    QImage img;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return QImage();
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    img = QImage(static_cast<int>(png_get_image_width(png, info)), static_cast<int>(png_get_image_height(png, info)),
                 QImage::Format_RGBX8888);
    for (int y = 0; y < img.height(); ++y)
        png_read_row(png, img.scanLine(y), nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return img;
}

QImage DecodeTiff(const std::string& path)
{
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t)
        return QImage();
    uint32_t w = 0, h = 0;
    uint16_t spp = 0, bps = 0, planar = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    QImage img(static_cast<int>(w), static_cast<int>(h), QImage::Format_RGBX8888);
    if (spp != 3 || bps != 8 || planar != PLANARCONFIG_CONTIG) {
        std::fprintf(stderr, "only 8-bit RGB TIFF here\n");
        TIFFClose(t);
        return QImage();
    }
    std::vector<uint8_t> row(TIFFScanlineSize(t));
    for (uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(t, row.data(), y, 0) < 0) {
            img = QImage();
            break;
        }
        uint8_t* d = img.bits() + img.bytesPerLine() * y;
        for (uint32_t x = 0; x < w; ++x) {
            d[4 * x] = row[3 * x];
            d[4 * x + 1] = row[3 * x + 1];
            d[4 * x + 2] = row[3 * x + 2];
            d[4 * x + 3] = 0xff;
        }
    }
    TIFFClose(t);
    return img;
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// Uncompressed 24-bit BMP, bottom-up, as scanners write it: read a row at a
// time straight below its place in the picture.
QImage DecodeBmp(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return QImage();
    uint8_t h[54];
    QImage img;
    if (std::fread(h, 1, 54, f) == 54 && h[0] == 'B' && h[1] == 'M' && h[28] == 24 && Le32(&h[30]) == 0) {
        const int w = static_cast<int>(Le32(&h[18]));
        const int ht = static_cast<int>(Le32(&h[22]));
        const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t(3);
        if (w > 0 && ht > 0 && std::fseek(f, static_cast<long>(Le32(&h[10])), SEEK_SET) == 0) {
            img = QImage(w, ht, QImage::Format_RGBX8888);
            std::vector<uint8_t> row(stride);
            uint8_t* bits = img.bits();
            const qsizetype bpl = img.bytesPerLine();
            for (int y = ht - 1; y >= 0; --y) {
                if (std::fread(row.data(), 1, stride, f) != stride) {
                    img = QImage();
                    break;
                }
                uint8_t* d = bits + bpl * y;
                for (int x = 0; x < w; ++x) {
                    d[4 * x] = row[3 * x + 2];
                    d[4 * x + 1] = row[3 * x + 1];
                    d[4 * x + 2] = row[3 * x];
                    d[4 * x + 3] = 0xff;
                }
            }
        }
    }
    std::fclose(f);
    return img;
}

QImage Decode(const std::string& path)
{
    auto ends = [&path](const char* e) {
        const size_t n = std::strlen(e);
        return path.size() >= n && path.compare(path.size() - n, n, e) == 0;
    };
    if (ends(".jpg"))
        return DecodeJpeg(path);
    if (ends(".png"))
        return DecodePng(path);
    if (ends(".tif"))
        return DecodeTiff(path);
    if (ends(".bmp"))
        return DecodeBmp(path);
    return QImage();
}

bool WriteWhole(const std::string& target, const unsigned char* data, unsigned long size)
{
    const std::string tmp = target + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, data, size) == static_cast<ssize_t>(size);
    ok &= ::close(fd) == 0;
    return ok && ::rename(tmp.c_str(), target.c_str()) == 0;
}

class TViewer : public QWidget
{
public:
    TViewer(std::string file, std::string saveTo)
        : FFile(std::move(file))
        , FSaveTo(std::move(saveTo))
    {
        setWindowTitle(QStringLiteral("Visore minimo"));
        setFixedSize(900, 725);
    }

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        if (FFile.empty())
            return;
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
            QElapsedTimer clock;
            clock.start();
            FPage = Decode(FFile);
            const qint64 decoded = clock.elapsed();
            if (FPage.isNull())
                std::fprintf(stderr, "cannot decode %s\n", FFile.c_str());
            FShown = &FPage;
            FOneToOne = false;
            Refit();
            // The steps' own times, to read beside the benchmark's (the log of the run).
            std::fprintf(stderr, "decode %lld ms, scale %lld ms\n", static_cast<long long>(decoded),
                         static_cast<long long>(clock.elapsed() - decoded));
        } else if (e->key() == Qt::Key_1 && FShown) {
            FOneToOne = true;
            update();
        } else if (e->key() == Qt::Key_PageDown && !FPage.isNull()) {
            Rotate(FAngle + 1.0);
        } else if (e->key() == Qt::Key_S && FShown) {
            Save();
        }
    }

    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const QRect view(kViewX, kViewY, kViewW, kViewH);
        if (!FShown || FShown->isNull())
            return;
        if (FOneToOne) {
            const QRect src(FShown->width() / 2 - kViewW / 2, FShown->height() / 2 - kViewH / 2, kViewW, kViewH);
            p.drawImage(view, *FShown, src);
        } else {
            p.drawImage(view.topLeft() + QPoint((kViewW - FFit.width()) / 2, (kViewH - FFit.height()) / 2), FFit);
        }
    }

private:
    void Refit()
    {
        if (!FShown->isNull())
            FFit = FShown->scaled(kViewW, kViewH, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        update();
    }

    void Rotate(double angle)
    {
        FAngle = angle;
        const cv::Mat src(FPage.height(), FPage.width(), CV_8UC4, FPage.bits(), static_cast<size_t>(FPage.bytesPerLine()));
        if (FRotated.isNull())
            FRotated = QImage(FPage.size(), QImage::Format_RGBX8888);
        cv::Mat dst(FRotated.height(), FRotated.width(), CV_8UC4, FRotated.bits(),
                    static_cast<size_t>(FRotated.bytesPerLine()));
        // OpenCV turns counter-clockwise for positive angles; Page Down turns clockwise.
        const cv::Mat m = cv::getRotationMatrix2D(cv::Point2f(FPage.width() / 2.0f, FPage.height() / 2.0f), -FAngle, 1.0);
        cv::warpAffine(src, dst, m, dst.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar(255, 255, 255, 255));
        FShown = &FRotated;
        if (FOneToOne)
            update();
        else
            Refit();
    }

    void Save()
    {
        // 33 x 40 mm at 600 dpi from the middle of the page as shown.
        const QRect cut(FShown->width() / 2 - 390, FShown->height() / 2 - 472, 780, 945);
        const QImage slot =
            FShown->copy(cut).scaled(260, 315, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        tjhandle tj = tjInitCompress();
        unsigned char* out = nullptr;
        unsigned long size = 0;
        for (int q = 100; q >= 5; q -= 5) {
            if (tjCompress2(tj, slot.constBits(), slot.width(), static_cast<int>(slot.bytesPerLine()), slot.height(),
                            TJPF_RGBX, &out, &size, TJSAMP_420, q, 0) != 0)
                break;
            if (size <= 34990)
                break;
        }
        if (!out || !WriteWhole(FSaveTo, out, size))
            std::fprintf(stderr, "cannot save %s\n", FSaveTo.c_str());
        tjFree(out);
        tjDestroy(tj);
    }

    std::string FFile, FSaveTo;
    QImage FPage, FRotated, FFit;
    const QImage* FShown = nullptr;
    bool FOneToOne = false;
    double FAngle = 0.0;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    cv::setNumThreads(2);
    std::string file, saveTo;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--open") == 0)
            file = argv[++i];
        else if (std::strcmp(argv[i], "--save-to") == 0)
            saveTo = argv[++i];
    }
    TViewer w(file, saveTo);
    w.show();
    return app.exec();
}
