// corvanta-batch: every picture named on the command line (files or folders)
// becomes its photo and signature file, as "Elabora cartella…" does in the
// window, without a display.
//
// Exit status: 0 when every page gave both files, 1 when some did not, 2 when
// the command could not start (wrong arguments, output folder unusable).

#include "batch/Batch.h"
#include "config/U_Savecfg.h"
#include "jpegmeta/SafeFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <csignal>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<bool> gInterrupted{false};

void OnSignal(int)
{
    gInterrupted = true;
    // A second Ctrl+C ends at once; files are whole or absent either way.
    std::signal(SIGINT, SIG_DFL);
}

void Usage(FILE* to)
{
    std::fputs("Uso: corvanta-batch [--out CARTELLA] [--settings FILE.ini] [--overwrite | --keep-both]\n"
               "                    [--json FILE|-] [--threads N] FILE|CARTELLA...\n"
               "Per ogni immagine scrive <nome>Foto.jpg e <nome>Firma.jpg nella cartella di uscita.\n"
               "  --out        cartella di uscita (altrimenti quella delle opzioni)\n"
               "  --settings   file delle impostazioni (altrimenti quello del programma)\n"
               "  --overwrite  sostituisce i file già presenti (altrimenti restano com'erano)\n"
               "  --keep-both  tiene i file presenti e numera i nuovi: <nome> (2)Foto.jpg\n"
               "  --json       resoconto, una riga JSON per file ('-' = standard output)\n"
               "  --threads    pagine elaborate insieme (altrimenti una per processore)\n"
               "Esce con 0 solo se ogni pagina ha dato entrambi i file.\n",
               to);
}

void Fail(const QString& text)
{
    std::fprintf(stderr, "corvanta-batch: %s\n", text.toLocal8Bit().constData());
}

QString DefaultIniFile()
{
    // The window's own settings file: the name follows the main program's.
    return ComputeIniFileName(QCoreApplication::applicationDirPath() + QStringLiteral("/corvanta"), LocalDataFolder());
}

// A text as a JSON string, quotes included.
QByteArray Quote(const QString& text)
{
    const QByteArray a = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return a.mid(1, a.size() - 2);
}

QString Duration(double seconds)
{
    const int s = static_cast<int>(seconds + 0.5);
    return s >= 3600 ? QStringLiteral("%1h%2m").arg(s / 3600).arg((s % 3600) / 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1m%2s").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char** argv)
{
    // No display: pictures are read and painted off screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QString out, ini, jsonTarget;
    int threads = 0;
    TBatchCollision collision = TBatchCollision::Skip;
    QStringList inputs;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        auto value = [&](QString& into) {
            if (i + 1 >= args.size()) {
                Fail(QStringLiteral("manca il valore di %1").arg(a));
                return false;
            }
            into = args.at(++i);
            return true;
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            Usage(stdout);
            return 0;
        } else if (a == QLatin1String("--out")) {
            if (!value(out))
                return 2;
        } else if (a == QLatin1String("--settings")) {
            if (!value(ini))
                return 2;
        } else if (a == QLatin1String("--json")) {
            if (!value(jsonTarget))
                return 2;
        } else if (a == QLatin1String("--threads")) {
            QString n;
            bool ok = false;
            if (!value(n) || (threads = n.toInt(&ok), !ok || threads < 1)) {
                Fail(QStringLiteral("--threads vuole un numero intero positivo"));
                return 2;
            }
        } else if (a == QLatin1String("--overwrite")) {
            collision = TBatchCollision::Replace;
        } else if (a == QLatin1String("--keep-both")) {
            collision = TBatchCollision::Number;
        } else if (a.startsWith(QLatin1String("--"))) {
            Fail(QStringLiteral("opzione sconosciuta: %1").arg(a));
            Usage(stderr);
            return 2;
        } else {
            inputs << a;
        }
    }
    if (inputs.isEmpty()) {
        Usage(stderr);
        return 2;
    }

    TBatchSettings settings;
    QString why;
    if (ini.isEmpty())
        ini = DefaultIniFile();
    else if (!QFileInfo(ini).isFile()) {
        Fail(QStringLiteral("il file delle impostazioni %1 non esiste").arg(ini));
        return 2;
    }
    if (!ReadBatchSettings(ini, settings, &why)) {
        Fail(why);
        return 2;
    }
    settings.Collision = collision;
    if (!out.isEmpty())
        settings.OutFolder = QDir(out).absolutePath() + QLatin1Char('/');
    if (settings.OutFolder.isEmpty()) {
        Fail(QStringLiteral("cartella di uscita non impostata: indicarla con --out"));
        return 2;
    }
    const QByteArray outLocal = QFile::encodeName(settings.OutFolder);
    if (!QFileInfo(settings.OutFolder).isDir()) {
        Fail(QStringLiteral("la cartella di uscita %1 non esiste").arg(settings.OutFolder));
        return 2;
    }
    if (::access(outLocal.constData(), W_OK | X_OK) != 0) {
        Fail(QStringLiteral("nella cartella di uscita %1 non si può scrivere: nessun file elaborato").arg(settings.OutFolder));
        return 2;
    }

    FILE* json = nullptr;
    if (jsonTarget == QLatin1String("-"))
        json = stdout;
    else if (!jsonTarget.isEmpty() && !(json = std::fopen(QFile::encodeName(jsonTarget).constData(), "w"))) {
        Fail(QStringLiteral("impossibile scrivere il resoconto %1").arg(jsonTarget));
        return 2;
    }

    QStringList missing;
    const QStringList files = CollectBatchFiles(inputs, &missing);
    bool allDone = missing.isEmpty();
    for (const QString& m : missing) {
        Fail(QStringLiteral("%1: file o cartella inesistente").arg(m));
        if (json)
            std::fprintf(json, "{\"file\":%s,\"done\":false,\"error\":\"file o cartella inesistente\"}\n",
                         Quote(m).constData());
    }

    const bool tty = ::isatty(STDERR_FILENO);
    TBatchRun::TOptions options;
    options.Threads = threads;
    TBatchRun run(files, settings, options);
    std::vector<char> reported(static_cast<size_t>(files.size()), 0);
    int finished = 0, complete = 0;
    QElapsedTimer clock;
    clock.start();
    run.OnPage = [&](int index, const TBatchPage& page) {
        reported[static_cast<size_t>(index)] = 1;
        ++finished;
        if (page.Done())
            ++complete;
        else
            allDone = false;
        if (json) {
            std::fprintf(json, "%s\n", BatchPageJson(page).constData());
            std::fflush(json);
        }
        if (tty) {
            const double left = clock.elapsed() / 1000.0 / finished * (files.size() - finished);
            std::fprintf(stderr, "\r\033[K[%d/%d] %d complete, mancano circa %s  %s", finished, int(files.size()),
                         complete, Duration(left).toLocal8Bit().constData(),
                         QFileInfo(page.Source).fileName().left(40).toLocal8Bit().constData());
            std::fflush(stderr);
        }
    };
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::atomic<bool> over{false};
    run.Start();
    std::thread waiter([&] {
        run.Wait();
        over = true;
    });
    while (!over) {
        if (gInterrupted && !run.Cancelled())
            run.Cancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    waiter.join();
    FinishFileWork();

    for (int i = 0; i < files.size(); ++i) {
        if (reported[static_cast<size_t>(i)])
            continue;
        allDone = false;
        if (json)
            std::fprintf(json, "{\"file\":%s,\"done\":false,\"error\":\"non elaborato: interrotto\"}\n",
                         Quote(files.at(i)).constData());
    }
    if (tty)
        std::fputs("\n", stderr);
    std::fprintf(stderr, "%d pagine su %d complete (foto e firma) in %s%s\n", complete, int(files.size()),
                 Duration(clock.elapsed() / 1000.0).toLocal8Bit().constData(),
                 run.Cancelled() ? ", interrotto" : "");
    if (json && json != stdout)
        std::fclose(json);
    return allDone && complete == files.size() ? 0 : 1;
}
