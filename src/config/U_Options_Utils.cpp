// TUtils, the unit's start and end, and the TW_STR32 conversions.
#include "config/U_Options.h"
#include "config/U_Savecfg.h"
#include "platform/ProfileFile.h"
#include "platform/Version.h"

#include <QCoreApplication>
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPrinterInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <cstring>

TUtils* Utils = nullptr;
TFormOptions* FormOptions = nullptr;

namespace {

QString WithSlash(const QString& dir)
{
    if (dir.isEmpty() || dir.endsWith(u'/'))
        return dir;
    return dir + u'/';
}

// Milliseconds since an arbitrary start, wrapping at 2^32 like the platform's tick counter.
uint32_t TickCount()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return static_cast<uint32_t>(clock.elapsed());
}

} // namespace

void TUtils::CreaObj()
{
    AppDataPath = WithSlash(QCoreApplication::applicationDirPath());
}

QString TUtils::GetNoRoamLocalAppDataPath() const
{
    return LocalDataFolder();
}

QString TUtils::GetDesktopPath() const
{
    return WithSlash(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}

QString TUtils::GetPicturesPath() const
{
    return WithSlash(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
}

QString TUtils::GetVersion(const QString& sFileName) const
{
    const QString own = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString asked = QFileInfo(sFileName).canonicalFilePath();
    if (!asked.isEmpty() && asked == own)
        return QStringLiteral(CORVANTA_VERSION);
    return QString();
}

void TUtils::Delay(uint32_t Millisecondi) const
{
    const uint32_t start = TickCount();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // The timer wakes the wait below when no other event comes before the end; it is
    // re-armed with the time left on every round, so an early wake-up cannot strand us.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    for (;;) {
        const uint32_t elapsed = TickCount() - start; // unsigned: survives the counter's wrap
        if (elapsed >= Millisecondi)
            break;
        wake.start(static_cast<int>(std::min<uint32_t>(Millisecondi - elapsed, INT32_MAX)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

int TUtils::EnumPrt(QStringList& printers) const
{
    printers = QPrinterInfo::availablePrinterNames();
    return static_cast<int>(printers.indexOf(QPrinterInfo::defaultPrinterName()));
}

QString TUtils::GetDefaultPrinter() const
{
    return QPrinterInfo::defaultPrinterName();
}

bool TUtils::SetDefaultPrinter(const QString& name) const
{
    if (name.isEmpty() || !QPrinterInfo::availablePrinterNames().contains(name))
        return false;
    QProcess lp;
    lp.start(QStringLiteral("lpoptions"), {QStringLiteral("-d"), name});
    if (!lp.waitForFinished(-1))
        return false;
    return lp.exitStatus() == QProcess::NormalExit && lp.exitCode() == 0;
}

namespace {

// Day, month and year parts of a typed date; false when the text is not one to three numbers.
bool SplitDate(const QString& text, QList<int>& parts)
{
    static const QRegularExpression form(QStringLiteral("^\\s*(\\d{1,2})(?:[/.-](\\d{1,2})(?:[/.-](\\d{2}|\\d{4}))?)?\\s*$"));
    const auto m = form.match(text);
    if (!m.hasMatch())
        return false;
    parts.clear();
    for (int i = 1; i <= 3 && m.capturedLength(i) > 0; ++i) {
        int v = m.captured(i).toInt();
        if (i == 3 && m.capturedLength(3) == 2)
            v += 2000;
        parts.append(v);
    }
    return true;
}

} // namespace

QString TUtils::ValidateDate(const QString& text) const
{
    QList<int> p;
    if (!SplitDate(text, p))
        return QString();
    const QDate today = QDate::currentDate();
    const int day = p[0];
    const int month = p.size() > 1 ? p[1] : today.month();
    const int year = p.size() > 2 ? p[2] : today.year();
    const QDate d(year, month, day);
    return d.isValid() ? d.toString(QStringLiteral("dd/MM/yyyy")) : QString();
}

bool TUtils::IsDate(const QString& text) const
{
    QList<int> p;
    return SplitDate(text, p) && p.size() == 3 && QDate(p[2], p[1], p[0]).isValid();
}

void InitOptionsUnit()
{
    if (!Utils)
        Utils = new TUtils;
    IniFileName = ComputeIniFileName(QCoreApplication::applicationFilePath(), Utils->GetNoRoamLocalAppDataPath());
    // A write that a crash cut short leaves its temporary file behind, hidden.
    ProfileFile::RemoveLeftoverTemporaries(IniFileName);
}

void DoneOptionsUnit()
{
    delete Utils;
    Utils = nullptr;
    IniFileName.clear();
}

void StrToTW_STR32(const QString& text, TW_STR32& dest)
{
    std::memset(dest, 0, sizeof(TW_STR32));
    const qsizetype n = std::min<qsizetype>(text.size(), sizeof(TW_STR32));
    for (qsizetype i = 0; i < n; ++i)
        dest[i] = static_cast<char>(text[i].unicode() & 0xFF);
}

QString TW_STR32ToStr(const TW_STR32& s)
{
    const void* nul = std::memchr(s, 0, sizeof(TW_STR32));
    const qsizetype len = nul ? static_cast<const char*>(nul) - s : qsizetype(sizeof(TW_STR32));
    return QString::fromLatin1(s, len);
}
