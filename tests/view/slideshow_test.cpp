// The image list: showing, caching and trimming, background preloading across
// list changes, reader failures on both threads, and the transition effects.

#include "view/ZSImage.h"
#include "view/ZSImage_SlideShow.h"
#include "view/io/ImageReaders.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageWriter>
#include <QWindow>
#include <QPointer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <set>

namespace {

// Processes events until the condition holds, deferred deletions included.
void WaitUntil(const std::function<bool()>& done)
{
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
}

QColor CentreColour(const QImage& img) { return img.pixelColor(img.width() / 2, img.height() / 2); }

class SlideShow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FView = std::make_unique<TZSImage>();
        FView->resize(64, 48);
        FShow = FView->SlideShow();
        // After the view, which installs the message box when nothing else is.
        SetImageErrorNotifier([this](const QString& m) {
            std::lock_guard<std::mutex> lock(FMutex);
            FMessages << m;
            FOnUiThread.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
        });
    }
    void TearDown() override
    {
        FView.reset();
        SetImageErrorNotifier({});
    }

    QString Picture(const QString& name, const QColor& colour, QSize size = QSize(40, 30))
    {
        QImage img(size, QImage::Format_RGB32);
        img.fill(colour);
        const QString path = FDir.filePath(name);
        EXPECT_TRUE(img.save(path));
        return path;
    }
    // A noisy photo-sized JPEG, large against the small test view.
    QString NoisyJpeg(const QString& name, bool progressive)
    {
        QImage img(640, 480, QImage::Format_RGB32);
        quint32 seed = 7;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                seed = seed * 1103515245u + 12345u;
                img.setPixel(x, y, qRgb(x / 3, y / 2, int(seed >> 24)));
            }
        const QString path = FDir.filePath(name);
        QImageWriter writer(path, "jpeg");
        writer.setQuality(90);
        writer.setProgressiveScanWrite(progressive);
        EXPECT_TRUE(writer.write(img));
        return path;
    }
    QString Junk(const QString& name)
    {
        const QString path = FDir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromRawData("\xFF\xD8\xFF\xE0 definitely not a picture", 28));
        return path;
    }
    std::set<int> Cached() const
    {
        std::set<int> s;
        for (int i = 0; i < FShow->List()->Count(); ++i)
            if (FShow->List()->HasObject(i))
                s.insert(i);
        return s;
    }
    void WaitForPreload()
    {
        WaitUntil([this] { return !FShow->LoadingFile(); });
    }
    QStringList Messages()
    {
        std::lock_guard<std::mutex> lock(FMutex);
        return FMessages;
    }

    QTemporaryDir FDir;
    std::unique_ptr<TZSImage> FView;
    TzsiSlideShow* FShow = nullptr;
    std::mutex FMutex;
    QStringList FMessages;
    std::vector<bool> FOnUiThread;
};

} // namespace

TEST_F(SlideShow, IndicesOutsideTheListDoNothing)
{
    FShow->List()->Assign({Picture("a.png", Qt::red), Picture("b.png", Qt::green), Picture("c.png", Qt::blue)});
    for (int index : {-1, 3, 5}) {
        FShow->ShowImage(index, 1, 0);
        EXPECT_EQ(FShow->ImageIndex(), -1);
        EXPECT_TRUE(FView->OrigBitmap().isNull());
        EXPECT_FALSE(FShow->LoadingFile());
        EXPECT_TRUE(Cached().empty());
    }
}

TEST_F(SlideShow, MainWindowCallWithOneFileStartsNoPreload)
{
    FShow->List()->Add(Picture("only.png", Qt::red));
    QObject* sender = nullptr;
    FView->OnSlideShowEffect = [&sender](QObject* s) { sender = s; };
    FShow->ShowImage(0, 1, 0);
    EXPECT_EQ(sender, FShow->List());
    EXPECT_EQ(FShow->ImageIndex(), 0);
    EXPECT_FALSE(FShow->LoadingFile());
    EXPECT_EQ(FShow->Thread(), nullptr);
    EXPECT_EQ(CentreColour(FView->OrigBitmap()), QColor(Qt::red));
    // The view holds its own copy; the entry's cached picture is released.
    EXPECT_TRUE(Cached().empty());
}

TEST_F(SlideShow, MainWindowCallWithSeveralFilesPreloadsTheSecondOnly)
{
    FShow->List()->Assign({Picture("a.png", Qt::red), Picture("b.png", Qt::green), Picture("c.png", Qt::blue),
                           Picture("d.png", Qt::yellow)});
    FShow->ShowImage(0, 1, 0);
    // The end of a preload is handled on this thread, so it is still loading here.
    EXPECT_TRUE(FShow->LoadingFile());
    ASSERT_NE(FShow->Thread(), nullptr);
    EXPECT_EQ(FShow->Thread()->Index(), 1);
    WaitForPreload();
    EXPECT_EQ(Cached(), std::set<int>({1}));
    EXPECT_EQ(CentreColour(FShow->List()->Objects(1)), QColor(Qt::green));

    // Showing the preloaded entry takes the cached picture.
    QFile::remove(FShow->List()->Strings(1));
    FShow->ShowImage(1, 1, 0);
    EXPECT_EQ(CentreColour(FView->OrigBitmap()), QColor(Qt::green));
    WaitForPreload();
    EXPECT_EQ(Cached(), std::set<int>({2}));
}

TEST_F(SlideShow, TrimmingKeepsTheAskedNeighbours)
{
    QStringList names;
    for (int i = 0; i < 5; ++i)
        names << Picture(QStringLiteral("p%1.png").arg(i), QColor(i * 50, 0, 0));
    FShow->List()->Assign(names);
    auto cacheAll = [this] {
        // Negative arguments trim nothing and start no preload.
        for (int i = 0; i < 5; ++i)
            FShow->ShowImage(i, -1, -1);
        ASSERT_EQ(Cached(), std::set<int>({0, 1, 2, 3, 4}));
        ASSERT_FALSE(FShow->LoadingFile());
    };
    const struct {
        int index, next, previous;
        std::set<int> kept;
    } cases[] = {
        {2, 1, 1, {1, 2, 3}},       // one on each side and itself
        {3, 0, 0, {}},              // zero releases the shown entry too
        {2, -1, 2, {0, 1, 2, 3, 4}},
        {1, 2, -1, {0, 1, 2, 3}},
        {0, 1, 0, {1}},
        {4, 3, 3, {1, 2, 3, 4}},
    };
    for (const auto& c : cases) {
        cacheAll();
        FShow->ShowImage(c.index, c.next, c.previous);
        WaitForPreload();
        EXPECT_EQ(Cached(), c.kept) << c.index << " " << c.next << " " << c.previous;
        EXPECT_EQ(CentreColour(FView->OrigBitmap()), QColor(c.index * 50, 0, 0));
    }
}

TEST_F(SlideShow, PreloadFinishingAfterTheListChangedAttachesNothing)
{
    const QString a = Picture("a.png", Qt::red);
    const QString b = Picture("b.png", Qt::red);
    FShow->List()->Assign({a, b});
    FShow->ShowImage(0, 1, 0);
    QPointer<TzsiSlideShowThread> stale = FShow->Thread();
    ASSERT_FALSE(stale.isNull());

    // Refilled with the same names: only the list's generation tells the
    // stale picture apart. Clearing does not wait for the thread.
    FShow->Clear();
    EXPECT_FALSE(FShow->LoadingFile());
    EXPECT_EQ(FShow->ImageIndex(), -1);
    Picture("b.png", Qt::blue);
    FShow->List()->Assign({a, b});
    WaitUntil([&stale] { return stale.isNull(); });
    EXPECT_TRUE(Cached().empty());

    FShow->ShowImage(0, 1, 0);
    WaitForPreload();
    ASSERT_EQ(Cached(), std::set<int>({1}));
    EXPECT_EQ(CentreColour(FShow->List()->Objects(1)), QColor(Qt::blue));
}

TEST_F(SlideShow, ShowingANewListWhileAStalePreloadRunsNeedsNoWait)
{
    FShow->List()->Assign({Picture("a.png", Qt::red), Picture("b.png", Qt::red)});
    FShow->ShowImage(0, 1, 0);
    QPointer<TzsiSlideShowThread> stale = FShow->Thread();
    FShow->List()->Assign({Picture("c.png", Qt::green), Picture("d.png", Qt::blue)});
    FShow->ShowImage(1, 1, 0);
    EXPECT_EQ(CentreColour(FView->OrigBitmap()), QColor(Qt::blue));
    WaitUntil([&stale] { return stale.isNull(); });
    EXPECT_TRUE(Cached().empty());
}

TEST_F(SlideShow, JpegErrorOfThePreloadIsShownOnTheUserInterfaceThread)
{
    FShow->List()->Assign({Picture("a.png", Qt::red), Junk("broken.jpg")});
    FShow->ShowImage(0, 1, 0);
    WaitForPreload();
    ASSERT_EQ(Messages().size(), 1);
    EXPECT_TRUE(FOnUiThread.at(0));
    // The placeholder was attached like any picture; showing it asks nothing more.
    ASSERT_TRUE(FShow->List()->HasObject(1));
    EXPECT_EQ(FShow->List()->Objects(1).size(), QSize(300, 300));
    FShow->ShowImage(1, 1, 0);
    EXPECT_EQ(Messages().size(), 1);
    EXPECT_EQ(FView->OrigBitmap().size(), QSize(300, 300));
}

TEST_F(SlideShow, ReaderFailuresWhenShowing)
{
    // A broken JPEG: message, then the placeholder; ShowImage completes.
    FShow->List()->Assign({Junk("broken.JPG")});
    FShow->ShowImage(0, 1, 0);
    EXPECT_EQ(Messages().size(), 1);
    EXPECT_EQ(FView->OrigBitmap().size(), QSize(300, 300));

    // Unknown kind: the placeholder, silently.
    FShow->List()->Assign({Junk("notes.xyz")});
    FShow->ShowImage(0, 1, 0);
    EXPECT_EQ(Messages().size(), 1);
    EXPECT_EQ(FView->OrigBitmap().size(), QSize(300, 300));

    // A broken PNG: the failed preload leaves the entry empty, and showing it
    // hands the error to the caller while the view keeps its picture.
    FShow->List()->Assign({Picture("a.png", Qt::red), Junk("broken.png")});
    FShow->ShowImage(0, 1, 0);
    WaitForPreload();
    EXPECT_TRUE(Cached().empty());
    EXPECT_THROW(FShow->ShowImage(1, 1, 0), EImageReadError);
    EXPECT_EQ(CentreColour(FView->OrigBitmap()), QColor(Qt::red));
    EXPECT_EQ(Messages().size(), 1);
}

// Counts the view's paints while a show runs, and what the view held then.
struct TPaintWatch : QObject
{
    const TZSImage* View = nullptr;
    int Paints = 0;
    int PaintsWithOldPicture = 0;
    qint64 OldKey = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) {
            ++Paints;
            if (View->OrigBitmap().cacheKey() == OldKey)
                ++PaintsWithOldPicture;
        }
        return false;
    }
};

TEST_F(SlideShow, ALargeJpegIsPaintedReducedFirstWhileTheViewKeepsItsPictureUntilTheWholeOneIsIn)
{
    const QString red = Picture("a.png", Qt::red);
    const QString photo = NoisyJpeg("photo.jpg", false);
    FView->show();
    WaitUntil([this] { return FView->isVisible() && FView->windowHandle() && FView->windowHandle()->isExposed(); });
    FShow->List()->Assign({red});
    FShow->ShowImage(0, 1, 0);
    TPaintWatch watch;
    watch.View = FView.get();
    watch.OldKey = FView->OrigBitmap().cacheKey();
    FView->installEventFilter(&watch);
    FShow->List()->Assign({photo});
    FShow->ShowImage(0, 1, 0);
    FView->removeEventFilter(&watch);
    // The reduced copy reached the screen before the call returned, while the
    // picture every action reads was still the previous one.
    EXPECT_GE(watch.PaintsWithOldPicture, 1);

    // At rest, exactly what a view reading the file at once shows and holds.
    QImage whole;
    ASSERT_TRUE(LoadImagefromFile(photo, whole));
    EXPECT_EQ(FView->OrigBitmap(), whole);
    TZSImage reference;
    reference.resize(FView->size());
    reference.SlideShow()->List()->Assign({photo});
    reference.SlideShow()->ShowImage(0, 1, 0);
    EXPECT_EQ(FView->CanvasBitmap(), reference.CanvasBitmap());
    EXPECT_TRUE(Messages().isEmpty());
}

TEST_F(SlideShow, AReducedDecodeThatWorksDoesNotHideAWholeDecodeThatFails)
{
    // Its first scan decodes at once, but the whole file stalls the decoder
    // with endless scans and is refused: message, then the placeholder.
    const QByteArray data = [&] {
        QFile f(NoisyJpeg("p.jpg", true));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }();
    const int lastScan = data.lastIndexOf(QByteArray("\xFF\xDA", 2));
    const int end = data.lastIndexOf(QByteArray("\xFF\xD9", 2));
    ASSERT_GT(lastScan, 0);
    const QString stalled = FDir.filePath("stalled.jpg");
    {
        QFile f(stalled);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data.left(end) + data.mid(lastScan, end - lastScan).repeated(600) + data.mid(end));
    }
    QImage reduced;
    QSize size;
    ASSERT_TRUE(LoadReducedJpeg(stalled, FView->size(), reduced, size));
    EXPECT_EQ(size, QSize(640, 480));

    FView->show();
    WaitUntil([this] { return FView->isVisible() && FView->windowHandle() && FView->windowHandle()->isExposed(); });
    FShow->List()->Assign({Picture("a.png", Qt::red)});
    FShow->ShowImage(0, 1, 0);
    TPaintWatch watch;
    watch.View = FView.get();
    watch.OldKey = FView->OrigBitmap().cacheKey();
    // The message is read over the previous picture, as when the file is read at once.
    const QImage before = FView->CanvasBitmap();
    QStringList told;
    QImage onScreenWhenTold;
    SetImageErrorNotifier([&](const QString& m) {
        told << m;
        onScreenWhenTold = FView->CanvasBitmap();
    });
    FView->installEventFilter(&watch);
    FShow->List()->Assign({stalled});
    FShow->ShowImage(0, 1, 0);
    FView->removeEventFilter(&watch);
    EXPECT_GE(watch.PaintsWithOldPicture, 1);
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(onScreenWhenTold, before);
    EXPECT_EQ(FView->OrigBitmap(), MakePlaceholderImage(stalled));
    TZSImage reference;
    reference.resize(FView->size());
    reference.SlideShow()->List()->Assign({stalled});
    reference.SlideShow()->ShowImage(0, 1, 0);
    EXPECT_EQ(FView->CanvasBitmap(), reference.CanvasBitmap());
}

TEST_F(SlideShow, EffectTimesAreCappedAndRandomEffectsAreNeverTheBlend)
{
    FShow->SetEffectTimeOnShow(5000);
    FShow->SetEffectTimeOnHide(2401);
    EXPECT_EQ(FShow->EffectTimeOnShow(), 2400u);
    EXPECT_EQ(FShow->EffectTimeOnHide(), 2400u);
    std::set<int> seen;
    for (int i = 0; i < 300; ++i)
        seen.insert(FShow->RandomEffect());
    EXPECT_GE(*seen.begin(), 1);
    EXPECT_LE(*seen.rbegin(), 19);
    EXPECT_GT(seen.size(), 5u);
}

TEST_F(SlideShow, EveryKindOfEffectEndsWithTheNewPictureInTheView)
{
    FView->show();
    const QString first = Picture("first.png", Qt::red, QSize(64, 48));
    const QString second = Picture("second.png", Qt::blue, QSize(64, 48));
    const TzsiSlideShowEffects effects[] = {se_Blend, se_MiddleToTopBottom, se_MiddleToLeftRight, se_aw_Center,
                                            se_aw_LeftSlide, se_aw_Top, se_aw_BottomRightSlide};
    for (TzsiSlideShowEffects effect : effects) {
        for (int mode = 1; mode <= 3; ++mode) { // show, hide, both
            SCOPED_TRACE(testing::Message() << "effect " << effect << " mode " << mode);
            FShow->SetEffectOnShow(false);
            FShow->SetEffectOnHide(false);
            FShow->List()->Assign({first, second});
            FShow->ShowImage(0, -1, -1);
            FShow->SetEffect(effect);
            FShow->SetEffectOnShow(mode & 1);
            FShow->SetEffectOnHide(mode & 2);
            FShow->SetEffectTimeOnShow(20);
            FShow->SetEffectTimeOnHide(20);
            FShow->ShowImage(1, -1, -1);
            EXPECT_EQ(CentreColour(FView->OrigBitmap()), QColor(Qt::blue));
            EXPECT_EQ(CentreColour(FView->CanvasBitmap()), QColor(Qt::blue));
            // Nothing of the effect is left on screen.
            EXPECT_EQ(FView->ScreenImage().cacheKey(), FView->CanvasBitmap().cacheKey());
            EXPECT_TRUE(FView->findChildren<TzsiAWPanel*>().isEmpty());
        }
    }
}
