#pragma once
// Saving a slot's picture as a size-limited JPEG of 200 dots per inch. The
// work without windows lives here so that it can run and be checked headless;
// TFormCrop::BtSaveImgClick asks for the name and reports the outcome.

#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

// Largest output files, in bytes.
constexpr int kFotoMaxBytes = 34990;
constexpr int kFirmaMaxBytes = 19990;

// Why a typed prefix cannot start a file name in the output folder, in
// Italian; empty when it can. A separator, a NUL or the names "." and ".."
// would let the name reach outside the folder or cut the name short.
QString CheckFilePrefix(const QString& prefix);

struct TSlotSaveResult {
    bool Saved = false; // target holds the new file
    int Quality = 0;    // JPEG quality of the encoding kept
    int Attempts = 0;   // encodes made
    qint64 Size = 0;    // bytes written to the target
    QString Error;      // why nothing was saved, in Italian
    QImage Written;     // the pixels of the target's bytes (null when they could not be decoded)
};

// The output file's bytes made in memory: the first encoding at quality 100,
// 95, ..., 5 that fits maxBytes (Compressed), and the same marked with 200
// dots per inch (Marked). False with an Italian reason in `error`, also when
// not even quality 5 fits (Quality and Attempts then tell how far it went).
struct TSlotJpeg {
    std::vector<uint8_t> Compressed;
    std::vector<uint8_t> Marked;
    int Quality = 0;
    int Attempts = 0;
};
bool EncodeSlotJpeg(const QImage& picture, int maxBytes, TSlotJpeg& out, QString* error);

// Encodes `picture` at quality 100, 95, ..., 5 until it fits maxBytes, marks
// it with 200 dots per inch and replaces `target` with it in one step. An
// encoding that does not fit even at quality 5 is refused and nothing is
// written. `tmpFile` (when not empty) receives the compressed picture before
// the density is set, as the program's working copy; it is not needed for the
// output, so failing to write it does not fail the save.
TSlotSaveResult SaveSlotJpeg(const QImage& picture, const QString& target, const QString& tmpFile, int maxBytes);

// Re-encodes the JPEG file `source` at `quality` (1..100) into `destination`,
// which is written whole or left as it was. False with an Italian reason.
bool SaveJPG(const QString& source, const QString& destination, int quality, QString* reason = nullptr);

// The reason for an OS error in Italian, for the errors a save meets; other
// codes keep the system's own text.
QString ItalianOsReason(int err, const QString& systemText);
