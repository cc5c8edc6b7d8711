#include "scan/dsm/DsmSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QPair>
#include <QStandardPaths>
#include <QUrl>
#include <cstdio>

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

// Replaces the keys' lines or adds them at the end; every other line stays as it was.
// Written aside and renamed over the old file, so a crash never leaves half a file; not
// forced to the disk, which on a busy machine would cost more than the scan it follows.
void Store(const QList<QPair<QByteArray, QByteArray>>& values)
{
    QList<QByteArray> lines = ReadLines();
    for (const auto& kv : values) {
        bool found = false;
        for (QByteArray& line : lines)
            if (line.startsWith(kv.first + "=")) {
                line = kv.first + "=" + kv.second;
                found = true;
            }
        if (!found)
            lines << kv.first + "=" + kv.second;
    }
    const QString path = SettingsPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString aside = path + ".part";
    QFile f(aside);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return;
    bool ok = true;
    for (const QByteArray& line : lines)
        ok = f.write(line + "\n") == line.size() + 1 && ok;
    f.close();
    if (!ok || ::rename(QFile::encodeName(aside).constData(), QFile::encodeName(path).constData()) != 0)
        QFile::remove(aside);
}

// Device names may hold any character; in a key they are percent-encoded.
QByteArray Key(const char* what, const std::string& device)
{
    return QByteArray(what) + "/" + QUrl::toPercentEncoding(QString::fromStdString(device));
}

} // namespace

std::string StoredDefault() { return Value(ReadLines(), "Predefinito").toStdString(); }

void StoreDefault(const std::string& device) { Store({{"Predefinito", QByteArray::fromStdString(device)}}); }

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
    QList<QPair<QByteArray, QByteArray>> values;
    if (scan.HasArea)
        values.append({Key("Area", device), QByteArray::number(scan.Left, 'f', 2) + "," +
                                                 QByteArray::number(scan.Top, 'f', 2) + "," +
                                                 QByteArray::number(scan.Right, 'f', 2) + "," +
                                                 QByteArray::number(scan.Bottom, 'f', 2)});
    if (scan.ChosenDpi > 0)
        values.append({Key("Risoluzione", device),
                       QByteArray::number(scan.AskedDpi, 'g', 10) + "," + QByteArray::number(scan.ChosenDpi, 'g', 10)});
    if (!values.isEmpty())
        Store(values);
}
