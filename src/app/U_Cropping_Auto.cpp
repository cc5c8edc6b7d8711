// "Ritaglio automatico": the page analysis runs on a worker thread whenever a
// picture is shown; key A (or the option, by itself) straightens the page and
// crops the signature and the photo through the window's own paths, as if the
// user had turned the page, pressed 2, framed and released, then 1 likewise.

#include "app/U_Cropping.h"
#include "app/U_Cropping_Status.h"

#include "analysis/PageAnalysis.h"
#include "platform/Geometry.h"
#include "platform/Rounding.h"
#include "view/U_FtBack.h"
#include "view/ZSImage.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cmath>
#include <thread>

// One analysis at a time per window: the newest picture's. Older workers see
// their cancel flag and their results carry an old generation, so they are dropped.
struct TAutoCropState {
    uint64_t generation = 0;
    std::shared_ptr<std::atomic<bool>> cancel;
    bool ready = false;
    analysis::PageAnalysis result;
    QObject receiver; // lives in the window's thread; results are queued to it
};

namespace {

// Workers still running, of any window: waited for when a window goes.
std::mutex g_workersMutex;
std::condition_variable g_workersDone;
int g_workers = 0;

// A frame of picture pixels as the view shows it, with a margin round it so
// the whole frame is on screen.
void ShowPictureRect(TZSImage* view, const QRect& r)
{
    const double zoom = std::min(view->width() / (r.width() * 1.15), view->height() / (r.height() * 1.15));
    view->SetStretchFactor(std::clamp(zoom, 0.02, 4.0));
    view->StretchImage(TPoint(r.x() + r.width() / 2, r.y() + r.height() / 2));
}

QString PlanMessage(const analysis::AutoCropPlan& plan, bool photo, bool signature)
{
    QStringList parts;
    if (plan.rotateDegrees != 0)
        parts << QStringLiteral("Pagina raddrizzata di %1°").arg(std::abs(plan.rotateDegrees));
    parts << (photo ? QStringLiteral("Foto trovata") : QStringLiteral("Foto non trovata"));
    parts << (signature ? QStringLiteral("Firma trovata") : QStringLiteral("Firma non trovata"));
    return parts.join(QStringLiteral(" - "));
}

// The one place the automatic crop speaks: the window's hook where one is set
// (tests), else the status strip; a find offers the command itself as the link.
void Say(TFormCrop* form, const QString& text, bool offerAutoCrop = false)
{
    if (form->ShowAutoCropStatus) {
        form->ShowAutoCropStatus(text);
        return;
    }
    if (!form->Status)
        return;
    if (offerAutoCrop) {
        QPointer<TFormCrop> self(form);
        form->Status->ShowMessage(text, QStringLiteral("Ritaglio automatico"), [self] {
            if (self)
                self->AutoCropClick();
        });
    } else {
        form->Status->ShowMessage(text);
    }
}

} // namespace

void TFormCrop::StartPageAnalysis()
{
    if (!FAutoCrop)
        FAutoCrop = std::make_shared<TAutoCropState>();
    TAutoCropState& st = *FAutoCrop;
    if (st.cancel)
        st.cancel->store(true);
    ++st.generation;
    st.ready = false;
    st.result = analysis::PageAnalysis();
    if (ViewEmpty())
        return;
    // The worker keeps its own reference to the pixels: the view may turn its
    // picture in place meanwhile, which then copies rather than changes them.
    QImage picture = ZSImage->OrigBitmap();
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    st.cancel = cancel;
    const uint64_t generation = st.generation;
    std::shared_ptr<TAutoCropState> state = FAutoCrop;
    QPointer<TFormCrop> self(this);
    {
        std::lock_guard<std::mutex> lock(g_workersMutex);
        ++g_workers;
    }
    try {
        std::thread([picture, cancel, generation, state, self]() mutable {
            struct TDone {
                ~TDone()
                {
                    std::lock_guard<std::mutex> lock(g_workersMutex);
                    --g_workers;
                    g_workersDone.notify_all();
                }
            } done;
            analysis::PageAnalysis result = analysis::AnalysePage(picture, cancel.get());
            QObject* receiver = &state->receiver;
            // The last reference to the state goes back to the window's thread with the result.
            QMetaObject::invokeMethod(
                receiver,
                [result, cancel, generation, state, self]() {
                    if (!self || self->FAutoCrop != state || state->generation != generation || cancel->load())
                        return; // a newer picture is shown: this result is not for it
                    state->ready = true;
                    state->result = result;
                    const bool any = result.photo.found || result.signature.found;
                    if (self->OptAutoCropOnOpen()) {
                        self->AutoCropClick();
                    } else if (any) {
                        const QString text =
                            result.photo.found && result.signature.found
                                ? QStringLiteral("Foto e firma trovate: premere A per ritagliarle")
                                : result.photo.found ? QStringLiteral("Foto trovata: premere A per ritagliarla")
                                                     : QStringLiteral("Firma trovata: premere A per ritagliarla");
                        Say(self.data(), text, true);
                    }
                },
                Qt::QueuedConnection);
            // Everything the worker holds goes before it counts itself done.
            state.reset();
            picture = QImage();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: key A analyses when pressed instead.
        std::lock_guard<std::mutex> lock(g_workersMutex);
        --g_workers;
    }
}

void TFormCrop::StopPageAnalysis()
{
    if (FAutoCrop && FAutoCrop->cancel)
        FAutoCrop->cancel->store(true);
    std::unique_lock<std::mutex> lock(g_workersMutex);
    g_workersDone.wait(lock, [] { return g_workers == 0; });
}

void TFormCrop::AutoCropClick()
{
    if (ViewEmpty())
        return;
    if (!FAutoCrop)
        FAutoCrop = std::make_shared<TAutoCropState>();
    TAutoCropState& st = *FAutoCrop;
    // The picture as shown before any turn of the toolbar: the analysis is of it.
    const QImage& base = (!BmpBackBuffer.isNull() && BmpBackBuffer.size() == ZSImage->OrigBitmap().size())
                             ? BmpBackBuffer
                             : ZSImage->OrigBitmap();
    if (!st.ready || st.result.pictureSize != base.size()) {
        // Pressed before the worker was done, or the picture was trimmed since: analysed here.
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        st.result = analysis::AnalysePage(base);
        st.ready = true;
        QGuiApplication::restoreOverrideCursor();
    }
    const analysis::PageAnalysis result = st.result;
    // Used once: the crops below make the turned picture the one on show, and
    // A again analyses that.
    st.ready = false;
    const analysis::AutoCropPlan plan = analysis::PlanAutoCrop(result, base.size(), base.size());

    auto frameAndCrop = [this](TzsiFixSelectionRatio mode, const QRect& frame) {
        SeletionFixMode(mode, false);
        ShowPictureRect(ZSImage, frame);
        const double s = ZSImage->GetScale();
        const TRect cr = ZSImage->CanvasBitmapRect();
        const TRect orr = ZSImage->OrigBitmapRect();
        const int x0 = int(Round((frame.x() - orr.Left) * s)) + cr.Left;
        const int y0 = int(Round((frame.y() - orr.Top) * s)) + cr.Top;
        const int x1 = int(Round((frame.x() + frame.width() - orr.Left) * s)) + cr.Left;
        const int y1 = int(Round((frame.y() + frame.height() - orr.Top) * s)) + cr.Top;
        TzsiSelection* sel = ZSImage->Selection();
        sel->SetActivated(true);
        sel->SetSelRect(TRect(x0, y0, x1, y1));
        // Drawn and released by the handlers a press, a drag and a release run.
        ZSImageSelectionMouseDown(mbLeft, 0, x0, y0);
        ZSImageSelectionMouseMove(ssLeft, x1, y1);
        QCoreApplication::processEvents();
        MakeMaskPaint();
        ShowToolbar();
        BtMakeCropClick();
        // The overlay reports its frame once more after a release; the save button follows it.
        ZSImageSelectionChange();
        ZSImage->setFocus();
    };

    QImage unturned;
    int turnedBy = 0;
    if (plan.rotateDegrees != 0) {
        // The toolbar's own absolute turn, from the unrotated copy.
        ShowToolbar();
        if (FormTBack)
            FormTBack->TbRotateSChange(((plan.rotateDegrees % 360) + 360) % 360);
        unturned = BmpBackBuffer;
        turnedBy = gradiRot;
    }
    if (plan.hasSignature)
        frameAndCrop(srFirma, plan.signatureFrame);
    if (plan.hasPhoto)
        frameAndCrop(srFoto, plan.photoFrame);
    // Each mode's zoom step takes the turned picture in as the unrotated one,
    // as a user's zoom change does; A's own steps are not the user's, so the
    // turn stays a turn: the angle shows, and a later turn by hand starts from
    // the page as it was opened, not from the turned one.
    if (turnedBy != 0 && !unturned.isNull() && gradiRot == 0) {
        BmpBackBuffer = unturned;
        gradiRot = turnedBy;
        Checkpoint();
        UpdateStatus();
    }
    Say(this, PlanMessage(plan, plan.hasPhoto, plan.hasSignature));
}
