// Image transfers of the acquisition module: memory strips, native DIB and file, and
// the conversion of the received DIB into the 24-bit target picture.

#include "scan/TW_Apps.h"
#include "scan/TW_Misc.h"
#include "scan/TW_Pixels.h"

#include "platform/ImageAlloc.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr int kHeaderSize = 40;
constexpr int kColorTableRoom = 1024;

struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
};
using BlockPtr = std::unique_ptr<uint8_t, FreeDeleter>;

void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void Put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
uint32_t Get32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t Get16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// The hourglass from the start of a transfer to its end; put back early on a failed strip.
class TWaitCursor {
public:
    TWaitCursor()
    {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            active_ = true;
        }
    }
    ~TWaitCursor() { Restore(); }
    void Restore()
    {
        if (active_)
            QGuiApplication::restoreOverrideCursor();
        active_ = false;
    }

private:
    bool active_ = false;
};

void GreyRamp(uint8_t* table)
{
    for (int i = 0; i < 256; ++i) {
        table[i * 4] = table[i * 4 + 1] = table[i * 4 + 2] = static_cast<uint8_t>(i);
        table[i * 4 + 3] = 0;
    }
}

// MSG_ENDXFER; on failure the report, and the Count stays 0 so the connection closes.
TW_UINT16 EndXfer(QWidget* window, const char* caption)
{
    TW_PENDINGXFERS pending{};
    const TW_UINT16 rc =
        CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    if (rc != TWRC_SUCCESS) {
        ShowRC_CC(window, TWML_ERROR, rc, caption);
        pending.Count = 0;
    }
    return pending.Count;
}

void DeliverPicture(QWidget* window, const uint8_t* block, size_t size)
{
    QImage img = FixUp(window, block, size);
    if (TargetBitmap && !img.isNull()) {
        *TargetBitmap = std::move(img);
        ++PictureSerial;
        if (PictureDelivered)
            PictureDelivered(*TargetBitmap);
    }
}

// Resolution fields of the DIB header from ICAP_UNITS and the image information.
void SetResolution(QWidget* window, uint8_t* header, const TW_IMAGEINFO& info)
{
    TW_CAPABILITY cap{ICAP_UNITS, TWON_DONTCARE16, nullptr};
    const TW_UINT16 rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap);
    if (rc != TWRC_SUCCESS) {
        ShowRC_CC(window, TWML_ERROR, rc, "DG_CONTROL/DAT_CAPABILITY/MSG_GETCURRENT");
        Put32(header + 24, 0);
        Put32(header + 28, 0);
        return;
    }
    TW_UINT16 unit = TWUN_INCHES;
    if (cap.hContainer) {
        unit = static_cast<TW_UINT16>(static_cast<TW_ONEVALUE*>(cap.hContainer)->Item & 0xFFFF);
        std::free(cap.hContainer);
    }
    const int32_t x = PelsPerMeter(FIX32ToFloat(info.XResolution), unit);
    const int32_t y = PelsPerMeter(FIX32ToFloat(info.YResolution), unit);
    if (x >= 0)
        Put32(header + 24, static_cast<uint32_t>(x));
    if (y >= 0)
        Put32(header + 28, static_cast<uint32_t>(y));
}

// The picture states the scan's own density, so "Scansione.bmp" prints at its true size;
// a header without one leaves the picture's default.
void CarryDensity(const uint8_t* header, QImage& picture)
{
    const auto x = static_cast<int32_t>(Get32(header + 24));
    const auto y = static_cast<int32_t>(Get32(header + 28));
    if (x > 0)
        picture.setDotsPerMeterX(x);
    if (y > 0)
        picture.setDotsPerMeterY(y);
}

// Colour table by pixel type; returns the number of entries written.
uint32_t FillColorTable(QWidget* window, uint8_t* header, TW_INT16 pixelType)
{
    uint8_t* table = header + kHeaderSize;
    switch (pixelType) {
    case TWPT_BW: {
        TW_UINT16 flavour = TWPF_CHOCOLATE;
        TW_CAPABILITY cap{ICAP_PIXELFLAVOR, TWON_DONTCARE16, nullptr};
        const TW_UINT16 rc =
            CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap);
        if (rc == TWRC_SUCCESS && cap.ConType == TWON_ONEVALUE && cap.hContainer)
            flavour = static_cast<TW_UINT16>(static_cast<TW_ONEVALUE*>(cap.hContainer)->Item & 0xFFFF);
        else if (rc != TWRC_SUCCESS)
            ShowRC_CC(window, TWML_REPORT, rc, "ICAP_PIXELFLAVOR");
        std::free(cap.hContainer);
        const uint8_t first = flavour == TWPF_CHOCOLATE ? 0 : 255;
        // Entry 1 is the opposite of entry 0, so a two-colour page stays readable.
        std::memset(table, first, 3);
        table[3] = 0;
        std::memset(table + 4, 255 - first, 3);
        table[7] = 0;
        return 2;
    }
    case TWPT_GRAY:
        GreyRamp(table);
        return 256;
    case TWPT_RGB:
        return 0;
    default:
        if (pixelType >= TWPT_PALETTE && pixelType <= TWPT_CIEXYZ) {
            TW_PALETTE8 pal{};
            const TW_UINT16 rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_IMAGE, DAT_PALETTE8, MSG_GET, &pal);
            if (rc == TWRC_SUCCESS) {
                const int n = pal.NumColors > 256 ? 256 : pal.NumColors;
                for (int i = 0; i < n; ++i) {
                    table[i * 4] = pal.Colors[i].Channel3;
                    table[i * 4 + 1] = pal.Colors[i].Channel2;
                    table[i * 4 + 2] = pal.Colors[i].Channel1;
                    table[i * 4 + 3] = 0;
                }
                return static_cast<uint32_t>(n);
            }
            ShowRC_CC(window, TWML_ERROR, rc, "DG_IMAGE/DAT_PALETTE8/MSG_GET -- defaulting to 256 gray image palette");
            GreyRamp(table);
            return 256;
        }
        return 0;
    }
}

} // namespace

int64_t MemXferImageSize(int64_t stride, int64_t length, uint32_t preferred)
{
    const int64_t size = stride * length;
    if (preferred == 0)
        return size;
    return (size / preferred + 1) * static_cast<int64_t>(preferred);
}

int32_t PelsPerMeter(float resolution, TW_UINT16 unit)
{
    switch (unit) {
    case TWUN_INCHES:
        return static_cast<int32_t>(std::nearbyint(static_cast<double>(resolution) * 100.0 / 2.54));
    case TWUN_CENTIMETERS:
        return static_cast<int32_t>(std::nearbyint(static_cast<double>(resolution) * 100.0));
    case TWUN_PICAS:
    case TWUN_POINTS:
    case TWUN_TWIPS:
    case TWUN_PIXELS:
        return 0;
    default:
        return -1;
    }
}

bool FlipBitMap(uint8_t* block, TW_UINT16 pixelType)
{
    const int32_t width = static_cast<int32_t>(Get32(block + 4));
    const int32_t height = static_cast<int32_t>(Get32(block + 8));
    const int bits = Get16(block + 14);
    const int64_t stride = DibStride(bits, width);
    uint8_t* pixels = block + kHeaderSize + static_cast<size_t>(DibNumColors(block)) * 4;

    // Swapping rows pairwise in place needs one row of scratch instead of a copy of the
    // whole picture, and the red/blue exchange rides along in the same pass.
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[static_cast<size_t>(stride) + 1]);
    if (!scratch) {
        ShowRC_CC(ParentWindow, TWML_ERROR, "Errore in FixBitMap in TWA_ACQ",
                  "Impossibile allocare memoria sufficiente per capovolgere l'immagine");
        return false;
    }
    const bool rgb = pixelType == TWPT_RGB && bits == 24;
    const size_t rowBytes = static_cast<size_t>(stride);
    // Copies a row, exchanging the first and third byte of each pixel on the way when
    // the rows are RGB, so every byte is read and written once per move.
    auto move = [rgb, width, rowBytes](uint8_t* dst, const uint8_t* src) {
        if (!rgb) {
            std::memcpy(dst, src, rowBytes);
            return;
        }
        for (int32_t x = 0; x < width; ++x, dst += 3, src += 3) {
            const uint8_t r = src[0], g = src[1], b = src[2];
            dst[0] = b;
            dst[1] = g;
            dst[2] = r;
        }
    };
    for (int32_t top = 0, bottom = height - 1; top <= bottom; ++top, --bottom) {
        uint8_t* a = pixels + top * stride;
        uint8_t* b = pixels + bottom * stride;
        if (top != bottom) {
            move(scratch.get(), a);
            move(a, b);
            std::memcpy(b, scratch.get(), rowBytes);
        } else if (rgb) {
            move(scratch.get(), a);
            std::memcpy(a, scratch.get(), rowBytes);
        }
    }
    return true;
}

QImage FixUp(QWidget*, const uint8_t* block, size_t size)
{
    if (!block || size < kHeaderSize || Get32(block) != kHeaderSize)
        return QImage();
    const int32_t width = static_cast<int32_t>(Get32(block + 4));
    const int32_t rawHeight = static_cast<int32_t>(Get32(block + 8));
    const int bits = Get16(block + 14);
    if (width <= 0 || rawHeight == 0 || Get32(block + 16) != 0)
        return QImage();
    const bool bottomUp = rawHeight > 0;
    const int32_t height = bottomUp ? rawHeight : -rawHeight;
    const int colors = DibNumColors(block);
    const int64_t stride = DibStride(bits, width);
    const int64_t offset = kHeaderSize + int64_t(colors) * 4;
    if (size != SIZE_MAX && offset + stride * height > static_cast<int64_t>(size))
        return QImage();
    PaletteHandle = CreateBIPalette(block);

    const uint8_t* table = block + kHeaderSize;
    const uint8_t* pixels = block + offset;
    QImage img = NewBgrImage(width, height);
    if (img.isNull())
        return img;
    uint8_t lut[256][3] = {};
    for (int i = 0; i < colors && i < 256; ++i) {
        lut[i][0] = table[i * 4];
        lut[i][1] = table[i * 4 + 1];
        lut[i][2] = table[i * 4 + 2];
    }
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = pixels + (bottomUp ? height - 1 - y : y) * stride;
        if (!DibRowToBgr(bits, src, img.scanLine(y), width, lut))
            return QImage();
    }
    CarryDensity(block, img);
    return img;
}

void TWTransferImage(QWidget* window)
{
    switch (XferMechChoice) {
    case 0:
        DoNativeTransfer(window);
        break;
    case 1:
        DoFileTransfer(window);
        break;
    case 2:
        DoMemTransfer(window);
        break;
    default:
        break;
    }
    if (AcquireFlag == 1) {
        if (!ManagerOpen)
            AcquireFlag = 0;
    } else if (AcquireFlag == 2) {
        if (TWDisableDS())
            AcquireFlag = 0;
    }
}

namespace {

bool ReadableDepth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32; }

} // namespace

void DoMemTransfer(QWidget* window)
{
    TWaitCursor cursor;
    TW_UINT16 count = 0;
    do {
        count = 0;
        if (MessageLevel >= 2) {
            ShowImageInfo(window);
            ShowImageLayout(window);
            ShowCapability(window, ICAP_PIXELFLAVOR);
            ShowCapability(window, ICAP_PIXELTYPE);
        }
        // An image the module cannot receive is still ended at the source, so the source
        // leaves its transfer state and the connection can close.
        auto abandon = [&]() {
            count = EndXfer(window, "DG_CONTROL / DAT_PENDINGXFERS / MSG_ENDXFER");
            if (count == 0)
                CloseConnection(0);
        };
        TW_IMAGEINFO info{};
        TW_UINT16 rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
        if (rc != TWRC_SUCCESS) {
            ShowRC_CC(window, TWML_ERROR, rc, "DG_IMAGE/DAT_IMAGEINFO/MSG_GET");
            abandon();
            continue;
        }
        const int64_t stride = DibStride(info.BitsPerPixel, info.ImageWidth);
        TW_SETUPMEMXFER setup{};
        CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
        // A picture of unknown or nonsensical size cannot be received.
        const bool sane = info.ImageWidth > 0 && info.ImageLength > 0 && info.BitsPerPixel > 0;
        const int64_t size = sane ? MemXferImageSize(stride, info.ImageLength, setup.Preferred) : 0;
        // The DIB header and colour table describe the rows the source sends; the rows
        // themselves go straight into the picture.
        uint8_t header[kHeaderSize + kColorTableRoom] = {};
        Put32(header, kHeaderSize);
        Put32(header + 4, static_cast<uint32_t>(info.ImageWidth));
        Put32(header + 8, static_cast<uint32_t>(info.ImageLength));
        Put16(header + 12, 1);
        Put16(header + 14, static_cast<uint16_t>(info.BitsPerPixel));
        Put32(header + 16, 0);
        Put32(header + 20, static_cast<uint32_t>(size));
        QImage picture;
        if (sane && size > 0 && size <= INT32_MAX)
            picture = NewScanPicture(info.ImageWidth, info.ImageLength);
        if (picture.isNull()) {
            ShowRC_CC(window, TWML_ERROR, "Errore in Memoria", "GlobalAlloc fallito in DoMemTransfer");
            abandon();
            continue;
        }
        SetResolution(window, header, info);
        CarryDensity(header, picture);
        const uint32_t used = FillColorTable(window, header, info.PixelType);
        Put32(header + 32, used);
        Put32(header + 36, 0);
        PaletteHandle = CreateBIPalette(header);

        rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
        if (rc != TWRC_SUCCESS) {
            ShowRC_CC(window, TWML_ERROR, rc, "DG_CONTROL/DAT_SETUPMEMXFER/MSG_GET");
            abandon();
            continue;
        }
        TStripReceiver receiver(picture, stride, info.BitsPerPixel, info.PixelType == TWPT_RGB, header,
                                setup.Preferred);
        TW_IMAGEMEMXFER strip{};
        for (;;) {
            std::memset(&strip, 0, sizeof strip);
            strip.Compression = TWON_DONTCARE16;
            strip.BytesPerRow = strip.Columns = strip.Rows = TWON_DONTCARE32;
            strip.XOffset = strip.YOffset = strip.BytesWritten = TWON_DONTCARE32;
            strip.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            if (!receiver.Next(strip.Memory)) {
                rc = TWRC_FAILURE;
                break;
            }
            const TW_MEMORY offered = strip.Memory;
            rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
            if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE)
                break;
            if (strip.BytesWritten != TWON_DONTCARE32)
                receiver.Took(strip.BytesWritten, offered);
            if (rc == TWRC_XFERDONE)
                break;
        }
        if (rc == TWRC_XFERDONE) {
            ShowRC_CC(window, TWML_NOTE, "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET", "TWRC_XFERDONE");
            receiver.FillRest();
            count = EndXfer(window, "DG_CONTROL / DAT_PENDINGXFERS / MSG_ENDXFER");
            if (count == 0)
                CloseConnection(0);
            // Rows of a depth the module cannot read were taken and dropped.
            if (TargetBitmap && ReadableDepth(info.BitsPerPixel)) {
                *TargetBitmap = std::move(picture);
                ++PictureSerial;
                if (PictureDelivered)
                    PictureDelivered(*TargetBitmap);
            }
            if (MessageLevel >= 2)
                ShowRC_CC(window, TWML_REPORT, "In attesa di trasferimenti", TwFormat("Images\t: %d", count));
            continue;
        }
        // A cancelled or failed transfer keeps the previous picture: an empty one would
        // be saved over the user's last scan.
        cursor.Restore();
        if (rc != TWRC_FAILURE && rc != TWRC_CANCEL)
            ShowRC_CC(window, TWML_ERROR, "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET", "Codice di ritorno sconosciuto");
        if (rc != TWRC_CANCEL)
            ShowRC_CC(window, TWML_ERROR, rc, "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET");
        picture = QImage();
        abandon();
        if (rc != TWRC_FAILURE && rc != TWRC_CANCEL && (MessageLevel >= 2 || AutoFeedOn()))
            ShowRC_CC(window, TWML_ERROR, "In attesa di trasferimenti", TwFormat("Images\t: %d", count));
    } while (count != 0);
}

void DoNativeTransfer(QWidget* window)
{
    TW_UINT16 count = 0;
    do {
        count = 0;
        if (MessageLevel >= 2) {
            ShowImageInfo(window);
            ShowImageLayout(window);
        }
        TW_HANDLE dib = nullptr;
        const TW_UINT16 rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
        const char* endCaption = "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER";
        if (rc == TWRC_XFERDONE) {
            ShowRC_CC(window, TWML_NOTE, "DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET", "TWRC_XFERDONE");
            BlockPtr block(static_cast<uint8_t*>(dib));
            DeliverPicture(window, block.get(), SIZE_MAX);
            block.reset();
            count = EndXfer(window, endCaption);
            if (count == 0)
                CloseConnection(0);
            if (MessageLevel >= 2 || AutoFeedOn())
                ShowRC_CC(window, TWML_ERROR, "Trasferimenti sospesi", TwFormat("Images\t: %d", count));
            continue;
        }
        std::free(dib);
        if (rc == TWRC_CANCEL)
            ShowRC_CC(window, TWML_ERROR, "DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET", "TWRC_CANCEL");
        else if (rc == TWRC_FAILURE)
            ShowRC_CC(window, TWML_ERROR, rc, "DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET");
        else
            ShowRC_CC(window, TWML_ERROR, "DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET", "Codice di ritorno sconosciuto");
        count = EndXfer(window, endCaption);
        if (count == 0)
            CloseConnection(0);
    } while (count != 0);
    AcquireFlag = 0;
}

void DoFileTransfer(QWidget* window)
{
    TW_UINT16 count = 0;
    do {
        count = 0;
        QFile file(QString::fromLocal8Bit(TransferFileName));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            ShowRC_CC(window, TWML_ERROR, "Errore applicazione", "Impossibile creare il file per il trasferimento di file");
            count = EndXfer(window, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER");
            if (count == 0)
                CloseConnection(0);
            break;
        }
        file.close();
        TW_SETUPFILEXFER setup{};
        std::memcpy(setup.FileName, TransferFileName, sizeof setup.FileName);
        setup.FileName[255] = '\0';
        setup.Format = TWFF_BMP;
        TW_UINT16 rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup);
        if (rc != TWRC_SUCCESS)
            ShowRC_CC(window, TWML_ERROR, rc, "DG_CONTROL/DAT_SETUPFILEXFER/MSG_SET");
        rc = CallDSMEntry(&AppIdentity, &SourceIdentity, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
        if (rc == TWRC_XFERDONE) {
            QByteArray bytes;
            if (file.open(QIODevice::ReadOnly))
                bytes = file.readAll();
            count = EndXfer(window, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER");
            if (count == 0)
                CloseConnection(0);
            // The 14-byte file header is skipped; the rest is the DIB block.
            if (bytes.size() > 14 + kHeaderSize)
                DeliverPicture(window, reinterpret_cast<const uint8_t*>(bytes.constData()) + 14,
                               static_cast<size_t>(bytes.size() - 14));
        } else {
            if (rc == TWRC_CANCEL)
                ShowRC_CC(window, TWML_ERROR, "DG_IMAGE/DAT_IMAGEFILEXFER/MSG_GET", "TWRC_CANCEL");
            else if (rc == TWRC_FAILURE)
                ShowRC_CC(window, TWML_ERROR, rc, "DG_IMAGE/DAT_IMAGEFILEXFER/MSG_GET");
            else
                ShowRC_CC(window, TWML_ERROR, "DG_IMAGE/DAT_IMAGEFILEXFER/MSG_GET", "Unknown Failure");
            count = EndXfer(window, "DG_CONTROL/DAT_PENDINGXFERS/MSG_ENDXFER");
            if (count == 0)
                CloseConnection(0);
        }
        if (MessageLevel >= 2)
            ShowRC_CC(window, TWML_REPORT, "In attesa di trasferimenti", TwFormat("Images = %d", count));
    } while (count != 0);
}
