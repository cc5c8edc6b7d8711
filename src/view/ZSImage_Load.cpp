// Reading a picture file for the view: a large JPEG file appears at once from a
// reduced decode while the whole picture is decoded on a worker.
//
// The user-interface thread does not return to the event loop until the whole
// picture is there, so every click and key pressed meanwhile waits in the
// window system's queue and then acts on the whole picture, never on the
// reduced one. The reduced copy only ever reaches the back buffer; the view's
// picture, its rectangles and its frames stay those of the previous picture
// until the whole one takes their place.

#include "view/ZSImage.h"

#include "platform/DisplayFlush.h"
#include "platform/ImageAlloc.h"
#include "view/ExCopyRect.h"
#include "view/ZSImage_Geometry.h"
#include "view/io/ImageReaders.h"

#include <exception>
#include <memory>
#include <thread>

namespace {

// What the worker hands back: exactly what LoadImagefromFile gives on the
// user-interface thread, the message the user must read included.
struct TWholePicture
{
    QImage Picture;
    QString Message;
    std::exception_ptr Error;
};

void FillBgr(QImage& img, const TRect& r, TColor c) { FillRectBgr(img, r, GetBValue(c), GetGValue(c), GetRValue(c)); }

} // namespace

QImage TZSImage::LoadPictureFile(const QString& FileName)
{
    const QSize box(width() - 2 * FMargin, height() - 2 * FMargin);
    if (!IsJpegFileName(FileName) || !isVisible() || box.isEmpty()) {
        QImage picture;
        LoadImagefromFile(FileName, picture);
        return picture;
    }

    // The whole decode starts first: on two cores it runs beside the reduced one.
    auto whole = std::make_shared<TWholePicture>();
    std::thread worker([FileName, whole]() {
        try {
            LoadImagefromFile(FileName, whole->Picture, &whole->Message);
        } catch (...) {
            whole->Error = std::current_exception();
        }
    });
    struct TJoin {
        std::thread& t;
        ~TJoin()
        {
            if (t.joinable())
                t.join();
        }
    } join{worker};

    QImage previous;
    bool shown = false;
    try {
        QImage reduced;
        QSize size;
        if (LoadReducedJpeg(FileName, box, reduced, size))
            shown = ShowReduced(reduced, size, previous);
    } catch (const std::bad_alloc&) {
        // Nothing shown early; the whole picture comes all the same.
    }
    worker.join();

    // A failure, or a damaged picture, is told over the previous picture as
    // when the file is read at once: the reduced copy never stays on view
    // as if it had been read.
    if (shown && (whole->Error || !whole->Message.isEmpty() || whole->Picture.isNull())) {
        FCanvasBmp = previous;
        Paint();
        ImageChanged();
    }
    if (whole->Error)
        std::rethrow_exception(whole->Error);
    if (!whole->Message.isEmpty())
        ReportImageError(whole->Message);
    return whole->Picture;
}

bool TZSImage::ShowReduced(const QImage& Reduced, const QSize& WholeSize, QImage& Previous)
{
    const int32_t W = width();
    const int32_t H = height();
    // Laid out as the whole picture fitted to the view, where a newly opened picture goes.
    const TStretchLayout L = ComputeStretchLayout(WholeSize.width(), WholeSize.height(), W, H, kCenterMarker, 0,
                                                  FMargin, FEnlarge, FBorderWidth);
    if (!L.Valid || Reduced.isNull())
        return false;
    QImage frame = NewBgrImage(W, H);
    if (frame.isNull())
        return false;
    FillBgr(frame, TRect(0, 0, W, H), FBkgColor);
    // The reduced copy holds the whole picture, which is what fit mode shows.
    if (!ExCopyRect(frame, L.Canvas, Reduced, TRect(0, 0, Reduced.width(), Reduced.height())))
        return false;
    if (L.WantBorder)
        DrawPictureBorder(frame, L.Canvas);
    Previous = FCanvasBmp;
    FCanvasBmp = frame;
    FSurface = QImage();
    // Painted now: the event loop is not reached before the whole picture is in.
    repaint();
    if (FSelection->Activated()) {
        FSelection->Paint();
        FSelection->repaint();
    }
    FlushDisplay();
    return true;
}
