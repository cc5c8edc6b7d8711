// The source's dialog as a front-end: the area drawn on the preview and scanned exactly,
// the memory of area and resolution per scanner, the scanner list, and how its boxes look.

#include "ScanFixture.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

using namespace scantest;

class ScanDialog : public ScanFixture {
protected:
    // A press and drag on the preview from one point of the bed to another (mm).
    static void Drag(QDialog* d, QPointF fromMm, QPointF toMm)
    {
        QWidget* preview = d->findChild<QWidget*>("LbPreview");
        const double k = std::min((preview->width() - 1) / 300.0, (preview->height() - 1) / 300.0);
        const QPoint a = (fromMm * k).toPoint(), b = (toMm * k).toPoint();
        QTest::mousePress(preview, Qt::LeftButton, {}, a);
        QTest::mouseMove(preview, (a + b) / 2);
        QTest::mouseMove(preview, b);
        QTest::mouseRelease(preview, Qt::LeftButton, {}, b);
    }
    static double Box(QDialog* d, const char* name) { return d->findChild<QDoubleSpinBox*>(name)->value(); }
    static QRectF Boxes(QDialog* d)
    {
        return QRectF(QPointF(Box(d, "EdLeft"), Box(d, "EdTop")), QPointF(Box(d, "EdRight"), Box(d, "EdBottom")));
    }
};

TEST_F(ScanDialog, AreaDrawnOnThePreviewIsScannedExactlyAndRememberedForTheScanner)
{
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    d->resize(900, 700);
    QTest::qWait(20);
    // The scanner open is the one chosen, and "Aggiorna" keeps it chosen.
    auto* scanner = d->findChild<QComboBox*>("CbScanner");
    EXPECT_GE(scanner->count(), 2);
    EXPECT_EQ(scanner->currentData().toString(), device);
    Click(d, "BtRefresh");
    EXPECT_EQ(scanner->currentData().toString(), device);

    d->findChild<QSpinBox*>("EdResolution")->setValue(600);
    // Drawn backwards, from bottom right to top left: the boxes follow, on whole mm (the
    // device's step).
    Drag(d, {82.4, 101.7}, {17.2, 30.3});
    QRectF area = Boxes(d);
    EXPECT_NEAR(area.left(), 17, 1.01);
    EXPECT_NEAR(area.bottom(), 102, 1.01);
    for (double v : {area.left(), area.top(), area.right(), area.bottom()})
        EXPECT_DOUBLE_EQ(v, std::round(v));
    // Moved by its middle handle, then the bottom-right handle pulled out.
    Drag(d, area.center(), area.center() + QPointF(10, 5));
    EXPECT_EQ(Boxes(d), area.translated(10, 5));
    area = Boxes(d);
    Drag(d, area.bottomRight(), area.bottomRight() + QPointF(6, 8));
    EXPECT_EQ(Boxes(d).topLeft(), area.topLeft());
    EXPECT_NEAR(Boxes(d).width(), area.width() + 6, 1.01);
    // A box moves the drawn area as well.
    d->findChild<QDoubleSpinBox*>("EdTop")->setValue(Box(d, "EdTop") + 2);
    area = Boxes(d);

    const int w = int(area.width() / 25.4 * 600), h = int(area.height() / 25.4 * 600);
    EXPECT_EQ(d->findChild<QLabel*>("LbPixels")->text(), QString("%1 × %2 px").arg(w).arg(h));
    Click(d, "BtScan");
    ASSERT_TRUE(WaitClosed()) << boxes.All().toStdString();
    const QImage ref = ScanimageReference({"--mode", "Color", "--depth", "8", "--resolution", "600", "-l",
                                           QString::number(area.left()), "-t", QString::number(area.top()), "-x",
                                           QString::number(area.width()), "-y", QString::number(area.height())});
    ASSERT_FALSE(ref.isNull());
    EXPECT_EQ(commands->imTwain().size(), QSize(w, h));
    EXPECT_EQ(commands->imTwain(), ref);

    // The next scan with this scanner starts from that area and resolution; "Pagina
    // intera" gives the whole bed back.
    d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Boxes(d), area);
    EXPECT_EQ(d->findChild<QSpinBox*>("EdResolution")->value(), 600);
    Click(d, "BtFullPage");
    EXPECT_EQ(Boxes(d), QRectF(0, 0, 300, 300));
    Click(d, "BtAnnulla");
    ASSERT_TRUE(WaitClosed());
    // The options asking for another resolution win over the memory.
    window.resolution = "300";
    d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->findChild<QSpinBox*>("EdResolution")->value(), 300);
    Click(d, "BtAnnulla");
    ASSERT_TRUE(WaitClosed());
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.All().toStdString();
}

TEST_F(ScanDialog, AnotherScannerChosenInTheDialogScansAndGreyDepthAndModesAreOffered)
{
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    auto* scanner = d->findChild<QComboBox*>("CbScanner");
    const int other = scanner->findData("test:59");
    ASSERT_GE(other, 0);
    scanner->setCurrentIndex(other);
    emit scanner->activated(other);
    ASSERT_TRUE(WaitUntil([&] { return d->findChild<QPushButton*>("BtScan")->isEnabled(); }));
    EXPECT_EQ(scanner->currentData().toString(), "test:59");
    auto* mode = d->findChild<QComboBox*>("CbMode");
    EXPECT_EQ(mode->count(), 3);
    mode->setCurrentIndex(mode->findText("Scala di grigi"));
    auto* depth = d->findChild<QComboBox*>("CbDepth");
    EXPECT_TRUE(depth->isVisibleTo(d));
    depth->setCurrentIndex(depth->findData(16));
    Click(d, "BtScan");
    ASSERT_TRUE(WaitClosed()) << boxes.All().toStdString();
    const QImage ref = ScanimageReference({"--mode", "Gray", "--depth", "16", "--resolution", "200", "-l", "0", "-t",
                                           "0", "-x", "210", "-y", "297"});
    ASSERT_FALSE(ref.isNull());
    EXPECT_EQ(commands->imTwain(), ref);
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.All().toStdString();
}

TEST_F(ScanDialog, AreaBoxesLookAsEditableAsTheResolutionBox)
{
    QFile qss(QString::fromLocal8Bit(qgetenv("CORVANTA_SOURCE_DIR")) + "/resources/style/corvanta.qss");
    ASSERT_TRUE(qss.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(qss.readAll()));
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    auto background = [](QWidget* w) { return w->grab().toImage().pixelColor(6, w->height() / 2); };
    const QColor editable = background(d->findChild<QSpinBox*>("EdResolution"));
    for (const char* name : {"EdLeft", "EdTop", "EdRight", "EdBottom"})
        EXPECT_EQ(background(d->findChild<QDoubleSpinBox*>(name)), editable) << name;
    Click(d, "BtAnnulla");
    WaitClosed();
    qApp->setStyleSheet(QString());
}
