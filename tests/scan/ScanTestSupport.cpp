#include "ScanTestSupport.h"

#include "scan/TW_Apps.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <dlfcn.h>

namespace scantest {

namespace {

QTemporaryDir& Scratch()
{
    static QTemporaryDir dir;
    return dir;
}

void* DsmHandle()
{
    static void* h = dlopen(DsmLibraryPath().toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    return h;
}

} // namespace

void PrepareEnvironment()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    if (!std::getenv("SANE_CONFIG_DIR")) {
        const char* src = std::getenv("CORVANTA_SOURCE_DIR");
        // Run by hand, the binary finds the project through this file's own path.
        const QString root = src ? QString(src) : QFileInfo(QString(__FILE__)).absolutePath() + "/../..";
        const QString dir = QDir(root + "/tests/sane").absolutePath();
        setenv("SANE_CONFIG_DIR", dir.toLocal8Bit().constData(), 1);
    }
    setenv("XDG_CONFIG_HOME", (Scratch().path() + "/config").toLocal8Bit().constData(), 1);
    QDir().mkpath(Scratch().path() + "/config");
    SetTwainDllPath(DsmLibraryPath());
}

QString DsmLibraryPath()
{
    const char* bin = std::getenv("CORVANTA_BINARY_DIR");
    const QString root = bin ? QString(bin) : QCoreApplication::applicationDirPath() + "/..";
    return QDir(root).absoluteFilePath(TwainDllName);
}

QString TempDir() { return Scratch().path(); }

bool WaitUntil(const std::function<bool()>& done, int guardMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > guardMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

void WhenShown(const std::function<QWidget*()>& find, const std::function<void(QWidget*)>& action)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, find, action] {
        if (QWidget* w = find()) {
            timer->stop();
            timer->deleteLater();
            action(w);
        }
    });
    timer->start();
}

TBoxCatcher::TBoxCatcher()
{
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &TBoxCatcher::Poll);
    timer_.start();
}

TBoxCatcher::~TBoxCatcher() { timer_.stop(); }

void TBoxCatcher::Poll()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible() || box->property("caught").toBool())
            continue;
        box->setProperty("caught", true);
        Boxes.emplace_back(box->windowTitle(), box->text());
        QAbstractButton* answer = nullptr;
        for (QAbstractButton* b : box->buttons()) {
            const auto role = box->buttonRole(b);
            if ((role == QMessageBox::YesRole && !RefuseAbandon) || (role == QMessageBox::NoRole && RefuseAbandon))
                answer = b;
        }
        if (!answer && !box->buttons().isEmpty())
            answer = box->buttons().first();
        QMetaObject::invokeMethod(
            box, [answer] { answer->click(); }, Qt::QueuedConnection);
    }
}

bool TBoxCatcher::Saw(const QString& textPart) const
{
    for (const auto& b : Boxes)
        if (b.first.contains(textPart) || b.second.contains(textPart))
            return true;
    return false;
}

QString TBoxCatcher::All() const
{
    QString s;
    for (const auto& b : Boxes)
        s += "[" + b.first + "] " + b.second + "\n";
    return s;
}

static QDialog* FindDialog(const char* name)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            return qobject_cast<QDialog*>(w);
    return nullptr;
}

QDialog* SourceDialog() { return FindDialog("DsmSourceDialog"); }
QDialog* SelectDialog() { return FindDialog("DsmSelectDialog"); }

void SetDeviceOption(const char* name, const char* value)
{
    using Fn = void (*)(const char*, const char*);
    if (auto f = reinterpret_cast<Fn>(dlsym(DsmHandle(), "CorvantaDsm_SetOption")))
        f(name, value);
}

void ClearDeviceOptions()
{
    SetDeviceOption(nullptr, nullptr);
    // The test backend keeps option values between sessions (also across its devices),
    // so every fault injected earlier is switched off explicitly.
    for (const auto& kv : std::vector<std::pair<const char*, const char*>>{{"read-return-value", "Default"},
                                                                            {"read-limit", "no"},
                                                                            {"read-delay", "no"},
                                                                            {"ppl-loss", "0"},
                                                                            {"hand-scanner", "no"},
                                                                            {"three-pass", "no"},
                                                                            {"source", "Flatbed"}})
        SetDeviceOption(kv.first, kv.second);
}

void SetWatchdogMs(int ms)
{
    using Fn = void (*)(int);
    if (auto f = reinterpret_cast<Fn>(dlsym(DsmHandle(), "CorvantaDsm_SetWatchdogMs")))
        f(ms);
}

void UseDevice(const QString& device)
{
    QDir().mkpath(TempDir() + "/config/Lodrevan");
    QFile f(TempDir() + "/config/Lodrevan/corvanta-scanner.conf");
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write("Predefinito=" + device.toUtf8() + "\n");
}

QImage ScanimageReference(const QStringList& args)
{
    QProcess p;
    p.start("scanimage", QStringList{"-d", "test:0", "--format=pnm"} + args);
    if (!p.waitForFinished(-1) || p.exitCode() != 0)
        return QImage();
    // Read here rather than by Qt: 16-bit samples must give their high byte exactly.
    const QByteArray data = p.readAllStandardOutput();
    QList<QByteArray> fields;
    int pos = 0;
    while (fields.size() < 4 && pos < data.size()) {
        while (pos < data.size() && QChar(data[pos]).isSpace())
            ++pos;
        if (pos < data.size() && data[pos] == '#') {
            while (pos < data.size() && data[pos] != '\n')
                ++pos;
            continue;
        }
        const int start = pos;
        while (pos < data.size() && !QChar(data[pos]).isSpace())
            ++pos;
        fields << data.mid(start, pos - start);
    }
    ++pos;
    if (fields.size() < 4)
        return QImage();
    const bool colour = fields[0] == "P6";
    const int w = fields[1].toInt(), h = fields[2].toInt(), bytes = fields[3].toInt() > 255 ? 2 : 1;
    const int channels = colour ? 3 : 1;
    if (data.size() - pos < qsizetype(w) * h * channels * bytes)
        return QImage();
    QImage img(w, h, QImage::Format_BGR888);
    const uchar* src = reinterpret_cast<const uchar*>(data.constData()) + pos;
    for (int y = 0; y < h; ++y) {
        uchar* dst = img.scanLine(y);
        for (int x = 0; x < w; ++x) {
            uchar v[3];
            for (int c = 0; c < 3; ++c)
                v[c] = src[((qsizetype(y) * w + x) * channels + (colour ? c : 0)) * bytes];
            dst[x * 3] = v[2];
            dst[x * 3 + 1] = v[1];
            dst[x * 3 + 2] = v[0];
        }
    }
    return img;
}

} // namespace scantest
