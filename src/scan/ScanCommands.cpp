#include "scan/ScanCommands.h"

#include "scan/TW_Apps.h"
#include "scan/TW_Misc.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <future>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace {

void CopyStr32(char* dst, const char* src)
{
    std::memset(dst, 0, 34);
    std::strncpy(dst, src, 33);
}

} // namespace

TW_IDENTITY CorvantaAppIdentity()
{
    TW_IDENTITY id;
    std::memset(&id, 0, sizeof id);
    id.Id = 0;
    id.Version.MajorNum = 2;
    id.Version.MinorNum = 2009;
    id.Version.Language = TWLG_ITALIAN;
    id.Version.Country = TWCY_ITALY;
    CopyStr32(id.Version.Info, "2.x.x.x");
    id.ProtocolMajor = 1;
    id.ProtocolMinor = 9;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    CopyStr32(id.Manufacturer, "Lodrevan");
    CopyStr32(id.ProductFamily, "Corvanta");
    CopyStr32(id.ProductName, "Corvanta");
    return id;
}

bool WriteScanBitmap(const QImage& picture, const QString& file)
{
    if (picture.isNull() || picture.format() != QImage::Format_BGR888)
        return false;
    const int width = picture.width();
    const int height = picture.height();
    // Blue-green-red rows are a 24-bit bitmap's own rows; only their padding, which the
    // picture may leave unset, is written from zeros, so equal pictures give equal files.
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    const size_t stride = (rowBytes + 3) / 4 * 4;
    const uint64_t imageSize = uint64_t(stride) * uint64_t(height);
    if (imageSize + 54 > UINT32_MAX)
        return false;
    uint8_t header[54] = {'B', 'M'};
    auto put32 = [&header](int at, uint32_t v) { std::memcpy(header + at, &v, 4); };
    auto put16 = [&header](int at, uint16_t v) { std::memcpy(header + at, &v, 2); };
    put32(2, static_cast<uint32_t>(54 + imageSize));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    put16(26, 1);
    put16(28, 24);
    put32(34, static_cast<uint32_t>(imageSize));
    put32(38, static_cast<uint32_t>(picture.dotsPerMeterX()));
    put32(42, static_cast<uint32_t>(picture.dotsPerMeterY()));

    // Written aside and renamed over the old file, so a failed save keeps the last scan and
    // no reader ever finds half a file. The file is not forced to the disk: it is a
    // working copy of a picture the program holds, and waiting for the disk would cost
    // more than the whole scan.
    static std::atomic<unsigned> serial{0};
    // A link is followed, and the file keeps its permissions, as a save in place would.
    const QFileInfo info(file);
    const QByteArray target = QFile::encodeName(info.isSymLink() ? info.symLinkTarget() : file);
    const QByteArray aside = target + ".part" + QByteArray::number(::getpid()) + "." + QByteArray::number(++serial);
    const int fd = ::open(aside.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat before {};
    if (::stat(target.constData(), &before) == 0)
        ::fchmod(fd, before.st_mode & 07777);
    static const uint8_t zeros[4] = {};
    std::vector<iovec> iov;
    iov.reserve(1024);
    bool ok = true;
    auto flush = [&] {
        // writev may write less than asked; the rest follows from where it stopped.
        size_t first = 0;
        while (ok && first < iov.size()) {
            const ssize_t n = ::writev(fd, iov.data() + first, static_cast<int>(std::min<size_t>(iov.size() - first, 1024)));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                ok = false;
                break;
            }
            size_t left = static_cast<size_t>(n);
            while (first < iov.size() && left >= iov[first].iov_len)
                left -= iov[first++].iov_len;
            if (left > 0) {
                iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + left;
                iov[first].iov_len -= left;
            }
        }
        iov.clear();
    };
    iov.push_back({header, sizeof header});
    for (int y = height - 1; y >= 0 && ok; --y) {
        iov.push_back({const_cast<uchar*>(picture.constScanLine(y)), rowBytes});
        if (stride > rowBytes)
            iov.push_back({const_cast<uint8_t*>(zeros), stride - rowBytes});
        if (iov.size() >= 1022)
            flush();
    }
    flush();
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(aside.constData());
        return false;
    }
    // Renaming over an existing file makes ext4 push the new file's data toward the disk
    // at once (its guard for writers that do not sync), which costs more than the write.
    // The old file steps aside first, and comes back should the new one not take its place.
    const QByteArray old = aside + ".old";
    const bool hadOld = ::rename(target.constData(), old.constData()) == 0;
    if (::rename(aside.constData(), target.constData()) != 0) {
        if (hadOld)
            ::rename(old.constData(), target.constData());
        ::unlink(aside.constData());
        return false;
    }
    if (hadOld)
        ::unlink(old.constData());
    return true;
}

QString FeederSheetFile(const QString& acqFile, int index)
{
    if (index == 0)
        return acqFile;
    const QFileInfo info(acqFile);
    const QString suffix = info.suffix().isEmpty() ? QString() : "." + info.suffix();
    return info.dir().filePath(info.completeBaseName() + "_" + QString::number(index + 1) + suffix);
}

int32_t ParseScanResolution(const QString& text)
{
    bool ok = false;
    const int32_t v = text.trimmed().toInt(&ok, 10);
    return ok ? v : 200;
}

TScanCommands::TScanCommands(QWidget* mainWindow, TScanHost host, QObject* parent)
    : QObject(parent), mainWindow_(mainWindow), host_(std::move(host))
{
    PictureDelivered = [this](const QImage& picture) { sheets_.push_back(picture); };
}

TScanCommands::~TScanCommands()
{
    if (installed_ && qApp)
        qApp->removeEventFilter(this);
    if (TargetBitmap == &imTwain_)
        TargetBitmap = nullptr;
    PictureDelivered = nullptr;
}

bool TScanCommands::ConnectionOpen() { return ManagerOpen || SourceOpen || SourceEnabled; }

bool TScanCommands::InitTwain()
{
    try {
        TWUnInitialize();
        const TW_IDENTITY identity = CorvantaAppIdentity();
        const bool usable = TWInitialize(identity, mainWindow_, &imTwain_);
        XferMechChoice = 2;
        twainACQ_ = false;
        sheets_.clear();
        return usable;
    } catch (const std::exception& e) {
        ShowTwainInfo(mainWindow_, std::string("Errore! Acquisizione da scanner: inizializzazione TWAIN fallita. ") +
                                       e.what());
        return false;
    }
}

void TScanCommands::BtScanNowClick()
{
    // The key S still reaches here while the source's dialog is up; a second connection
    // on top of the open one would tangle both, so the open one is left to finish.
    if (ConnectionOpen())
        return;
    if (!InitTwain())
        return;
    QCoreApplication::processEvents();
    // The previous "Scansione.bmp" stays until a new picture replaces it, so a cancelled
    // or failed scan loses nothing.
    if (!SourceOpen) {
        SourceIdentity.Id = 0;
        SourceIdentity.ProductName[0] = '\0';
        AppIdentity.Id = 0;
    }
    ScanResolution = ParseScanResolution(host_.ResolutionText ? host_.ResolutionText() : QString());
    ScanGrayScale = host_.GrayScaleScanFirma && host_.SignatureMode && host_.GrayScaleScanFirma() && host_.SignatureMode();
    takenSerial_ = PictureSerial;
    sheets_.clear();
    bool started = false;
    try {
        started = TWAcquire(mainWindow_, TW_TRUE, 3);
    } catch (const std::exception& e) {
        ShowTwainError(mainWindow_, e.what());
    }
    UpdateScanButton();
    if (!started)
        return;
    twainACQ_ = true;
    // A source with a modal dialog may already have delivered its picture.
    QCoreApplication::processEvents();
    if (PictureSerial != takenSerial_)
        TakeOver();
}

bool TScanCommands::BtSelectScanClick()
{
    if (ConnectionOpen())
        return false;
    if (!InitTwain())
        return false;
    QCoreApplication::processEvents();
    bool picked = false;
    try {
        if (TWOpenDSM()) {
            picked = TWSelectDS();
            TWCloseDSM();
        }
    } catch (const std::exception& e) {
        ShowTwainError(mainWindow_, e.what());
    }
    return picked;
}

bool TScanCommands::FillImgAndResize(const QString& file)
{
    if (imTwain_.isNull())
        return false;
    QCoreApplication::processEvents();
    // The file is written while the view takes the picture from memory; this returns only
    // once the file is complete, so whatever reads it afterwards finds the new scan.
    std::future<bool> saved;
    if (!file.isEmpty())
        saved = std::async(std::launch::async, [picture = imTwain_, file] { return WriteScanBitmap(picture, file); });
    const QString shown = host_.AcqImgFile ? host_.AcqImgFile() : file;
    std::exception_ptr viewFailed;
    try {
        if (host_.LoadScannedFile)
            host_.LoadScannedFile(shown, shown == file || file.isEmpty() ? imTwain_ : QImage());
    } catch (...) {
        viewFailed = std::current_exception();
    }
    if (saved.valid() && !saved.get())
        throw std::runtime_error("salvataggio non riuscito");
    if (viewFailed)
        std::rethrow_exception(viewFailed);
    return true;
}

void TScanCommands::ShowFillError(const QString& file)
{
    ShowTwainInfo(mainWindow_,
                  ("Errore! Acquisizione da scanner: procedura FillImgAndResize(" + file + ") fallita.").toStdString());
}

void TScanCommands::FillFeederSheets(const QString& file)
{
    const QList<QImage> sheets = sheets_;
    sheets_.clear();
    QCoreApplication::processEvents();
    QStringList files;
    std::vector<std::future<bool>> saved;
    for (int i = 0; i < sheets.size(); ++i) {
        files << FeederSheetFile(file, i);
        saved.push_back(std::async(std::launch::async, [picture = sheets[i], f = files.back()] {
            return WriteScanBitmap(picture, f);
        }));
    }
    // Sheets of a longer earlier run would look like part of this one.
    for (int i = sheets.size();; ++i) {
        const QString stale = FeederSheetFile(file, i);
        if (!QFile::exists(stale) || !QFile::remove(stale))
            break;
    }
    bool ok = true;
    for (auto& f : saved)
        ok = f.get() && ok;
    std::exception_ptr viewFailed;
    try {
        if (host_.LoadScannedFiles)
            host_.LoadScannedFiles(files, sheets);
        else if (host_.LoadScannedFile)
            host_.LoadScannedFile(files.front(), sheets.front());
    } catch (...) {
        viewFailed = std::current_exception();
    }
    if (!ok)
        throw std::runtime_error("salvataggio non riuscito");
    if (viewFailed)
        std::rethrow_exception(viewFailed);
}

void TScanCommands::TakeOver()
{
    const QString file = host_.AcqImgFile ? host_.AcqImgFile() : QString();
    takenSerial_ = PictureSerial;
    try {
        if (sheets_.size() > 1 && !file.isEmpty()) {
            FillFeederSheets(file);
        } else {
            sheets_.clear();
            FillImgAndResize(file);
        }
    } catch (const std::exception&) {
        ShowFillError(file);
    }
}

void TScanCommands::InstallAppMessage()
{
    if (installed_)
        return;
    qApp->installEventFilter(this);
    installed_ = true;
}

bool TScanCommands::AppMessage(QEvent* event)
{
    try {
        if (ProcessTWMessage(event, mainWindow_))
            return true;
    } catch (const std::exception& e) {
        // Exceptions must not cross Qt's event delivery; this is the program's error box.
        ShowTwainError(mainWindow_, e.what());
    }
    if (twainACQ_ && !ManagerOpen && !SourceOpen) {
        twainACQ_ = false;
        // Only a picture that arrived during this acquisition is taken over: a closed
        // dialog or a failed transfer leaves "Scansione.bmp" and the view as they were.
        if (PictureSerial != takenSerial_)
            TakeOver();
    }
    UpdateScanButton();
    return false;
}

void TScanCommands::UpdateScanButton()
{
    const int enabled = (!ManagerOpen && !SourceOpen && !SourceEnabled) ? 1 : 0;
    if (enabled != buttonState_) {
        buttonState_ = enabled;
        if (host_.SetScanButtonEnabled)
            host_.SetScanButtonEnabled(enabled == 1);
    }
}

bool TScanCommands::eventFilter(QObject* watched, QEvent* event)
{
    if (AppMessage(event))
        return true;
    return QObject::eventFilter(watched, event);
}
