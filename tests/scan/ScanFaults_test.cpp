// Faults injected through the SANE test backend's own options: every one must give the
// user its message, crash nothing and lose nothing the user had.

#include "ScanFixture.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>

using namespace scantest;

namespace {

QByteArray FileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
}

} // namespace

class ScanFaults : public ScanFixture {
protected:
    // A first good scan, so there is a "Scansione.bmp" and a picture in the view to keep.
    void ScanSomethingFirst()
    {
        ScanAndWait();
        ASSERT_EQ(window.loaded.size(), 1);
        firstHash = FileHash(window.acqFile);
        ASSERT_FALSE(firstHash.isEmpty());
        firstPicture = commands->imTwain();
    }
    void ExpectNothingLost()
    {
        EXPECT_EQ(window.loaded.size(), 1) << "the view was reloaded";
        EXPECT_EQ(FileHash(window.acqFile), firstHash) << "Scansione.bmp changed";
        EXPECT_EQ(commands->imTwain(), firstPicture);
        EXPECT_FALSE(TScanCommands::ConnectionOpen());
        EXPECT_TRUE(window.buttonEnabled);
    }
    QByteArray firstHash;
    QImage firstPicture;
};

TEST_F(ScanFaults, ReadErrorsShowTheirItalianMessageAndKeepTheLastScan)
{
    ScanSomethingFirst();
    struct Case {
        const char* status;
        const char* words;
    };
    const Case cases[] = {
        {"SANE_STATUS_JAMMED", "Carta inceppata"},
        {"SANE_STATUS_NO_DOCS", "Nessun documento"},
        {"SANE_STATUS_COVER_OPEN", "coperchio"},
        {"SANE_STATUS_DEVICE_BUSY", "occupato"},
        {"SANE_STATUS_IO_ERROR", "ingresso/uscita"},
        {"SANE_STATUS_NO_MEM", "Memoria insufficiente"},
        {"SANE_STATUS_ACCESS_DENIED", "Accesso allo scanner negato"},
        {"SANE_STATUS_EOF", "pagina vuota"},
    };
    // The test backend may hang in sane_cancel after a failed read; the source's
    // watchdog then abandons that device for the rest of the process, so each fault
    // gets a device of its own.
    int faultDevice = 2;
    for (const Case& c : cases) {
        UseDevice(QString("test:%1").arg(faultDevice++));
        ClearDeviceOptions();
        SetDeviceOption("read-return-value", c.status);
        const QString message = FailingScan();
        EXPECT_TRUE(message.contains(c.words)) << c.status << ": " << message.toStdString();
        // The only box allowed is the watchdog's offer to abandon a hung device.
        for (const auto& b : boxes.Boxes)
            EXPECT_TRUE(b.second.contains("non risponde")) << b.second.toStdString();
        boxes.Clear();
        ExpectNothingLost();
    }
    // Whatever the backend did after the failures, the program can still scan.
    ClearDeviceOptions();
    UseDevice(device);
    ScanAndWait();
    EXPECT_EQ(window.loaded.size(), 2);
}

TEST_F(ScanFaults, ReadLimitAndReadDelayGiveIdenticalPictures)
{
    const QImage ref = ScanimageReference(A4Colour200());
    ASSERT_FALSE(ref.isNull());
    const std::vector<std::vector<std::pair<const char*, const char*>>> variants = {
        {{"read-limit", "yes"}, {"read-limit-size", "997"}},
        {{"read-delay", "yes"}, {"read-delay-duration", "1000"}},
    };
    for (const auto& v : variants) {
        ClearDeviceOptions();
        for (const auto& kv : v)
            SetDeviceOption(kv.first, kv.second);
        ScanAndWait();
        EXPECT_EQ(commands->imTwain(), ref) << v.front().first;
    }
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.All().toStdString();
}

TEST_F(ScanFaults, UnusualPageLayoutsBecomeTheSamePictureScanimageGives)
{
    struct Case {
        std::vector<std::pair<const char*, const char*>> options;
        QStringList scanimageArgs;
        int tolerance;
    };
    const std::vector<Case> cases = {
        // Rows padded beyond their pixels.
        {{{"ppl-loss", "7"}}, A4Colour200(), 0},
        // Unknown page length, read until the device says it is done.
        {{{"hand-scanner", "yes"}}, A4Colour200() + QStringList{"--hand-scanner=yes"}, 0},
        // One frame per colour, put back together.
        {{{"three-pass", "yes"}}, A4Colour200(), 0},
        // 16 bits per sample brought down to their high byte.
        {{{"depth", "16"}}, QStringList{"--mode", "Color", "--depth", "16", "--resolution", "200", "-l", "0", "-t", "0",
                                        "-x", "210", "-y", "297"}, 0},
    };
    for (const Case& c : cases) {
        ClearDeviceOptions();
        for (const auto& kv : c.options)
            SetDeviceOption(kv.first, kv.second);
        const unsigned before = PictureSerial;
        ScanAndWait();
        ASSERT_EQ(PictureSerial, before + 1) << c.options.front().first << boxes.All().toStdString();
        QImage ref = ScanimageReference(c.scanimageArgs);
        // The lost pixels are the last ones of each row of the ordinary page.
        if (c.options.front().first == std::string("ppl-loss"))
            ref = ref.copy(0, 0, ref.width() - 7, ref.height());
        ASSERT_FALSE(ref.isNull());
        const QImage& got = commands->imTwain();
        ASSERT_EQ(got.size(), ref.size()) << c.options.front().first;
        int worst = 0;
        for (int y = 0; y < got.height(); ++y) {
            const uchar* a = got.constScanLine(y);
            const uchar* b = ref.constScanLine(y);
            for (int x = 0; x < got.width() * 3; ++x)
                worst = std::max(worst, std::abs(int(a[x]) - int(b[x])));
        }
        EXPECT_LE(worst, c.tolerance) << c.options.front().first;
    }
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.All().toStdString();
}

TEST_F(ScanFaults, FeederSheetsBecomeOneListEntryEachUntilTheFeederRunsOut)
{
    // The test feeder holds ten sheets. The feeder is chosen in the dialog, as a user
    // would; the fixture's extra options would put the flatbed back.
    SetDeviceOption(nullptr, nullptr);
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    auto* source = d->findChild<QComboBox*>("CbSource");
    ASSERT_TRUE(source->isVisibleTo(d));
    source->setCurrentIndex(source->findText("Alimentatore automatico (ADF)"));
    d->findChild<QSpinBox*>("EdResolution")->setValue(25);
    const unsigned before = PictureSerial;
    Click(d, "BtScan");
    ASSERT_TRUE(WaitClosed()) << boxes.All().toStdString();
    EXPECT_EQ(PictureSerial, before + 10);
    EXPECT_TRUE(boxes.Boxes.empty()) << boxes.All().toStdString();
    // Every sheet its own file, in order, all in the list; the first is "Scansione.bmp".
    ASSERT_EQ(window.sheetFiles.size(), 10);
    ASSERT_EQ(window.sheets.size(), 10);
    EXPECT_EQ(window.sheetFiles.front(), window.acqFile);
    const QImage ref = ScanimageReference({"--mode", "Color", "--depth", "8", "--resolution", "25", "-l", "0", "-t", "0",
                                           "-x", "210", "-y", "297"});
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(window.sheetFiles[i], FeederSheetFile(window.acqFile, i));
        const QImage file(window.sheetFiles[i]);
        EXPECT_EQ(file.convertToFormat(QImage::Format_BGR888), window.sheets[i]) << i;
        EXPECT_EQ(window.sheets[i], ref) << i;
        EXPECT_EQ(file.dotsPerMeterX(), 984) << i;  // 25 dpi
    }
    EXPECT_TRUE(window.sheetFiles[1].endsWith("Scansione_2.bmp")) << window.sheetFiles[1].toStdString();
}

TEST_F(ScanFaults, StopBeforeThePageFlowsKeepsTheDialogAndTheLastScan)
{
    ScanSomethingFirst();
    SetDeviceOption("read-delay", "yes");
    SetDeviceOption("read-delay-duration", "200000");
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    Click(d, "BtScan");
    // Still inside the device's first (slow) read: nothing has been handed over yet.
    Click(d, "BtStop");
    ASSERT_TRUE(WaitUntil([&] { return d->findChild<QPushButton*>("BtScan")->isEnabled(); }));
    EXPECT_TRUE(Status(d).contains("interrotta")) << Status(d).toStdString();
    Click(d, "BtAnnulla");
    ASSERT_TRUE(WaitClosed());
    ExpectNothingLost();
}

TEST_F(ScanFaults, StopWhileStripsFlowEndsTheTransferAndKeepsTheLastScan)
{
    ScanSomethingFirst();
    SetDeviceOption("read-delay", "yes");
    SetDeviceOption("read-delay-duration", "200000");
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    auto* bar = d->findChild<QProgressBar*>("PbProgress");
    // Strips are fetched while the device reads, from inside the transfer; the user's
    // Stop reaches the dialog from there, as in the program.
    QString statusAtStop;
    const unsigned before = PictureSerial;
    WhenShown([&]() -> QWidget* { return bar->value() > 0 && Status(d).contains("Trasferimento") ? d : nullptr; },
              [&](QWidget*) {
                  statusAtStop = Status(d);
                  Click(d, "BtStop");
              });
    Click(d, "BtScan");
    ASSERT_TRUE(WaitClosed()) << boxes.All().toStdString();
    EXPECT_TRUE(statusAtStop.contains("Trasferimento")) << statusAtStop.toStdString();
    EXPECT_EQ(PictureSerial, before);
    ExpectNothingLost();
    // A cancel is the user's own doing: no error box. The test backend may be slow to
    // end a delayed read, so the watchdog's question is the one box allowed.
    for (const auto& b : boxes.Boxes)
        EXPECT_TRUE(b.second.contains("non risponde")) << b.second.toStdString();
}

TEST_F(ScanFaults, WatchdogOffersToAbandonASilentDeviceAndTheProgramStaysUsable)
{
    ScanSomethingFirst();
    // Each buffer takes longer than the watchdog allows.
    SetWatchdogMs(100);
    SetDeviceOption("read-delay", "yes");
    SetDeviceOption("read-delay-duration", "200000");
    SetDeviceOption("br-x", "30");
    SetDeviceOption("br-y", "30");

    // Answering "No" keeps waiting, and the page still arrives.
    boxes.RefuseAbandon = true;
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    Click(d, "BtScan");
    ASSERT_TRUE(WaitClosed());
    EXPECT_TRUE(boxes.Saw("non risponde")) << boxes.All().toStdString();
    EXPECT_EQ(window.loaded.size(), 2);
    firstHash = FileHash(window.acqFile);
    firstPicture = commands->imTwain();
    window.loaded.removeFirst();

    // Answering "Sì" abandons the device. Before its first rows the dialog stays and says
    // so, and closing it still works at once; once rows flow, the transfer fails, its end
    // closes the dialog and a box says so. Which of the two the timing gives is the
    // backend's affair; both must lose nothing.
    boxes.Clear();
    boxes.RefuseAbandon = false;
    QPointer<QDialog> dialog = OpenSourceDialog();
    ASSERT_FALSE(dialog.isNull());
    Click(dialog, "BtScan");
    ASSERT_TRUE(WaitUntil([&] { return dialog.isNull() || Status(dialog).contains("abbandonato"); }));
    if (dialog) {
        EXPECT_FALSE(dialog->findChild<QPushButton*>("BtScan")->isEnabled());
        Click(dialog, "BtAnnulla");
    } else {
        EXPECT_TRUE(boxes.Saw("abbandonato")) << boxes.All().toStdString();
    }
    ASSERT_TRUE(WaitClosed());
    ExpectNothingLost();
}

TEST_F(ScanFaults, AfterAFailedReadReturnScansAgainAndClosingGivesTheButtonBackAtOnce)
{
    // A failed read may leave the backend hung in ending it; retries and the close must
    // neither wait for it nor ask the watchdog's question.
    SetDeviceOption("read-return-value", "SANE_STATUS_INVAL");
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    auto* right = d->findChild<QDoubleSpinBox*>("EdRight");
    const double areaRight = right->value();
    auto* bar = d->findChild<QProgressBar*>("PbProgress");
    auto* status = d->findChild<QLabel*>("LbStatus");
    Click(d, "BtScan");
    for (int round = 0; round < 12; ++round) {
        ASSERT_TRUE(WaitUntil([&] { return bar->isHidden() && !status->text().contains("Scansione in corso"); }, 20000))
            << "round " << round << ": " << status->text().toStdString() << boxes.All().toStdString();
        EXPECT_TRUE(status->text().contains("non accetta") || status->text().contains("occupato"))
            << status->text().toStdString();
        // Return goes to "Scansiona" wherever the failure left the focus.
        status->setText("-");
        QWidget* focus = d->focusWidget() ? d->focusWidget() : d;
        QTest::keyClick(focus, Qt::Key_Return);
        ASSERT_NE(status->text(), "-") << "Return did not scan (focus on " << focus->objectName().toStdString() << ")";
    }
    ASSERT_TRUE(WaitUntil([&] { return bar->isHidden() && !status->text().contains("Scansione in corso"); }, 20000));
    EXPECT_EQ(right->value(), areaRight) << "Return changed the area";
    Click(d, "BtAnnulla");
    // The button comes back with the next events, not after a device that may never end.
    ASSERT_TRUE(WaitUntil([&] { return window.buttonEnabled && !TScanCommands::ConnectionOpen(); }, 1000));
    for (const auto& b : boxes.Boxes)
        EXPECT_FALSE(b.second.contains("non risponde")) << b.second.toStdString();
}
