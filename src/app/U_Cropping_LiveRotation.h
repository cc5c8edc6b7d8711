#pragma once
// TLiveRotation: the whole-picture turn of the rotate toolbar, run on a worker
// thread so that the interface never waits for a turn the user has already
// left behind.
//
// One job at a time: a new Start cancels the one under way (it stops within a
// few dozen rows) and the newest angle wins. The rotated picture is written into
// one buffer kept from turn to turn, so a page costs its unrotated copy plus one
// rotated page however many turns the user makes. Everything here is called on
// the interface thread; the worker touches only its job.

#include "platform/Colors.h"

#include <QImage>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class QObject;

class TLiveRotation {
public:
    // Done callbacks run on Context's thread; BkColor fills the uncovered corners.
    TLiveRotation(QObject* Context, TColor BkColor, int Threads);
    ~TLiveRotation();
    TLiveRotation(const TLiveRotation&) = delete;
    TLiveRotation& operator=(const TLiveRotation&) = delete;

    // Turns Source by Degs on the worker. Done receives the rotation once it is
    // complete, unless a later Start, Finish or Cancel came first.
    void Start(const QImage& Source, int32_t Degs, std::function<void(const QImage&)> Done);
    // Source turned by Degs, now: the job under way when it is that very turn
    // (waited for), else computed here. A multiple of 360 is Source itself.
    QImage Finish(const QImage& Source, int32_t Degs);
    // Stops the job under way, if any; its result is never delivered.
    void Cancel();
    // Cancel, and every kept buffer is let go (a new picture came).
    void Release();
    // A rotated page the view let go of, kept to be written over by the next
    // turn; ignored when anything else still holds its pixels.
    void Keep(QImage Buffer);
    // Out := the pixels Span (target pixels) of Source turned by Degs, reduced
    // K times; exactly the whole turn's pixels when K is 1.
    void Preview(const QImage& Source, int32_t Degs, const QRect& Span, int K, QImage& Out);

private:
    struct TJob;
    void Join();
    void Delivered(const std::shared_ptr<TJob>& job);

    QPointer<QObject> FContext;
    TColor FBkColor;
    int FThreads;
    QImage FSpare;
    std::shared_ptr<TJob> FJob;
    std::thread FWorker;
    // Reduced copy of the unrotated source for previews far out, by FReducedK.
    QImage FReduced;
    qint64 FReducedKey = 0;
    int FReducedK = 0;
};
