#include "app/U_Cropping_LiveRotation.h"

#include "app/U_Cropping_Pixels.h"
#include "view/ExCopyRect.h"

#include <QMetaObject>
#include <QObject>

#include <system_error>

struct TLiveRotation::TJob {
    QImage Source;
    QImage Target;
    int32_t Degs = 0;
    std::atomic<bool> Cancelled{false};
    // Written by the worker before it ends; read only after the join.
    bool Complete = false;
    std::function<void(const QImage&)> Done;
};

namespace {
bool WholeTurn(int32_t degs) { return degs % 360 == 0; }
} // namespace

TLiveRotation::TLiveRotation(QObject* Context, TColor BkColor, int Threads)
    : FContext(Context)
    , FBkColor(BkColor)
    , FThreads(Threads)
{
}

TLiveRotation::~TLiveRotation() { Cancel(); }

void TLiveRotation::Join()
{
    if (FWorker.joinable())
        FWorker.join();
}

void TLiveRotation::Keep(QImage Buffer)
{
    // Only a buffer nobody else reads can be written over; the unrotated copy
    // handed back as a stand-in is shared and is not kept.
    if (FSpare.isNull() && !Buffer.isNull() && Buffer.isDetached())
        FSpare = std::move(Buffer);
}

void TLiveRotation::Cancel()
{
    if (!FJob)
        return;
    FJob->Cancelled.store(true);
    Join();
    Keep(std::move(FJob->Target));
    FJob.reset();
}

void TLiveRotation::Release()
{
    Cancel();
    FSpare = QImage();
    FReduced = QImage();
    FReducedKey = 0;
}

void TLiveRotation::Start(const QImage& Source, int32_t Degs, std::function<void(const QImage&)> Done)
{
    Cancel();
    auto job = std::make_shared<TJob>();
    job->Source = Source;
    job->Target = std::move(FSpare);
    FSpare = QImage();
    job->Degs = Degs;
    job->Done = std::move(Done);
    FJob = job;
    QObject* context = FContext.data();
    const TColor bk = FBkColor;
    const int threads = FThreads;
    TLiveRotation* self = this;
    auto run = [job, context, bk, threads, self] {
        // A first turn faults its fresh buffer in here, off the interface thread.
        job->Complete = RotateBitmapInto(job->Source, job->Target, job->Degs, false, bk, threads, &job->Cancelled);
        if (!job->Complete || !context)
            return;
        // The owner joins this thread before it goes, and a call posted to a
        // context that is gone is never run.
        QMetaObject::invokeMethod(
            context, [self, job] { self->Delivered(job); }, Qt::QueuedConnection);
    };
    try {
        FWorker = std::thread(run);
    } catch (const std::system_error&) {
        // No thread to be had: the turn is made now, and delivered the same way.
        FWorker = std::thread();
        run();
    }
}

void TLiveRotation::Delivered(const std::shared_ptr<TJob>& job)
{
    // Superseded, cancelled or already waited for: nothing to hand over.
    if (FJob != job)
        return;
    Join();
    FJob.reset();
    const QImage result = std::move(job->Target);
    job->Source = QImage();
    if (job->Done)
        job->Done(result);
}

QImage TLiveRotation::Finish(const QImage& Source, int32_t Degs)
{
    if (WholeTurn(Degs)) {
        Cancel();
        return Source;
    }
    if (FJob && FJob->Degs == Degs && FJob->Source.cacheKey() == Source.cacheKey()) {
        Join();
        const std::shared_ptr<TJob> job = std::move(FJob);
        FJob.reset();
        if (job->Complete) {
            QImage result = std::move(job->Target);
            return result;
        }
        Keep(std::move(job->Target));
    }
    Cancel();
    QImage target = std::move(FSpare);
    FSpare = QImage();
    RotateBitmapInto(Source, target, Degs, false, FBkColor, FThreads);
    return target;
}

void TLiveRotation::Preview(const QImage& Source, int32_t Degs, const QRect& Span, int K, QImage& Out)
{
    if (K <= 1) {
        RotateBitmapPart(Source, Out, Degs, Span, FBkColor, FThreads);
        return;
    }
    // Zoomed far out: the view averages k x k blocks anyway, so the turn of a
    // copy reduced once per picture looks the same and costs 1/k^2.
    if (FReduced.isNull() || FReducedKey != Source.cacheKey() || FReducedK != K) {
        FReduced = BoxReduce(Source, K);
        FReducedKey = Source.cacheKey();
        FReducedK = K;
    }
    const QRect reduced(QPoint(Span.left() / K, Span.top() / K), QPoint(Span.right() / K, Span.bottom() / K));
    RotateBitmapPart(FReduced, Out, Degs, reduced, FBkColor, FThreads);
}
