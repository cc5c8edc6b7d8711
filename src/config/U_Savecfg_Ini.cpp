// The settings file's keys and values, and where the file lives: no widgets,
// so the batch and the command line read the same settings as the window.
#include "config/U_Savecfg.h"

#include "platform/ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString IniFileName;

QString IniNameForProgram(const QString& programFileName)
{
    // Only a name with an extension has three characters to spare; dropping three
    // letters of an extensionless Linux program name would give nonsense.
    if (programFileName.lastIndexOf(u'.') > 0)
        return programFileName.left(programFileName.size() - 3) + QStringLiteral("ini");
    return programFileName + QStringLiteral(".ini");
}

namespace {
QString Slashed(const QString& dir)
{
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}
} // namespace

QString LocalDataFolder()
{
    // The base-directory rule: a relative $XDG_DATA_HOME is invalid and ignored.
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return Slashed(QDir::cleanPath(xdg));
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty())
        return QString();
    return Slashed(QDir::cleanPath(home + QStringLiteral("/.local/share")));
}

QString ComputeIniFileName(const QString& programFilePath, const QString& localDataPath)
{
    QString dir = localDataPath + QStringLiteral("Lodrevan/Corvanta/");
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir + IniNameForProgram(QFileInfo(programFilePath).fileName());
}

QString ReadFileIni(const QString& fileName, const QString& section, const QString& key, QString* error)
{
    QString value;
    QString why;
    if (!ProfileFile::ReadString(fileName, section, key, value, &why))
        value.clear();
    if (error)
        *error = why;
    return value;
}

bool WriteFileIni(const QString& fileName, const QString& section, const QString& key, const QString& value,
                  QString* error)
{
    QString why;
    const bool ok = ProfileFile::WriteString(fileName, section, key, value, &why);
    if (error)
        *error = ok ? QString() : why;
    return ok;
}

bool WriteFileIniValues(const QString& fileName, const QString& section,
                        const QList<QPair<QString, QString>>& values, QString* error)
{
    QString why;
    const bool ok = ProfileFile::WriteStrings(fileName, section, values, &why);
    if (error)
        *error = ok ? QString() : why;
    return ok;
}

QString SettingsWriteProblem(const QString& fileName)
{
    const QFileInfo file(fileName);
    const QString folder = file.absolutePath();
    const QByteArray dir = QFile::encodeName(folder);
    const QString lost = QStringLiteral(" Le cornici, i valori dei cursori e le opzioni di questa sessione non saranno "
                                        "conservati.");
    struct stat st;
    if (::stat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return QStringLiteral("Le impostazioni non possono essere salvate in %1: la cartella non esiste.").arg(fileName) +
               lost;
    // The same test the writer makes: the new text goes to a file beside the old one.
    if (::faccessat(AT_FDCWD, dir.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return QStringLiteral("Le impostazioni non possono essere salvate in %1: la cartella %2 non è scrivibile.")
                   .arg(fileName, folder) +
               lost;
    const QByteArray path = QFile::encodeName(file.absoluteFilePath());
    if (::stat(path.constData(), &st) == 0 && ::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) != 0)
        return QStringLiteral("Le impostazioni non possono essere salvate: il file %1 è in sola lettura.").arg(fileName) +
               lost;
    return QString();
}

QString BoolToString(bool value, const QString& trueText, const QString& falseText)
{
    return value ? trueText : falseText;
}

bool StringToBool(const QString& text)
{
    if (text == u"1" || text == u"X")
        return true;
    return !text.isEmpty() && (text[0] == u'T' || text[0] == u'V');
}

bool ValidInteger(const QString& text, int32_t* value)
{
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i < n && (text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return false;
    int64_t v = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        int d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            return false;
        v = v * base + d;
        if (v > int64_t(1) << 31) // beyond what any sign can bring back into range
            return false;
    }
    if (negative)
        v = -v;
    if (v > INT32_MAX || v < INT32_MIN)
        return false;
    if (value)
        *value = static_cast<int32_t>(v);
    return true;
}
