#include "scan/dsm/DsmSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

namespace {

QString SettingsPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath("Lodrevan/corvanta-scanner.conf");
}

QList<QByteArray> ReadLines()
{
    QList<QByteArray> lines;
    QFile f(SettingsPath());
    if (f.open(QIODevice::ReadOnly | QIODevice::Text))
        while (!f.atEnd()) {
            const QByteArray line = f.readLine().trimmed();
            if (!line.isEmpty())
                lines << line;
        }
    return lines;
}

QByteArray Value(const QList<QByteArray>& lines, const QByteArray& key)
{
    for (const QByteArray& line : lines)
        if (line.startsWith(key + "="))
            return line.mid(key.size() + 1);
    return QByteArray();
}

// Replaces the key's line or adds it at the end; every other line stays as it was.
void Store(const QByteArray& key, const QByteArray& value)
{
    QList<QByteArray> lines = ReadLines();
    bool found = false;
    for (QByteArray& line : lines)
        if (line.startsWith(key + "=")) {
            line = key + "=" + value;
            found = true;
        }
    if (!found)
        lines << key + "=" + value;
    QDir().mkpath(QFileInfo(SettingsPath()).absolutePath());
    QSaveFile f(SettingsPath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    for (const QByteArray& line : lines)
        f.write(line + "\n");
    f.commit();
}

// Device names may hold any character; in a key they are percent-encoded.
QByteArray Key(const char* what, const std::string& device)
{
    return QByteArray(what) + "/" + QUrl::toPercentEncoding(QString::fromStdString(device));
}

} // namespace

std::string StoredDefault() { return Value(ReadLines(), "Predefinito").toStdString(); }

void StoreDefault(const std::string& device) { Store("Predefinito", QByteArray::fromStdString(device)); }

TRememberedScan Remembered(const std::string& device)
{
    TRememberedScan r;
    const QList<QByteArray> lines = ReadLines();
    const QList<QByteArray> area = Value(lines, Key("Area", device)).split(',');
    if (area.size() == 4) {
        bool ok[4];
        r.Left = area[0].toDouble(&ok[0]);
        r.Top = area[1].toDouble(&ok[1]);
        r.Right = area[2].toDouble(&ok[2]);
        r.Bottom = area[3].toDouble(&ok[3]);
        r.HasArea = ok[0] && ok[1] && ok[2] && ok[3] && r.Left >= 0 && r.Top >= 0 && r.Right > r.Left &&
                    r.Bottom > r.Top;
    }
    const QList<QByteArray> dpi = Value(lines, Key("Risoluzione", device)).split(',');
    if (dpi.size() == 2) {
        bool a = false, c = false;
        r.AskedDpi = dpi[0].toDouble(&a);
        r.ChosenDpi = dpi[1].toDouble(&c);
        if (!a || !c || r.ChosenDpi <= 0)
            r.AskedDpi = r.ChosenDpi = 0;
    }
    return r;
}

void Remember(const std::string& device, const TRememberedScan& scan)
{
    if (scan.HasArea)
        Store(Key("Area", device), QByteArray::number(scan.Left, 'f', 2) + "," + QByteArray::number(scan.Top, 'f', 2) +
                                       "," + QByteArray::number(scan.Right, 'f', 2) + "," +
                                       QByteArray::number(scan.Bottom, 'f', 2));
    if (scan.ChosenDpi > 0)
        Store(Key("Risoluzione", device), QByteArray::number(scan.AskedDpi, 'g', 10) + "," +
                                              QByteArray::number(scan.ChosenDpi, 'g', 10));
}
