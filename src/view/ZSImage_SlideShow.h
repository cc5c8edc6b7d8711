#pragma once
// TzsiSlideShow: the list of picture files the view shows one at a time.
//
// Each entry is a file name with an optional cached picture. ShowImage puts an
// entry on the view, may preload the next entry on a background thread, and
// trims the cache. Preloaded pictures come back to the user-interface thread
// by a queued call; every change of the list's order bumps a generation number,
// so a picture decoded for an older list is dropped instead of being attached
// to an entry of the new one.
//
// The transition effects exist although the program keeps them off; each one
// ends with the new picture in the view.

#include <QImage>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <vector>

class TZSImage;
class TzsiSlideShow;

enum TzsiSlideShowEffects {
    se_Blend,
    se_MiddleToTopBottom,
    se_MiddleToLeftRight,
    se_aw_Center,
    se_aw_Left,
    se_aw_LeftSlide,
    se_aw_Right,
    se_aw_RightSlide,
    se_aw_Top,
    se_aw_TopSlide,
    se_aw_Bottom,
    se_aw_BottomSlide,
    se_aw_TopLeft,
    se_aw_TopLeftSlide,
    se_aw_TopRight,
    se_aw_TopRightSlide,
    se_aw_BottomLeft,
    se_aw_BottomLeftSlide,
    se_aw_BottomRight,
    se_aw_BottomRightSlide,
};

// Window-animation flags of an effect, with the platform's values: direction
// (1 left to right, 2 right to left, 4 top down, 8 bottom up), 0x10 centre,
// 0x40000 slide instead of roll. Showing adds 0x20000, hiding 0x10000.
uint32_t AnimateWindowFlags(TzsiSlideShowEffects Effect);

// The file names and their cached pictures. Not thread-safe: the user-interface
// thread alone touches it; the preloading thread only hands a picture back.
class TzsiSlideShowList : public QObject
{
    Q_OBJECT
public:
    explicit TzsiSlideShowList(TzsiSlideShow* AOwner);

    int Count() const { return int(FNames.size()); }
    QString Strings(int Index) const { return FNames.value(Index); }
    QStringList Names() const { return FNames; }
    // The entry's cached picture; a null image when it has none.
    QImage Objects(int Index) const;
    bool HasObject(int Index) const;
    void SetObject(int Index, const QImage& Picture);

    int Add(const QString& FileName);
    // Clear, then the given file names.
    void Assign(const QStringList& Source);
    // Releases every cached picture, sets the owner's ImageIndex to -1, empties the list.
    void Clear();
    void Delete(int Index);
    // Releases the entry's cached picture, if any.
    void DeleteObject(int Index);

private:
    TzsiSlideShow* FOwner;
    QStringList FNames;
    std::vector<QImage> FObjects;
};

// What a preloading thread hands back: the picture of one entry of one
// generation of the list, and the message for the user, if any.
struct TzsiPreloadResult
{
    uint64_t Generation = 0;
    int Index = -1;
    QString FileName;
    QImage Picture;
    bool Loaded = false;
    QString UserMessage;
};
Q_DECLARE_METATYPE(TzsiPreloadResult)

// Decodes one file. It copies what it needs when created and never touches the
// list: the result travels back through the Done signal, queued to the list's
// thread. It deletes itself when finished.
class TzsiSlideShowThread : public QThread
{
    Q_OBJECT
public:
    TzsiSlideShowThread(uint64_t AGeneration, int AIndex, const QString& AFileName);

    uint64_t Generation() const { return FGeneration; }
    int Index() const { return FIndex; }
    // Calls the decode off: it stops at its next rows and hands back nothing.
    void Cancel() { FCancel.store(true); }

signals:
    void Done(const TzsiPreloadResult& Result);

protected:
    // The thread's work (Execute).
    void run() override;

private:
    const uint64_t FGeneration;
    const int FIndex;
    const QString FFileName;
    std::atomic<bool> FCancel{false};
};

// A snapshot of the view's back buffer laid over it while a window animation runs.
class TzsiAWPanel : public QWidget
{
    Q_OBJECT
public:
    TzsiAWPanel(QWidget* AParent, const QImage& ABitmap);
    // Where the snapshot's origin lies relative to the panel (rolls keep the
    // picture still while the panel's edges move).
    void SetContentOffset(const QPoint& Offset);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage FBitmap;
    QPoint FOffset;
};

class TzsiSlideShow : public QObject
{
    Q_OBJECT
public:
    explicit TzsiSlideShow(TZSImage* AOwner);
    ~TzsiSlideShow() override;

    // Forgets every entry and its cached picture (the list's Clear).
    void Clear();

    // Shows entry AIndex and trims the cache; indices outside the list do nothing.
    // Errors of the TIFF, PNG and GIF readers propagate (EImageReadError).
    void ShowImage(int AIndex, int KeepNext, int KeepPrevious);
    // A random window or wipe effect (never se_Blend); the generator is seeded from the clock.
    TzsiSlideShowEffects RandomEffect();

    TzsiSlideShowList* List() const { return FImgList; }
    int ImageIndex() const { return FImgIndex; }
    // A preloading thread for the current list is running.
    bool LoadingFile() const { return FLoadingFile; }
    // The last preloading thread started while it runs; null afterwards.
    TzsiSlideShowThread* Thread() const { return FThread.data(); }

    TzsiSlideShowEffects Effect() const { return FEffect; }
    void SetEffect(TzsiSlideShowEffects Value) { FEffect = Value; }
    bool EffectOnShow() const { return FEffectOnShow; }
    void SetEffectOnShow(bool Value) { FEffectOnShow = Value; }
    bool EffectOnHide() const { return FEffectOnHide; }
    void SetEffectOnHide(bool Value) { FEffectOnHide = Value; }
    // Effect times: milliseconds for the blend and the window animations,
    // microseconds per row or column for the wipes; at most 2400.
    uint32_t EffectTimeOnShow() const { return FEffectTimeOnShow; }
    void SetEffectTimeOnShow(uint32_t Value);
    uint32_t EffectTimeOnHide() const { return FEffectTimeOnHide; }
    void SetEffectTimeOnHide(uint32_t Value);

    // Shows reader messages (a broken JPEG file) in a message box on the
    // user-interface thread, whichever thread reports them. Installed by the
    // first list unless another notifier is in place.
    static void InstallReaderMessageBox();

private:
    friend class TzsiSlideShowList;

    // The list's order changed: results of running preloads no longer apply.
    void ListChanged();
    void WaitWhileLoading();
    void StartPreload(int AIndex);
    void PreloadDone(const TzsiPreloadResult& Result);
    void PreloadEnded(const TzsiSlideShowThread* Thread, uint64_t Generation);

    void DoBlend(const QImage& Picture);
    void Do_AW_Effect(const QImage& Picture, TzsiSlideShowEffects AEffect);
    void DoCustomEffects(const QImage& Picture, TzsiSlideShowEffects AEffect);
    // Runs one window animation of Panel over the view for Time ms.
    void AnimatePanel(TzsiAWPanel* Panel, uint32_t Flags, uint32_t Time);

    TZSImage* FOwner;
    TzsiSlideShowList* FImgList;
    int FImgIndex = -1;
    TzsiSlideShowEffects FEffect = se_Blend;
    bool FEffectOnShow = false;
    bool FEffectOnHide = false;
    uint32_t FEffectTimeOnShow = 500;
    uint32_t FEffectTimeOnHide = 300;
    QPointer<TzsiSlideShowThread> FThread;
    bool FLoadingFile = false;
    uint64_t FGeneration = 0;
    // Every preloading thread still running, stale ones included.
    std::vector<QPointer<TzsiSlideShowThread>> FRunning;
};
