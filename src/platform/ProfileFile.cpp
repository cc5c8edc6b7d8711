#include "platform/ProfileFile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A settings file is a few kilobytes; anything far larger is not ours to rewrite.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
const QByteArray kBom("\xEF\xBB\xBF", 3);
constexpr int kTooLarge = -1; // our own code next to the errno values

QString ErrnoText(int err)
{
    switch (err) {
    case EACCES:
    case EPERM:
        return QStringLiteral("Accesso negato.");
    case EROFS:
        return QStringLiteral("Il disco è in sola lettura.");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("La cartella non esiste.");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return QStringLiteral("Spazio su disco insufficiente.");
    case EISDIR:
        return QStringLiteral("Al posto del file c'è una cartella.");
    case kTooLarge:
        return QStringLiteral("Il file è troppo grande.");
    default:
        return QString::fromLocal8Bit(std::strerror(err));
    }
}

void SetError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

enum class LineKind { Blank, Comment, Section, Key, Junk };

struct Line {
    int start = 0;   // offset of the line's text in the (BOM-less) content
    int length = 0;  // without the line end
    int eolLength = 0;
    LineKind kind = LineKind::Junk;
    QString name;    // section or key name, trimmed
    int valueStart = 0; // Key lines: offset just after the first '='
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

QByteArray TrimBlanks(const QByteArray& s)
{
    int b = 0;
    int e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

QString TrimName(const QString& s)
{
    int b = 0;
    int e = s.size();
    while (b < e && (s[b] == u' ' || s[b] == u'\t'))
        ++b;
    while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t'))
        --e;
    return s.mid(b, e - b);
}

// UTF-8 to text keeping a leading U+FEFF: QString::fromUtf8 drops one as a
// byte-order mark, so a name or value that starts with it would not read back
// as written (the file's own mark is handled apart, before any line is read).
QString FromUtf8(const QByteArray& bytes)
{
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decode(bytes);
}

struct Parsed {
    bool bom = false;
    QByteArray text; // content without the byte-order mark
    std::vector<Line> lines;
    QByteArray eol = "\n"; // the file's own line end: the first one it uses
};

Parsed Parse(const QByteArray& raw)
{
    Parsed p;
    p.bom = raw.startsWith(kBom);
    p.text = p.bom ? raw.mid(kBom.size()) : raw;
    const QByteArray& t = p.text;
    bool eolSeen = false;
    int pos = 0;
    while (pos < t.size()) {
        Line ln;
        ln.start = pos;
        int i = pos;
        while (i < t.size() && t[i] != '\n' && t[i] != '\r')
            ++i;
        ln.length = i - pos;
        if (i < t.size())
            ln.eolLength = (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ? 2 : 1;
        if (ln.eolLength && !eolSeen) {
            p.eol = t.mid(i, ln.eolLength);
            eolSeen = true;
        }
        pos = i + ln.eolLength;

        const QByteArray content = t.mid(ln.start, ln.length);
        const QByteArray trimmed = TrimBlanks(content);
        const int close = trimmed.indexOf(']');
        const int eq = content.indexOf('=');
        if (trimmed.isEmpty()) {
            ln.kind = LineKind::Blank;
        } else if (trimmed[0] == ';') {
            ln.kind = LineKind::Comment;
        } else if (trimmed[0] == '[' && close > 0) {
            ln.kind = LineKind::Section;
            ln.name = FromUtf8(TrimBlanks(trimmed.mid(1, close - 1)));
        } else if (eq >= 0) {
            ln.kind = LineKind::Key;
            ln.name = FromUtf8(TrimBlanks(content.left(eq)));
            ln.valueStart = ln.start + eq + 1;
        }
        p.lines.push_back(std::move(ln));
    }
    return p;
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Index range [first, end) of the lines of the first section called `section`
// (first is the header line); first == -1 when there is none.
std::pair<int, int> FindSection(const Parsed& p, const QString& section)
{
    const int n = static_cast<int>(p.lines.size());
    for (int i = 0; i < n; ++i) {
        if (p.lines[i].kind != LineKind::Section || !SameName(p.lines[i].name, section))
            continue;
        int end = i + 1;
        while (end < n && p.lines[end].kind != LineKind::Section)
            ++end;
        return {i, end};
    }
    return {-1, -1};
}

int FindKey(const Parsed& p, std::pair<int, int> range, const QString& key)
{
    for (int i = range.first + 1; i < range.second; ++i)
        if (p.lines[i].kind == LineKind::Key && SameName(p.lines[i].name, key))
            return i;
    return -1;
}

QByteArray Unquote(const QByteArray& v)
{
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v[v.size() - 1] == v[0])
        return v.mid(1, v.size() - 2);
    return v;
}

// Reads the whole file. `exists` is false (and the result true) when there is no file.
bool ReadRaw(const QByteArray& path, QByteArray& data, bool& exists, struct stat* st, QString* error)
{
    data.clear();
    exists = false;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return true;
        SetError(error, ErrnoText(errno));
        return false;
    }
    exists = true;
    struct stat local{};
    struct stat* s = st ? st : &local;
    if (::fstat(fd, s) != 0 || s->st_size > kMaxFileSize) {
        const int err = (s->st_size > kMaxFileSize) ? kTooLarge : errno;
        ::close(fd);
        SetError(error, ErrnoText(err));
        return false;
    }
    char buf[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            SetError(error, ErrnoText(err));
            return false;
        }
        data.append(buf, static_cast<qsizetype>(got));
        if (data.size() > kMaxFileSize) {
            ::close(fd);
            SetError(error, ErrnoText(kTooLarge));
            return false;
        }
    }
    ::close(fd);
    return true;
}

bool WriteAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t put = ::write(fd, p, static_cast<size_t>(left));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (put == 0) {
            errno = ENOSPC;
            return false;
        }
        p += put;
        left -= put;
    }
    return true;
}

// Puts `data` in place of the file at `path` through a temporary file in the same
// folder. `old` describes the file being replaced, or is null for a new file.
bool ReplaceFile(const QByteArray& path, const QByteArray& data, const struct stat* old, QString* error)
{
    const int slash = path.lastIndexOf('/');
    const QByteArray dir = slash >= 0 ? path.left(slash + 1) : QByteArray("./");
    const QByteArray base = slash >= 0 ? path.mid(slash + 1) : path;

    QByteArray tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = dir + '.' + base + ".tmp" + QByteArray::number(QRandomGenerator::global()->generate(), 36);
        // A new file is made with the usual 0666 less the umask; a rewrite gets the old file's mode below.
        fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, old ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        SetError(error, ErrnoText(errno));
        return false;
    }
    const auto fail = [&](int err) {
        ::close(fd);
        ::unlink(tmp.constData());
        SetError(error, ErrnoText(err));
        return false;
    };
    if (!WriteAll(fd, data))
        return fail(errno);
    if (old) {
        if (::geteuid() == 0 && ::fchown(fd, old->st_uid, old->st_gid) != 0) {
            // The owner cannot always be kept (e.g. on some network file systems); the mode still is.
        }
        if (::fchmod(fd, old->st_mode & 07777) != 0)
            return fail(errno);
    }
    if (::fsync(fd) != 0)
        return fail(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.constData());
        SetError(error, ErrnoText(err));
        return false;
    }
    if (::rename(tmp.constData(), path.constData()) != 0) {
        const int err = errno;
        ::unlink(tmp.constData());
        SetError(error, ErrnoText(err));
        return false;
    }
    return true;
}

// The text to put after "=" so that a read gives back exactly `value`: one whose
// blanks at either end or enclosing quotes a read would strip is wrapped in quotes.
QByteArray Encoded(const QString& value)
{
    const QByteArray v = value.toUtf8();
    const bool padded = !v.isEmpty() && (IsBlank(v[0]) || IsBlank(v[v.size() - 1]));
    if (padded || Unquote(v) != v)
        return '"' + v + '"';
    return v;
}

bool HasLineBreak(const QString& s) { return s.contains(u'\n') || s.contains(u'\r'); }

// The path the text really lives at: a symbolic link is followed so that the
// rename replaces the target, not the link.
QByteArray TargetPath(const QString& fileName)
{
    QFileInfo fi(fileName);
    if (fi.isSymLink()) {
        const QString target = fi.exists() ? fi.canonicalFilePath() : fi.symLinkTarget();
        if (!target.isEmpty())
            return QFile::encodeName(target);
    }
    return QFile::encodeName(fi.absoluteFilePath());
}

} // namespace

namespace ProfileFile {

bool ReadString(const QString& fileName, const QString& section, const QString& key, QString& value, QString* error)
{
    value.clear();
    if (fileName.isEmpty())
        return true;
    QByteArray raw;
    bool exists = false;
    if (!ReadRaw(QFile::encodeName(fileName), raw, exists, nullptr, error))
        return false;
    if (!exists)
        return true;
    const Parsed p = Parse(raw);
    const auto range = FindSection(p, TrimName(section));
    if (range.first < 0)
        return true;
    const int k = FindKey(p, range, TrimName(key));
    if (k < 0)
        return true;
    const Line& ln = p.lines[k];
    const QByteArray v = TrimBlanks(p.text.mid(ln.valueStart, ln.start + ln.length - ln.valueStart));
    value = FromUtf8(Unquote(v));
    return true;
}

namespace {

bool ValidNames(const QString& sec, const QString& k, const QString& value)
{
    return !sec.isEmpty() && !k.isEmpty() && !HasLineBreak(sec) && !HasLineBreak(k) && !HasLineBreak(value) &&
           !sec.contains(u']') && !k.contains(u'=') && !k.startsWith(u'[') && !k.startsWith(u';');
}

// The file's bytes with `k` of `sec` holding `value`; `changed` false (and
// `raw` given back) when it already held exactly that.
QByteArray WithValue(const QByteArray& raw, const QString& sec, const QString& k, const QString& value, bool& changed)
{
    changed = true;
    Parsed p = Parse(raw);
    const QByteArray v = Encoded(value);
    QByteArray out;
    const auto range = FindSection(p, sec);
    const auto joinLines = [&](int from, int to) {
        if (from >= to)
            return QByteArray();
        const int a = p.lines[from].start;
        const Line& last = p.lines[to - 1];
        return p.text.mid(a, last.start + last.length + last.eolLength - a);
    };
    const auto withEol = [&](int idx) {
        // The line `idx` with its line end; one is added if it is the unterminated last line.
        const Line& ln = p.lines[idx];
        QByteArray s = p.text.mid(ln.start, ln.length + ln.eolLength);
        if (ln.eolLength == 0)
            s += p.eol;
        return s;
    };
    const int n = static_cast<int>(p.lines.size());

    if (range.first < 0) {
        out = p.text;
        if (n > 0 && p.lines[n - 1].eolLength == 0)
            out += p.eol;
        out += '[' + sec.toUtf8() + ']' + p.eol + k.toUtf8() + '=' + v + p.eol;
    } else {
        const int keyLine = FindKey(p, range, k);
        if (keyLine >= 0) {
            const Line& ln = p.lines[keyLine];
            const QByteArray old = p.text.mid(ln.valueStart, ln.start + ln.length - ln.valueStart);
            if (old == v) {
                changed = false;
                return raw;
            }
            out = joinLines(0, keyLine);
            out += p.text.mid(ln.start, ln.valueStart - ln.start) + v + p.text.mid(ln.start + ln.length, ln.eolLength);
            out += joinLines(keyLine + 1, n);
        } else {
            // After the section's last meaningful line, so blank lines and comments
            // that lead into the next section stay with it.
            int after = range.first;
            for (int i = range.first + 1; i < range.second; ++i)
                if (p.lines[i].kind != LineKind::Blank && p.lines[i].kind != LineKind::Comment)
                    after = i;
            out = joinLines(0, after) + withEol(after);
            out += k.toUtf8() + '=' + v + p.eol;
            out += joinLines(after + 1, n);
        }
    }
    if (p.bom)
        out.prepend(kBom);
    return out;
}

} // namespace

bool WriteString(const QString& fileName, const QString& section, const QString& key, const QString& value,
                 QString* error)
{
    return WriteStrings(fileName, section, {{key, value}}, error);
}

bool WriteStrings(const QString& fileName, const QString& section, const QList<QPair<QString, QString>>& values,
                  QString* error)
{
    const QString sec = TrimName(section);
    if (fileName.isEmpty() || values.isEmpty()) {
        SetError(error, QStringLiteral("Nome o valore non valido."));
        return false;
    }
    for (const auto& kv : values)
        if (!ValidNames(sec, TrimName(kv.first), kv.second)) {
            SetError(error, QStringLiteral("Nome o valore non valido."));
            return false;
        }

    const QByteArray path = TargetPath(fileName);
    QByteArray raw;
    bool exists = false;
    struct stat st{};
    // A file that cannot be read is never replaced: its contents would be lost.
    if (!ReadRaw(path, raw, exists, &st, error))
        return false;
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            SetError(error, ErrnoText(EISDIR));
            return false;
        }
        // The rename would succeed in a writable folder; a read-only file must still refuse.
        if (::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) != 0) {
            SetError(error, ErrnoText(errno));
            return false;
        }
    }

    QByteArray out = raw;
    bool anyChange = false;
    for (const auto& kv : values) {
        bool changed = false;
        out = WithValue(out, sec, TrimName(kv.first), kv.second, changed);
        anyChange = anyChange || changed;
    }
    if (!anyChange && exists)
        return true; // already stored exactly so

    if (!exists) {
        const int slash = path.lastIndexOf('/');
        struct stat dst{};
        if (slash >= 0 && (::stat(path.left(slash + 1).constData(), &dst) != 0 || !S_ISDIR(dst.st_mode))) {
            SetError(error, ErrnoText(ENOENT));
            return false;
        }
    }
    return ReplaceFile(path, out, exists ? &st : nullptr, error);
}

int RemoveLeftoverTemporaries(const QString& fileName, int minAgeSeconds)
{
    const QByteArray path = TargetPath(fileName);
    const int slash = path.lastIndexOf('/');
    const QByteArray dir = slash >= 0 ? path.left(slash + 1) : QByteArray("./");
    const QByteArray prefix = '.' + (slash >= 0 ? path.mid(slash + 1) : path) + ".tmp";
    DIR* d = ::opendir(dir.constData());
    if (!d)
        return 0;
    const time_t now = ::time(nullptr);
    int removed = 0;
    while (const dirent* e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (!name.startsWith(prefix))
            continue;
        const QByteArray tail = name.mid(prefix.size());
        // QByteArray::number(..., 36) writes lower-case digits and letters.
        const bool ours = !tail.isEmpty() && tail.size() <= 7 &&
                          std::all_of(tail.begin(), tail.end(), [](char c) {
                              return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
                          });
        struct stat st;
        if (!ours || ::fstatat(::dirfd(d), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || now - st.st_mtime < minAgeSeconds)
            continue;
        if (::unlinkat(::dirfd(d), name.constData(), 0) == 0)
            ++removed;
    }
    ::closedir(d);
    return removed;
}

} // namespace ProfileFile
