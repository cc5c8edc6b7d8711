#include "view/ZSImage_SlideShow.h"

#include "view/ZSImage.h"
#include "view/io/ImageReaders.h"

#include <QApplication>
#include <QMessageBox>

#include <algorithm>
#include <chrono>
#include <random>

namespace {
constexpr uint32_t kMaxEffectTime = 2400;
}

// --- TzsiSlideShowList ----------------------------------------------------------

TzsiSlideShowList::TzsiSlideShowList(TzsiSlideShow* AOwner) : QObject(AOwner), FOwner(AOwner) {}

QImage TzsiSlideShowList::Objects(int Index) const
{
    return (Index >= 0 && Index < Count()) ? FObjects[std::size_t(Index)] : QImage();
}

bool TzsiSlideShowList::HasObject(int Index) const
{
    return Index >= 0 && Index < Count() && !FObjects[std::size_t(Index)].isNull();
}

void TzsiSlideShowList::SetObject(int Index, const QImage& Picture)
{
    if (Index >= 0 && Index < Count())
        FObjects[std::size_t(Index)] = Picture;
}

int TzsiSlideShowList::Add(const QString& FileName)
{
    FNames.append(FileName);
    FObjects.emplace_back();
    return Count() - 1;
}

void TzsiSlideShowList::Assign(const QStringList& Source)
{
    Clear();
    for (const QString& name : Source)
        Add(name);
}

void TzsiSlideShowList::Clear()
{
    for (int i = 0; i < Count(); ++i)
        DeleteObject(i);
    FOwner->FImgIndex = -1;
    FNames.clear();
    FObjects.clear();
    FOwner->ListChanged();
}

void TzsiSlideShowList::Delete(int Index)
{
    if (Index < 0 || Index >= Count())
        return;
    DeleteObject(Index);
    FNames.removeAt(Index);
    FObjects.erase(FObjects.begin() + Index);
    FOwner->ListChanged();
}

void TzsiSlideShowList::DeleteObject(int Index)
{
    if (Index >= 0 && Index < Count())
        FObjects[std::size_t(Index)] = QImage();
}

// --- TzsiSlideShowThread ----------------------------------------------------------

TzsiSlideShowThread::TzsiSlideShowThread(uint64_t AGeneration, int AIndex, const QString& AFileName)
    : FGeneration(AGeneration), FIndex(AIndex), FFileName(AFileName)
{
}

void TzsiSlideShowThread::run()
{
    TzsiPreloadResult result;
    result.Generation = FGeneration;
    result.Index = FIndex;
    result.FileName = FFileName;
    try {
        // The message of a broken JPEG file comes back with the result, so
        // that the user-interface thread shows it.
        LoadImagefromFile(FFileName, result.Picture, &result.UserMessage, &FCancel);
        result.Loaded = !result.Picture.isNull();
    } catch (...) {
        // A failing preload leaves the entry empty; showing it will read the
        // file again and let the error reach the caller then.
        result.Picture = QImage();
        result.Loaded = false;
    }
    emit Done(result);
}

// --- TzsiSlideShow ---------------------------------------------------------------------

TzsiSlideShow::TzsiSlideShow(TZSImage* AOwner) : QObject(AOwner), FOwner(AOwner)
{
    qRegisterMetaType<TzsiPreloadResult>();
    FImgList = new TzsiSlideShowList(this);
    if (!HasImageErrorNotifier())
        InstallReaderMessageBox();
}

TzsiSlideShow::~TzsiSlideShow()
{
    // Only at the end of the view's life: a thread must not outlive the
    // objects its queued results are addressed to.
    for (const QPointer<TzsiSlideShowThread>& t : FRunning) {
        if (t) {
            t->disconnect(this);
            t->Cancel();
            t->wait();
        }
    }
}

void TzsiSlideShow::InstallReaderMessageBox()
{
    SetImageErrorNotifier([](const QString& message) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        auto show = [message]() {
            QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), message, QMessageBox::Ok,
                            QApplication::activeWindow());
            box.exec();
        };
        if (QThread::currentThread() == app->thread())
            show();
        else
            QMetaObject::invokeMethod(app, show, Qt::QueuedConnection);
    });
}

void TzsiSlideShow::Clear() { FImgList->Clear(); }

void TzsiSlideShow::SetEffectTimeOnShow(uint32_t Value) { FEffectTimeOnShow = std::min(Value, kMaxEffectTime); }

void TzsiSlideShow::SetEffectTimeOnHide(uint32_t Value) { FEffectTimeOnHide = std::min(Value, kMaxEffectTime); }

TzsiSlideShowEffects TzsiSlideShow::RandomEffect()
{
    std::mt19937 generator(static_cast<std::mt19937::result_type>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> pick{static_cast<int>(se_MiddleToTopBottom), static_cast<int>(se_aw_BottomRightSlide)};
    return static_cast<TzsiSlideShowEffects>(pick(generator));
}

void TzsiSlideShow::ListChanged()
{
    ++FGeneration;
    // A preload of the old list is called off: its picture would be thrown
    // away, and its memory is better free for the new one. It no longer
    // counts as loading, so nobody waits for it.
    for (const QPointer<TzsiSlideShowThread>& t : FRunning)
        if (t)
            t->Cancel();
    FLoadingFile = false;
    FThread = nullptr;
}

void TzsiSlideShow::WaitWhileLoading()
{
    // The end of the preload arrives as a queued call, so waiting for events
    // sleeps until then instead of spinning.
    while (FLoadingFile)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TzsiSlideShow::ShowImage(int AIndex, int KeepNext, int KeepPrevious)
{
    if (AIndex < 0 || AIndex >= FImgList->Count())
        return;
    WaitWhileLoading();
    // Events processed while waiting may have changed the list.
    if (AIndex >= FImgList->Count())
        return;

    FImgIndex = AIndex;
    if (!FImgList->HasObject(AIndex))
        FImgList->SetObject(AIndex, FOwner->LoadPictureFile(FImgList->Strings(AIndex)));
    // The view keeps its own copy, so the entry may be trimmed below.
    const QImage picture = FImgList->Objects(AIndex);

    if (FOwner->OnSlideShowEffect)
        FOwner->OnSlideShowEffect(FImgList);
    if (!FEffectOnShow && !FEffectOnHide)
        FOwner->InternSetImage(picture, true);
    else if (FEffect == se_Blend)
        DoBlend(picture);
    else if (FEffect >= se_aw_Center)
        Do_AW_Effect(picture, FEffect);
    else
        DoCustomEffects(picture, FEffect);
    FOwner->ImageChanged();

    if (KeepNext > 0) {
        WaitWhileLoading();
        if (AIndex + 1 < FImgList->Count() && !FImgList->HasObject(AIndex + 1))
            StartPreload(AIndex + 1);
    }
    if (KeepPrevious >= 0) {
        const int k = KeepPrevious > 0 ? KeepPrevious + 1 : 0;
        for (int i = 0; i <= AIndex - k && i < FImgList->Count(); ++i)
            FImgList->DeleteObject(i);
    }
    if (KeepNext >= 0) {
        for (int i = AIndex + KeepNext + 1; i < FImgList->Count(); ++i)
            FImgList->DeleteObject(i);
    }
}

void TzsiSlideShow::StartPreload(int AIndex)
{
    // One decoding thread at a time: while a preload of an earlier list still
    // runs, skip this one; showing the entry reads it when needed.
    FRunning.erase(std::remove_if(FRunning.begin(), FRunning.end(),
                                  [](const QPointer<TzsiSlideShowThread>& t) { return t.isNull(); }),
                   FRunning.end());
    if (!FRunning.empty())
        return;

    auto* thread = new TzsiSlideShowThread(FGeneration, AIndex, FImgList->Strings(AIndex));
    connect(thread, &TzsiSlideShowThread::Done, this, &TzsiSlideShow::PreloadDone, Qt::QueuedConnection);
    // Queued after Done, so the picture is attached before loading ends.
    connect(thread, &QThread::finished, this, [this, thread, generation = FGeneration]() { PreloadEnded(thread, generation); },
            Qt::QueuedConnection);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    FThread = thread;
    FLoadingFile = true;
    FRunning.emplace_back(thread);
    thread->start(QThread::HighestPriority);
}

void TzsiSlideShow::PreloadDone(const TzsiPreloadResult& Result)
{
    if (Result.Generation != FGeneration || Result.Index >= FImgList->Count() ||
        FImgList->Strings(Result.Index) != Result.FileName)
        return;
    if (Result.Loaded && !FImgList->HasObject(Result.Index))
        FImgList->SetObject(Result.Index, Result.Picture);
    if (!Result.UserMessage.isEmpty())
        ReportImageError(Result.UserMessage);
}

void TzsiSlideShow::PreloadEnded(const TzsiSlideShowThread* Thread, uint64_t Generation)
{
    // Thread only identifies the object here; it is on its way to deletion.
    if (Generation == FGeneration && FThread == Thread) {
        FLoadingFile = false;
        FThread = nullptr;
    }
    FRunning.erase(std::remove_if(FRunning.begin(), FRunning.end(),
                                  [Thread](const QPointer<TzsiSlideShowThread>& t) { return t.isNull() || t == Thread; }),
                   FRunning.end());
}
