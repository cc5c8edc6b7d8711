// The page analysis on fixed pages of the synthetic corpus, on pictures that
// are no form at all, and the plan "Ritaglio automatico" draws from a result.

#include "analysis/PageAnalysis.h"
#include "corpus/PageCorpus.h"

#include <QPainter>
#include <QTransform>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

namespace {

void ExpectNothing(const analysis::PageAnalysis& a, const char* what)
{
    EXPECT_FALSE(a.photo.found) << what;
    EXPECT_FALSE(a.signature.found) << what;
}

#define NEED_PORTRAIT()                                                                                                          \
    do {                                                                                                                         \
        if (CorpusPortrait().isNull())                                                                                           \
            GTEST_SKIP() << "portrait photograph (python3-skimage) not installed";                                               \
    } while (0)

} // namespace

// Scanned forms at three resolutions, one photographed on a desk, one without a
// photo and one without a signature: each find where it is, none where it is not.
TEST(PageAnalysis, FindsPhotoSignatureAndSkewOnCorpusPages)
{
    NEED_PORTRAIT();
    for (int n : {0, 2, 5, 6, 23}) {
        const CorpusPage page = MakeCorpusPage(n);
        SCOPED_TRACE(page.name.toStdString());
        const analysis::PageAnalysis a = analysis::AnalysePage(page.picture);
        EXPECT_EQ(a.pictureSize, page.picture.size());
        EXPECT_EQ(a.photo.found, page.hasPhoto);
        if (page.hasPhoto) {
            EXPECT_GE(CorpusIoU(a.photo.photo, page.photo), 0.85);
            EXPECT_TRUE(a.photo.framed);
            EXPECT_TRUE(a.photo.photo.contains(a.photo.face));
        }
        EXPECT_EQ(a.signature.found, page.hasSignature);
        if (page.hasSignature) {
            EXPECT_GE(CorpusIoU(a.signature.box, page.signature), 0.7);
        }
        ASSERT_TRUE(a.skew.found);
        EXPECT_NEAR(a.skew.degrees, page.skewDegrees, 0.5);
    }
}

// Pictures that are no form: no find and no failure.
TEST(PageAnalysis, BadPicturesGiveNoFind)
{
    ExpectNothing(analysis::AnalysePage(QImage()), "null picture");
    QImage one(1, 1, QImage::Format_BGR888);
    one.fill(Qt::white);
    ExpectNothing(analysis::AnalysePage(one), "1 x 1");
    QImage strip(20000, 300, QImage::Format_BGR888);
    strip.fill(Qt::black);
    ExpectNothing(analysis::AnalysePage(strip), "20000 x 300");
    QImage blank(1654, 2339, QImage::Format_BGR888);
    blank.fill(QColor(250, 250, 248));
    const analysis::PageAnalysis b = analysis::AnalysePage(blank);
    ExpectNothing(b, "blank page");
    EXPECT_FALSE(b.skew.found);
    // A borrowed view with a stride too short for its width is refused, not read past.
    ExpectNothing(analysis::AnalysePage(analysis::PictureView{blank.constBits(), 1654, 2339, 100}), "short stride");

    QImage text(1654, 2339, QImage::Format_RGB32);
    text.fill(Qt::white);
    {
        QPainter p(&text);
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setPixelSize(28);
        p.setFont(f);
        const QString words = QStringLiteral("il sottoscritto dichiara di aver preso visione del regolamento e di accettarne "
                                             "le condizioni per intero come indicato nella domanda presentata ");
        for (int y = 200, i = 0; y < 2200; y += 50, i += 7)
            p.drawText(150, y, words.mid(i % 60, 60));
    }
    const analysis::PageAnalysis t = analysis::AnalysePage(text);
    ExpectNothing(t, "text only");
    EXPECT_TRUE(t.skew.found);

    NEED_PORTRAIT();
    const CorpusPage page = MakeCorpusPage(0);
    QImage negative = page.picture.copy();
    negative.invertPixels();
    ExpectNothing(analysis::AnalysePage(negative), "negative scan");
    const QImage sideways = page.picture.transformed(QTransform().rotate(90));
    const analysis::PageAnalysis s = analysis::AnalysePage(sideways);
    ExpectNothing(s, "page on its side");
    EXPECT_FALSE(s.skew.found);
}

TEST(PageAnalysis, CancelledAnalysisFindsNothing)
{
    NEED_PORTRAIT();
    const CorpusPage page = MakeCorpusPage(0);
    std::atomic<bool> cancel{true};
    const analysis::PageAnalysis a = analysis::AnalysePage(page.picture, &cancel);
    EXPECT_TRUE(a.cancelled);
    ExpectNothing(a, "cancelled");
    EXPECT_FALSE(a.skew.found);
}

// The plan: whole-degree turn, frames mapped into the turned picture, the photo
// frame 259:314 inside the photo; a result for another picture is ignored.
TEST(PageAnalysis, PlanTurnsAndFramesInTheTurnedPicture)
{
    analysis::PageAnalysis r;
    r.pictureSize = QSize(2000, 3000);
    r.skew = {true, 2.6, 0.9};
    // A 400 x 520 photo turned by 2.6 degrees: its edges' box as the analysis reports it.
    const double t = 2.6 * M_PI / 180;
    const int bw = int(std::lround(400 * std::cos(t) + 520 * std::sin(t)));
    const int bh = int(std::lround(400 * std::sin(t) + 520 * std::cos(t)));
    r.photo.found = true;
    r.photo.framed = true;
    r.photo.photo = QRect(1000 - bw / 2, 800 - bh / 2, bw, bh);
    r.photo.face = QRect(930, 640, 140, 140);
    r.signature.found = true;
    r.signature.box = QRect(1200, 2500, 500, 150);

    const analysis::AutoCropPlan plan = analysis::PlanAutoCrop(r, r.pictureSize);
    EXPECT_EQ(plan.rotateDegrees, -3);
    EXPECT_EQ(plan.rotatedSize, analysis::TurnedSize(r.pictureSize, -3));
    ASSERT_TRUE(plan.hasPhoto);
    EXPECT_NEAR(double(plan.photoFrame.width()) / plan.photoFrame.height(), 259.0 / 314.0, 0.005);
    // The photo's own sides come back (less a sliver kept off the paper): not the box's.
    EXPECT_NEAR(plan.photoFrame.width(), 400 * 0.975, 4);
    const QPointF centre = analysis::MapIntoTurned(QPointF(1000, 800), r.pictureSize, plan.rotatedSize, -3);
    EXPECT_NEAR(plan.photoFrame.center().x(), centre.x(), 3);
    ASSERT_TRUE(plan.hasSignature);
    EXPECT_TRUE(plan.signatureFrame.contains(analysis::MapIntoTurned(QPointF(1450, 2575), r.pictureSize, plan.rotatedSize, -3).toPoint()));

    // Under a degree: left as it is.
    r.skew.degrees = 0.8;
    EXPECT_EQ(analysis::PlanAutoCrop(r, r.pictureSize).rotateDegrees, 0);
    // A result for another picture plans nothing.
    const analysis::AutoCropPlan other = analysis::PlanAutoCrop(r, QSize(2001, 3000));
    EXPECT_FALSE(other.hasPhoto);
    EXPECT_FALSE(other.hasSignature);
    EXPECT_EQ(other.rotateDegrees, 0);
}
