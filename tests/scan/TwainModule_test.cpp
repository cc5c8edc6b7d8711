// The acquisition module on its own: DIB arithmetic and conversion, name tables, its
// sequence-error boxes, the manager's state machine, and a manager that cannot be used.

#include "ScanFixture.h"

#include "scan/TW_Misc.h"
#include "scan/TW_Pixels.h"
#include "scan/TW_Table.h"

#include <algorithm>
#include <cstring>
#include <dlfcn.h>

using namespace scantest;

namespace {

// A DIB block as DoMemTransfer builds it, rows given top first in TWAIN order.
std::vector<uint8_t> MakeBlock(int w, int h, int bits, const std::vector<std::vector<uint8_t>>& rows, int colors = 0)
{
    const size_t stride = static_cast<size_t>(DibStride(bits, w));
    std::vector<uint8_t> b(40 + colors * 4 + stride * h, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
    put32(0, 40);
    put32(4, w);
    put32(8, h);
    b[12] = 1;
    b[14] = static_cast<uint8_t>(bits);
    put32(20, static_cast<uint32_t>(stride * h));
    put32(32, colors);
    for (int y = 0; y < h; ++y)
        std::memcpy(&b[40 + colors * 4 + y * stride], rows[y].data(), rows[y].size());
    return b;
}

} // namespace

TEST(TwainDib, MemoryBlockSizeAlwaysKeepsOneSpareBuffer)
{
    const int64_t stride = DibStride(24, 1700);
    EXPECT_EQ(stride, 5100);
    EXPECT_EQ(stride * 2200, 11220000);
    EXPECT_EQ(MemXferImageSize(stride, 2200, 65536), 11272192);
    EXPECT_EQ(MemXferImageSize(65536, 2, 65536), 3 * 65536);
    EXPECT_EQ(DibStride(1, 9), 4);
    EXPECT_EQ(DibStride(8, 5), 8);
}

TEST(TwainDib, FlipReversesRowsAndSwapsRedAndBlue)
{
    // Rows A (top) and B of a 3 x 2 RGB picture as the source sends them: R, G, B.
    const std::vector<uint8_t> a = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0};
    const std::vector<uint8_t> b = {11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0};
    std::vector<uint8_t> block = MakeBlock(3, 2, 24, {a, b});
    ASSERT_TRUE(FlipBitMap(block.data(), TWPT_RGB));
    const uint8_t* px = block.data() + 40;
    EXPECT_EQ(std::vector<uint8_t>(px, px + 9), (std::vector<uint8_t>{13, 12, 11, 16, 15, 14, 19, 18, 17}));
    EXPECT_EQ(std::vector<uint8_t>(px + 12, px + 21), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 9, 8, 7}));

    // Grey rows only change places; an odd row count leaves the middle row in place.
    std::vector<uint8_t> grey = MakeBlock(1, 3, 8, {{10}, {20}, {30}}, 256);
    ASSERT_TRUE(FlipBitMap(grey.data(), TWPT_GRAY));
    const uint8_t* g = grey.data() + 40 + 1024;
    EXPECT_EQ(g[0], 30);
    EXPECT_EQ(g[4], 20);
    EXPECT_EQ(g[8], 10);
}

TEST(TwainDib, FixUpTurnsEveryDepthIntoBgrRowsTopFirst)
{
    // 24-bit, bottom-up: the last stored row is the top of the picture.
    std::vector<uint8_t> rgb = MakeBlock(1, 2, 24, {{1, 2, 3}, {4, 5, 6}});
    QImage img = FixUp(nullptr, rgb.data(), rgb.size());
    ASSERT_EQ(img.format(), QImage::Format_BGR888);
    EXPECT_EQ(img.constScanLine(0)[0], 4);
    EXPECT_EQ(img.constScanLine(1)[2], 3);

    // 8-bit through its colour table (B, G, R, 0 entries).
    std::vector<uint8_t> pal = MakeBlock(2, 1, 8, {{0, 1}}, 2);
    const uint8_t table[8] = {10, 20, 30, 0, 40, 50, 60, 0};
    std::memcpy(pal.data() + 40, table, 8);
    img = FixUp(nullptr, pal.data(), pal.size());
    EXPECT_EQ(QColor(img.pixel(0, 0)), QColor(30, 20, 10));
    EXPECT_EQ(QColor(img.pixel(1, 0)), QColor(60, 50, 40));

    // 1-bit: the leftmost pixel is the high bit.
    std::vector<uint8_t> bw = MakeBlock(9, 1, 1, {{0x80, 0x80}}, 2);
    const uint8_t bwTable[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    std::memcpy(bw.data() + 40, bwTable, 8);
    img = FixUp(nullptr, bw.data(), bw.size());
    EXPECT_EQ(qGray(img.pixel(0, 0)), 255);
    EXPECT_EQ(qGray(img.pixel(1, 0)), 0);
    EXPECT_EQ(qGray(img.pixel(8, 0)), 255);

    // A block too short for its header's promise gives no picture rather than a crash.
    EXPECT_TRUE(FixUp(nullptr, rgb.data(), 44).isNull());
    EXPECT_TRUE(FixUp(nullptr, nullptr, 0).isNull());
}

TEST(TwainDib, StripsReceivedStraightIntoThePictureMatchTheBlockFlipAndFixUp)
{
    // The memory transfer folds gathering the block, FlipBitMap and FixUp into one pass;
    // for every depth, and strips that cut rows anywhere, the picture must be the same.
    struct Case {
        int bits;
        TW_UINT16 pixelType;
        int colors;
    };
    const Case cases[] = {{24, TWPT_RGB, 0}, {8, TWPT_GRAY, 256}, {1, TWPT_BW, 2}, {4, TWPT_PALETTE, 16},
                          {32, TWPT_RGB, 0}};
    const int w = 37, h = 5;  // two groups of the 16-pixel exchange and a tail
    for (const Case& c : cases) {
        const size_t stride = static_cast<size_t>(DibStride(c.bits, w));
        std::vector<std::vector<uint8_t>> rows(h, std::vector<uint8_t>(stride));
        for (int y = 0; y < h; ++y)
            for (size_t x = 0; x < stride; ++x)
                rows[y][x] = static_cast<uint8_t>(y * 31 + x * 17 + c.bits);
        std::vector<uint8_t> block = MakeBlock(w, h, c.bits, rows, c.colors);
        for (int i = 0; i < c.colors; ++i)
            for (int k = 0; k < 3; ++k)
                block[40 + i * 4 + k] = static_cast<uint8_t>(i * 3 + k * 50);
        const std::vector<uint8_t> header(block.begin(), block.begin() + 40 + c.colors * 4);
        ASSERT_TRUE(FlipBitMap(block.data(), c.pixelType));
        const QImage expected = FixUp(nullptr, block.data(), block.size());
        ASSERT_FALSE(expected.isNull()) << c.bits;

        // The source's rows, top first, handed over 7 bytes, then one row, then 2.5 rows
        // at a time, with one row too many at the end.
        std::vector<uint8_t> stream;
        for (const auto& r : rows)
            stream.insert(stream.end(), r.begin(), r.end());
        stream.insert(stream.end(), stride, 0xEE);
        const size_t chunks[] = {7, stride, stride * 5 / 2};
        QImage picture = NewScanPicture(w, h);
        TStripReceiver receiver(picture, static_cast<int64_t>(stride), c.bits, c.pixelType == TWPT_RGB, header.data(),
                                static_cast<uint32_t>(stride * 2));
        size_t sent = 0;
        for (int n = 0; sent < stream.size(); ++n) {
            TW_MEMORY mem{};
            ASSERT_TRUE(receiver.Next(mem));
            const size_t len = std::min({chunks[n % 3], static_cast<size_t>(mem.Length), stream.size() - sent});
            std::memcpy(mem.TheMem, stream.data() + sent, len);
            receiver.Took(static_cast<TW_UINT32>(len), mem);
            sent += len;
        }
        receiver.FillRest();
        EXPECT_EQ(picture, expected) << c.bits << " bits";
    }

    // A source that stops early leaves white rows, not stale memory.
    const size_t stride = static_cast<size_t>(DibStride(24, 3));
    QImage picture = NewScanPicture(3, 2);
    picture.fill(Qt::black);
    std::vector<uint8_t> header = MakeBlock(3, 2, 24, {{0}, {0}});
    TStripReceiver receiver(picture, static_cast<int64_t>(stride), 24, true, header.data(), 65536);
    TW_MEMORY mem{};
    ASSERT_TRUE(receiver.Next(mem));
    const uint8_t top[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    std::memcpy(mem.TheMem, top, sizeof top);
    receiver.Took(static_cast<TW_UINT32>(stride), mem);
    receiver.FillRest();
    EXPECT_EQ(QColor(picture.pixel(0, 0)), QColor(1, 2, 3));
    EXPECT_EQ(QColor(picture.pixel(2, 0)), QColor(7, 8, 9));
    EXPECT_EQ(QColor(picture.pixel(1, 1)), QColor(Qt::white));
}

TEST(TwainDib, ResolutionPaletteAndItemHelpers)
{
    EXPECT_EQ(PelsPerMeter(200, TWUN_INCHES), 7874);
    EXPECT_EQ(PelsPerMeter(80, TWUN_CENTIMETERS), 8000);
    EXPECT_EQ(PelsPerMeter(200, TWUN_PIXELS), 0);
    EXPECT_EQ(PelsPerMeter(200, 9), -1);
    EXPECT_FLOAT_EQ(FIX32ToFloat(TW_FIX32{2, 32768}), 2.5f);
    EXPECT_FLOAT_EQ(FIX32ToFloat(FloatToFIX32(-1.25)), -1.25f);
    EXPECT_EQ(AltTWItemSize(TWTY_STR32), 34);
    EXPECT_EQ(AltTWItemSize(TWTY_FRAME), 16);
    EXPECT_EQ(AltTWItemSize(TWTY_BOOL), 2);
    EXPECT_EQ(AltTWItemSize(TWTY_UINT8), 1);

    std::vector<uint8_t> grey = MakeBlock(1, 1, 8, {{0}}, 256);
    EXPECT_EQ(DibNumColors(grey.data()), 256);
    EXPECT_EQ(CreateBIPalette(grey.data()).size(), 256);
    std::vector<uint8_t> rgb = MakeBlock(1, 1, 24, {{0, 0, 0}});
    EXPECT_EQ(DibNumColors(rgb.data()), 0);

    std::string s = "unchanged";
    EXPECT_FALSE(MatchTwainInt(ReturnCodeNames, ReturnCodeCount, 99, s));
    EXPECT_EQ(s, "unchanged");
    EXPECT_TRUE(MatchTwainInt(ConditionCodeNames, ConditionCodeCount, TWCC_SEQERROR, s));
    EXPECT_EQ(s, "TWCC_SEQERROR");
    EXPECT_TRUE(MatchTwainInt(CapabilityNames, CapabilityCount, ICAP_XRESOLUTION, s));
    EXPECT_EQ(s, "ICAP_XRESOLUTION");
    // The count limits the search.
    EXPECT_FALSE(MatchTwainInt(ReturnCodeNames, 3, TWRC_CANCEL, s));

    const uint32_t fixBits = 0x00008000u << 16 | 3;  // 3.5
    EXPECT_EQ(GetItem(s, TWTY_FIX32, &fixBits), "3.500000");
    const char unterminated[34] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q',
                                   'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6', '7'};
    EXPECT_EQ(GetItem(s, TWTY_STR32, unterminated).size(), 34u);
}

TEST(TwainIdentity, TheProgramDeclaresItselfAsTheManagerExpects)
{
    const TW_IDENTITY id = CorvantaAppIdentity();
    EXPECT_EQ(+id.Id, 0u);
    EXPECT_EQ(+id.Version.MajorNum, 2);
    EXPECT_EQ(+id.Version.MinorNum, 2009);
    EXPECT_EQ(+id.Version.Language, TWLG_ITALIAN);
    EXPECT_EQ(+id.Version.Country, TWCY_ITALY);
    EXPECT_STREQ(id.Version.Info, "2.x.x.x");
    EXPECT_EQ(+id.SupportedGroups, 3u);
    EXPECT_STREQ(id.ProductName, "Corvanta");
    // Everything after each text is zero.
    const auto* raw = reinterpret_cast<const uint8_t*>(&id);
    for (size_t i = offsetof(TW_IDENTITY, Manufacturer) + std::strlen("Lodrevan"); i < offsetof(TW_IDENTITY, ProductFamily); ++i)
        EXPECT_EQ(raw[i], 0) << i;
}

class TwainModule : public ScanFixture {
protected:
    void Connect()
    {
        TWUnInitialize();
        ASSERT_TRUE(TWInitialize(CorvantaAppIdentity(), nullptr, &target));
        XferMechChoice = 2;
    }
    QImage target;
};

TEST_F(TwainModule, OperationsOutOfSequenceShowTheirBoxesAndChangeNothing)
{
    Connect();
    EXPECT_FALSE(TWCloseDSM());
    EXPECT_FALSE(TWOpenDS());
    EXPECT_FALSE(TWCloseDS());
    EXPECT_FALSE(TWEnableDS(TW_TRUE));
    EXPECT_FALSE(TWDisableDS());
    EXPECT_TRUE(boxes.Saw("Impossibile chiudere il gestore dispositivi\nGestore dispositivi non aperto."));
    EXPECT_TRUE(boxes.Saw("Impossibile aprire il dispositivo\nGestore dispositivi non aperto"));
    EXPECT_TRUE(boxes.Saw("Impossibile chiudere il dispositivo\nDispositivo non aperto"));
    EXPECT_TRUE(boxes.Saw("Impossibile abilitare il dispositivo\nDispositivo non aperto"));
    EXPECT_TRUE(boxes.Saw("Impossibile disabilitare il dispositivo, perchè non è stato abilitato"));
    EXPECT_FALSE(ProcessTWMessage(nullptr, nullptr));  // nothing open: the manager is not called

    // With a source open: no second selection, no closing of the manager.
    boxes.Clear();
    ASSERT_TRUE(TWOpenDSM());
    ASSERT_TRUE(TWOpenDS());
    const TW_IDENTITY opened = SourceIdentity;
    EXPECT_FALSE(TWSelectDS());
    EXPECT_EQ(std::memcmp(&opened, &SourceIdentity, sizeof opened), 0);
    EXPECT_FALSE(TWCloseDSM());
    EXPECT_TRUE(ManagerOpen);
    EXPECT_TRUE(boxes.Saw("Un dispositivo è già stato aperto"));
    EXPECT_TRUE(boxes.Saw("Un dispositivo è già aperto"));
    EXPECT_TRUE(TWCloseDS());
    EXPECT_TRUE(TWCloseDSM());
    EXPECT_FALSE(ManagerOpen);
}

TEST_F(TwainModule, TheManagerAnswersSequenceErrors)
{
    Connect();
    ASSERT_TRUE(TWOpenDSM());
    ASSERT_TRUE(TWOpenDS());
    // Image information exists only once a transfer is ready.
    TW_IMAGEINFO info{};
    EXPECT_EQ(CallDSMEntry(&AppIdentity, &SourceIdentity, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
    EXPECT_EQ(+SourceStatus.ConditionCode, TWCC_SEQERROR);
    // A second MSG_OPENDSM, and disabling a source that is not enabled.
    TW_UINT16 rc = CallDSMEntry(&AppIdentity, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &ParentWindow);
    EXPECT_EQ(rc, TWRC_FAILURE);
    EXPECT_EQ(+SourceStatus.ConditionCode, TWCC_SEQERROR);
    TW_USERINTERFACE ui{TW_TRUE, 0, nullptr};
    rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    EXPECT_EQ(rc, TWRC_FAILURE);
    EXPECT_EQ(+SourceStatus.ConditionCode, TWCC_SEQERROR);
    // Palettes are not offered; an unknown destination is refused.
    TW_PALETTE8 pal{};
    EXPECT_EQ(CallDSMEntry(&AppIdentity, &SourceIdentity, DG_IMAGE, DAT_PALETTE8, MSG_GET, &pal), TWRC_FAILURE);
    TW_IDENTITY stranger = SourceIdentity;
    stranger.Id += 1000;
    EXPECT_EQ(CallDSMEntry(&AppIdentity, &stranger, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
    EXPECT_EQ(+SourceStatus.ConditionCode, TWCC_BADDEST);
    // Capabilities answer with the values the module reads.
    TW_CAPABILITY cap{ICAP_UNITS, TWON_DONTCARE16, nullptr};
    ASSERT_EQ(CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap),
              TWRC_SUCCESS);
    EXPECT_EQ(+cap.ConType, TWON_ONEVALUE);
    EXPECT_EQ(+static_cast<TW_ONEVALUE*>(cap.hContainer)->Item, TWUN_INCHES);
    std::free(cap.hContainer);
    EXPECT_TRUE(TWCloseDS());
    EXPECT_TRUE(TWCloseDSM());
}

TEST_F(TwainModule, ReadyTransferWhileNotArmedShowsItsBoxAndTransfersNothing)
{
    QDialog* d = OpenSourceDialog();
    ASSERT_NE(d, nullptr);
    const unsigned before = PictureSerial;
    AcquireFlag = 0;
    Click(d, "BtScan");
    ASSERT_TRUE(WaitUntil([&] { return boxes.Saw("Received while not in state 5"); }));
    EXPECT_TRUE(boxes.Saw("MSG_XFERREADY"));
    EXPECT_EQ(PictureSerial, before);
    // The user can still close the dialog; the waiting page is dropped.
    Click(d, "BtAnnulla");
    ASSERT_TRUE(WaitClosed());
    EXPECT_TRUE(window.loaded.isEmpty());
}

TEST_F(TwainModule, NativeTransferWithoutInterfaceGivesThePage)
{
    Connect();
    ScanResolution = 100;
    XferMechChoice = 0;
    const unsigned before = PictureSerial;
    ASSERT_TRUE(TWAcquire(nullptr, TW_FALSE, 1));
    ASSERT_TRUE(WaitUntil([&] { return !TScanCommands::ConnectionOpen(); }));
    ASSERT_EQ(PictureSerial, before + 1) << boxes.All().toStdString();
    const QImage ref = ScanimageReference({"--mode", "Color", "--depth", "8", "--resolution", "100", "-l", "0", "-t",
                                           "0", "-x", "210", "-y", "297"});
    EXPECT_EQ(target, ref);
    EXPECT_EQ(AcquireFlag, 0);
}

TEST_F(TwainModule, AMissingManagerAbandonsTheScanAndTheProgramCarriesOn)
{
    const QString missing = TempDir() + "/missing/libcorvanta_dsm.so";
    SetTwainDllPath(missing);
    commands->BtScanNowClick();
    EXPECT_TRUE(boxes.Saw("Impossibile caricare la libreria"));
    EXPECT_TRUE(boxes.Saw(QString::fromUtf8("Il gestore dispositivi non è installato: manca il file ") + missing))
        << boxes.All().toStdString();
    EXPECT_FALSE(TScanCommands::ConnectionOpen());
    EXPECT_FALSE(commands->TwainACQ());
    EXPECT_TRUE(window.loaded.isEmpty());
    EXPECT_EQ(boxes.Boxes.size(), 1u) << boxes.All().toStdString();

    // Looked up by name, neither beside the test program nor in an installed
    // library folder: both places are named.
    SetTwainDllPath(QString());
    boxes.Clear();
    commands->BtScanNowClick();
    const QString here = QCoreApplication::applicationDirPath();
    EXPECT_TRUE(boxes.Saw(QString::fromUtf8("il file libcorvanta_dsm.so non si trova né in ") + here + " né in "))
        << boxes.All().toStdString();
    EXPECT_TRUE(boxes.Saw("/corvanta.")) << boxes.All().toStdString();
    EXPECT_EQ(boxes.Boxes.size(), 1u) << boxes.All().toStdString();
    EXPECT_FALSE(TScanCommands::ConnectionOpen());

    // A library without the entry point: said once when loading, then every manager
    // call is refused plainly.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::strlen), &info), 0);
    SetTwainDllPath(QString::fromLocal8Bit(info.dli_fname));
    boxes.Clear();
    TWUnInitialize();
    EXPECT_FALSE(TWInitialize(CorvantaAppIdentity(), nullptr, nullptr));
    EXPECT_TRUE(boxes.Saw("Impossibile accedere alla funzione DSM_Entry()"));
    EXPECT_FALSE(TWOpenDSM());
    EXPECT_TRUE(boxes.Saw("non contiene la funzione DSM_Entry()"));
    EXPECT_FALSE(ManagerOpen);
    TWUnInitialize();
}
