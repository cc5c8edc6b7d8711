// Not a check: writes pictures of the main window for a person to look at.
// Runs only when CORVANTA_SCREENSHOT_DIR names a folder (tools/screenshots.sh).

#include "app_fixture.h"

#include <QDir>

namespace {
QString ShotDir()
{
    return qEnvironmentVariable("CORVANTA_SCREENSHOT_DIR");
}

void Shoot(QWidget* w, const QString& name)
{
    QCoreApplication::processEvents();
    w->grab().save(QDir(ShotDir()).filePath(name));
}
} // namespace

class Screenshots : public AppFixture {
protected:
    void SetUp() override
    {
        if (ShotDir().isEmpty())
            GTEST_SKIP() << "set CORVANTA_SCREENSHOT_DIR to write the screenshots";
        AppFixture::SetUp();
    }
};

TEST_F(Screenshots, StartScreenPhotoAndSignature)
{
    Shoot(Form.get(), QStringLiteral("01_start.png"));

    // Hovering the "scanner" line: its bar blinks beside the scanner button.
    Form->PnhScanner->show();
    Form->PnhFoto->show();
    Shoot(Form.get(), QStringLiteral("02_guide_bars.png"));
    Form->PnhScanner->hide();
    Form->PnhFoto->hide();

    LoadForm(150);
    QTest::qWait(50); // the view renders a size change on its next tick
    Shoot(Form.get(), QStringLiteral("03_loaded.png"));

    // A click on the photo of the form: zoom 1 around it, photo frame there.
    const QRect photo = AppTest::FormPhotoRect(150);
    const TRect c = View()->CanvasBitmapRect();
    const double s = View()->GetScale();
    const QPoint at(c.Left + static_cast<int>(photo.center().x() * s), c.Top + static_cast<int>(photo.center().y() * s));
    AppTest::Press(View(), at);
    AppTest::Release(View(), at);
    Shoot(Form.get(), QStringLiteral("04_photo_frame.png"));

    const TRect r = Sel()->GetSelRect();
    AppTest::Drag(Sel(), QPoint(r.Right, r.Bottom), QPoint(r.Right - 40, r.Bottom - 40));
    Form->BtSaveImgClick();
    Shoot(Form.get(), QStringLiteral("05_photo_cropped.png"));

    Form->OrImageFirmaClick();
    Shoot(Form.get(), QStringLiteral("06_signature_frame.png"));
    Form->BtSaveImgClick();
    Shoot(Form.get(), QStringLiteral("07_signature_cropped.png"));
}
