#pragma once
// Synthetic pages with known truth for the page analysis: A4 forms at 150, 200,
// 300 and 600 dpi with a real portrait photograph glued on, printed text and
// rules, a handwritten-looking signature, skew, scanner noise, uneven light
// and JPEG artefacts; a few photographed documents; pages without a photo or a
// signature. Page n is the same on every run and machine (fixed seeds, the
// program's own fonts aside).
//
// Truth rectangles are in picture pixels of the finished page: the axis-aligned
// box around the turned photo and around the turned signature ink.

#include <QImage>
#include <QRect>
#include <QString>

struct CorpusPage {
    QString name;
    int dpi = 200;
    bool photographed = false;
    bool hasPhoto = false;
    QRect photo;
    bool hasSignature = false;
    QRect signature;
    double skewDegrees = 0; // lines turned clockwise
    QByteArray jpeg;        // the page as its file holds it
    QImage picture;         // the decoded page, BGR888
};

// The number of pages in the corpus.
int CorpusSize();

// Intersection over union of two rectangles, 0 when they do not meet: how a
// find is judged against the truth.
double CorpusIoU(const QRect& a, const QRect& b);

// Page n of the corpus (0 <= n < CorpusSize()). Needs a QGuiApplication for fonts.
CorpusPage MakeCorpusPage(int n);

// Page n made at another resolution (the rest as page n), for timing.
CorpusPage MakeCorpusPageAt(int n, int dpi);

// The portrait photograph the pages carry, or a null image where the package
// that ships it is missing.
QImage CorpusPortrait();
