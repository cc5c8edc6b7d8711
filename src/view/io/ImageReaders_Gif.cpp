// GIF files through giflib: the first frame, drawn on the logical screen,
// transparent and uncovered pixels white.

#include "platform/ImageAlloc.h"
#include "view/io/ImageReaders.h"
#include "view/io/ImageReaders_Formats.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <gif_lib.h>

namespace imageio {

namespace {

class GifFile
{
public:
    explicit GifFile(const QString& fileName)
    {
        FGif = DGifOpenFileName(LocalPath(fileName).constData(), &FOpenError);
    }
    ~GifFile()
    {
        if (FGif) {
            int err = 0;
            DGifCloseFile(FGif, &err);
        }
    }
    GifFile(const GifFile&) = delete;
    GifFile& operator=(const GifFile&) = delete;
    GifFileType* get() const { return FGif; }
    int openError() const { return FOpenError; }

private:
    GifFileType* FGif = nullptr;
    int FOpenError = 0;
};

// giflib's own words, with its error number where it has none.
QString GifMessage(int code)
{
    const char* text = GifErrorString(code);
    return text ? QString::fromLatin1(text) : QStringLiteral("errore %1").arg(code);
}

} // namespace

bool ReadGifFile(const QString& fileName, QImage& out, TReadFailure& failure)
{
    GifFile file(fileName);
    GifFileType* gif = file.get();
    if (!gif) {
        return failure.Fail(TReadFault::Damaged, GifMessage(file.openError()));
    }
    int transparent = NO_TRANSPARENT_COLOR;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
            return failure.Fail(TReadFault::Damaged, GifMessage(gif->Error));
        }
        if (type == TERMINATE_RECORD_TYPE) {
            return failure.Fail(TReadFault::Damaged, QStringLiteral("il file non contiene immagini"));
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) {
                return failure.Fail(TReadFault::Damaged, GifMessage(gif->Error));
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                GraphicsControlBlock gcb;
                if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK)
                    transparent = gcb.TransparentColor;
            }
            while (ext) {
                if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) {
                    return failure.Fail(TReadFault::Damaged, GifMessage(gif->Error));
                }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE)
            continue;

        if (DGifGetImageDesc(gif) == GIF_ERROR) {
            return failure.Fail(TReadFault::Damaged, GifMessage(gif->Error));
        }
        const GifImageDesc& desc = gif->Image;
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (!map || !map->Colors || desc.Width <= 0 || desc.Height <= 0) {
            return failure.Fail(TReadFault::Damaged, QStringLiteral("fotogramma senza tavolozza o vuoto"));
        }
        // The picture is the logical screen; a file whose screen is smaller than
        // its first frame (or zero) is shown at the frame's extent instead.
        const int width = std::max<int>(gif->SWidth, desc.Left + desc.Width);
        const int height = std::max<int>(gif->SHeight, desc.Top + desc.Height);
        if (!ImageSizeAllowed(width, height))
            return failure.FailSize(TReadFault::Oversize, width, height);
        // The rows are not cleared beforehand: a tiny file announcing a huge
        // screen then fails at its first line having touched almost none of
        // the picture's memory. Transparent pixels are written white, the
        // screen around the frame once the frame is whole.
        QImage image = NewBgrImage(width, height);
        if (image.isNull())
            return failure.FailSize(TReadFault::OutOfMemory, width, height);

        std::vector<GifPixelType> line(std::size_t(desc.Width));
        // Interlaced frames arrive in four passes of rows.
        static const int kStart[4] = {0, 4, 2, 1};
        static const int kStep[4] = {8, 8, 4, 2};
        const int passes = desc.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            const int start = desc.Interlace ? kStart[pass] : 0;
            const int step = desc.Interlace ? kStep[pass] : 1;
            for (int y = start; y < desc.Height; y += step) {
                if (DGifGetLine(gif, line.data(), desc.Width) == GIF_ERROR)
                    return failure.Fail(TReadFault::Damaged, GifMessage(gif->Error));
                uchar* dst = image.scanLine(desc.Top + y) + std::size_t(desc.Left) * 3;
                for (int x = 0; x < desc.Width; ++x, dst += 3) {
                    const int index = line[std::size_t(x)];
                    if (index == transparent) {
                        dst[0] = dst[1] = dst[2] = 255;
                        continue;
                    }
                    if (index >= map->ColorCount) {
                        dst[0] = dst[1] = dst[2] = 0;
                        continue;
                    }
                    const GifColorType& c = map->Colors[index];
                    dst[0] = c.Blue;
                    dst[1] = c.Green;
                    dst[2] = c.Red;
                }
            }
        }
        const std::size_t rowBytes = std::size_t(width) * 3;
        for (int y = 0; y < height; ++y) {
            uchar* row = image.scanLine(y);
            if (y < desc.Top || y >= desc.Top + desc.Height) {
                std::memset(row, 255, rowBytes);
                continue;
            }
            std::memset(row, 255, std::size_t(desc.Left) * 3);
            const std::size_t right = std::size_t(desc.Left + desc.Width) * 3;
            std::memset(row + right, 255, rowBytes - right);
        }
        out = std::move(image);
        return true;
    }
}

} // namespace imageio
