// Not a check: writes pictures of the main window for a person to look at.
// Runs only when CORVANTA_SCREENSHOT_DIR names a folder (tools/screenshots.sh).
// The windows come up as at a first start, on settings in a temporary folder.

#include "app_fixture.h"

#include <QDir>

namespace {
QString ShotDir()
{
    return qEnvironmentVariable("CORVANTA_SCREENSHOT_DIR");
}

void Shoot(QWidget* w, const QString& name)
{
    // The view renders a size change on its next tick.
    QTest::qWait(30);
    w->grab().save(QDir(ShotDir()).filePath(name));
}

QPoint OnView(TZSImage* view, QPoint picturePixel)
{
    const TRect c = view->CanvasBitmapRect();
    const TRect o = view->OrigBitmapRect();
    const double s = view->GetScale();
    return QPoint(c.Left + static_cast<int>((picturePixel.x() - o.Left) * s),
                  c.Top + static_cast<int>((picturePixel.y() - o.Top) * s));
}
} // namespace

class Screenshots : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ShotDir().isEmpty())
            GTEST_SKIP() << "set CORVANTA_SCREENSHOT_DIR to write the screenshots";
        ASSERT_TRUE(Dir.isValid());
        if (!Utils)
            InitOptionsUnit();
        qputenv("XDG_DATA_HOME", Dir.path().toUtf8());
        QDir().mkpath(Dir.filePath(QStringLiteral("Lodrevan/Corvanta")));
        IniFileName = Dir.filePath(QStringLiteral("Lodrevan/Corvanta/corvanta.ini"));
        qApp->setStyleSheet(LoadStyleSheet());
        CreateCorvantaWindows();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FormCrop));
    }
    void TearDown() override
    {
        DestroyCorvantaWindows();
        qApp->setStyleSheet(QString());
    }
    QTemporaryDir Dir;
};

TEST_F(Screenshots, StartScreenPhotoAndSignature)
{
    TFormCrop* form = FormCrop;
    TZSImage* view = form->ZSImage;
    Shoot(form, QStringLiteral("01_start.png"));

    // The mouse on the "foto" line of the guide: its bar blinks beside the photo slot.
    THoverLabel probe(QStringLiteral("foto"), form->PanelLogo, 3);
    form->LabelHMouseMove(&probe);
    form->TimerHTimer();
    Shoot(form, QStringLiteral("02_guide_bar.png"));
    form->LabelHMouseLeave(&probe);

    const int dpi = 150;
    const QString path = AppTest::SavePicture(AppTest::MakeScannedForm(dpi), Dir.path(), QStringLiteral("modulo.png"));
    form->ChoosePictureFiles = [path] { return QStringList{path}; };
    form->BtLoadImagesClick();
    Shoot(form, QStringLiteral("03_loaded.png"));

    // A click on the photo of the form: zoom 1 around it and the photo frame there.
    const QPoint photo = OnView(view, AppTest::FormPhotoRect(dpi).center());
    AppTest::Press(view, photo);
    AppTest::Release(view, photo);
    Shoot(form, QStringLiteral("04_photo_frame.png"));

    // The frame's corner pulled in and released: the photo is cut into its slot.
    const TRect r = view->Selection()->GetSelRect();
    AppTest::Drag(view->Selection(), QPoint(r.Right, r.Bottom), QPoint(r.Right - 40, r.Bottom - 48));
    AppTest::Move(view->Selection(), QPoint(r.Left + 30, r.Top + 30), Qt::NoButton);
    Shoot(form, QStringLiteral("05_photo_cropped.png"));

    // Signature: key 2 places its frame in the middle of the view; then a frame
    // is drawn round the ink and released.
    form->OrImageFirmaClick();
    Shoot(form, QStringLiteral("06_signature_frame.png"));
    const QRect sig = AppTest::FormSignatureRect(dpi).adjusted(-20, -20, 20, 20);
    view->StretchImage(TPoint(sig.center().x(), sig.center().y()));
    const QPoint from = OnView(view, sig.topLeft());
    const QPoint to = OnView(view, sig.bottomRight());
    view->Selection()->SetSelRect(TRect(from.x(), from.y(), to.x(), to.y()));
    AppTest::Drag(view->Selection(), QPoint(to.x(), to.y()), QPoint(to.x() + 1, to.y()));
    AppTest::Move(view->Selection(), (from + to) / 2, Qt::NoButton);
    Shoot(form, QStringLiteral("07_signature_cropped.png"));
}
