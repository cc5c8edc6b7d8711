#pragma once
// The batch: every picture of a folder (or a list of files) turned into its
// photo and signature files in one go, without a window.
//
// Units and conventions: rectangles are in picture pixels of the page as
// straightened, Right and Bottom exclusive. Pictures are QImage BGR888 (bytes
// blue, green, red). A page runs through the same load, rotation, crop,
// retouch and size-limited save code as the main window; nothing here
// includes QtWidgets, so the functions run on worker threads and in the
// command `corvanta-batch` alike.
//
// Output names: the prefix is the picture file's own name without its
// extension ("modulo_017.jpg" gives "modulo_017Foto.jpg" and
// "modulo_017Firma.jpg"). Every file is written whole or not at all; an
// existing file is replaced only when the collision rule says so.

#include "platform/Geometry.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// The retouch of one slot: the four colour sliders and the sharpness level
// -3..3 (positive sharpens, negative softens), as the main window keeps them.
struct TBatchRetouch {
    int Brightness = 0;
    int Contrast = 0;
    int Lightness = 0; // the "dark tones" slider
    int Saturation = 0;
    int Sharpness = 0;
};

// What to do when an output name is already taken.
enum class TBatchCollision {
    Skip,    // leave the existing file; the slot counts as not saved
    Replace, // replace it (in one step)
    Number,  // keep both: the page's prefix gets " (2)", " (3)", ... for both files
};

struct TBatchSettings {
    QString OutFolder; // ends with "/"
    bool FirmaGrayscale = true;
    TBatchRetouch Foto;
    TBatchRetouch Firma;
    // The stored frames, used where the analysis finds nothing.
    bool UseStoredFrames = false;
    bool HasStoredFoto = false;
    bool HasStoredFirma = false;
    TRect StoredFoto;
    TRect StoredFirma;
    TBatchCollision Collision = TBatchCollision::Skip;
};

// The settings as the main window stores them in `iniFile`: output folder,
// grey signature, the stored retouch values and frames where their options are
// on. False with an Italian reason when the file exists but cannot be read.
bool ReadBatchSettings(const QString& iniFile, TBatchSettings& settings, QString* error);

// A stored frame (view pixels `frame`, at `zoom` view pixels per picture pixel,
// with `shown` the inclusive picture part the view showed) in picture pixels.
// The view's margin is not stored, so the frame is taken from the shown part's
// top-left corner.
TRect StoredFrameToPicture(const TRect& shown, double zoom, const TRect& frame);

// What the page analysis found, in picture pixels of the straightened page.
struct TBatchFrames {
    int Degrees = 0; // clockwise turn that straightens the page
    bool HasFoto = false;
    bool HasFirma = false;
    TRect Foto;
    TRect Firma;
    double FotoConfidence = 0;
    double FirmaConfidence = 0;
};

// The page analysis; "nothing found" while the program has none built in.
TBatchFrames AnalyseBatchPage(const QImage& page);
bool BatchHasAnalysis();

enum class TSlotState { NotDone, Saved, Exists, Failed };

struct TBatchSlot {
    TSlotState State = TSlotState::NotDone;
    QString File;     // full path of the output (also when it was not written)
    qint64 Bytes = 0;
    int Quality = 0;
    TRect Frame;      // where it was cut, picture pixels of the straightened page
    bool FromStored = false; // the frame is the stored one, not the analysis's
    bool Enlarged = false;   // the frame is smaller than the output: it was enlarged
    QString Error;    // Italian, empty when saved
    bool Saved() const { return State == TSlotState::Saved; }
};

struct TBatchPage {
    QString Source;
    bool Loaded = false;
    int Width = 0;
    int Height = 0;
    int Degrees = 0;
    TBatchSlot Foto;
    TBatchSlot Firma;
    QStringList Warnings; // Italian
    // The file is damaged and only its top could be read: the files are cut
    // from what was read, but the page does not count as done.
    bool Damaged = false;
    bool Done() const { return Foto.Saved() && Firma.Saved() && !Damaged; }
};

// The output prefix of a picture file: its name without folder and extension.
QString BatchPrefix(const QString& file);

// The pictures named by `arguments`: files as given, folders by their files
// (not their subfolders) in name order. Names that are neither go to `missing`.
QStringList CollectBatchFiles(const QStringList& arguments, QStringList* missing = nullptr);

// Bytes a page of this file will need at most while it is worked on (the
// picture, its straightened copy and the analysis's working copies); 0 when the
// file's header cannot tell.
int64_t BatchPageBudget(const QString& file);

// A slot's picture (already scaled into the slot) retouched as the window
// renders it: positive sharpness sharpens the picture itself, negative softens
// it, then the four colour sliders apply.
QImage RenderBatchRetouch(const QImage& slotPicture, const TBatchRetouch& retouch);

// One page, start to end. Never throws; the result says what happened.
TBatchPage ProcessBatchPage(const QString& file, const TBatchSettings& settings);

// The result as one line of JSON (no newline).
QByteArray BatchPageJson(const TBatchPage& page);

// A run over many pages on worker threads, one page per thread at a time and
// pages started only while their memory fits `memoryBudget`. The callbacks
// run on the worker that finished the page, one at a time.
class TBatchRun {
public:
    struct TOptions {
        int Threads = 0;              // 0: one per processor core
        int64_t MemoryBudget = 0;     // bytes; 0: the default (1.5 GiB)
    };
    TBatchRun(QStringList files, TBatchSettings settings, TOptions options);
    ~TBatchRun();
    TBatchRun(const TBatchRun&) = delete;
    TBatchRun& operator=(const TBatchRun&) = delete;

    // Called once per page, in the order pages finish, with its index in the list.
    std::function<void(int index, const TBatchPage& page)> OnPage;
    // Called before a page starts, with its index.
    std::function<void(int index)> OnStart;

    void Start();
    // No further page starts; the pages under way finish their files.
    void Cancel();
    bool Cancelled() const;
    // Waits until every started page has finished.
    void Wait();
    int Total() const;

private:
    struct TState;
    std::shared_ptr<TState> FState;
};
