#pragma once
// How the main window keeps the last retouch values and selection frames in
// the settings file: the texts of the stored zoom.

#include <QLocale>
#include <QString>

// The zoom as stored: the shortest general form of the number (at most 15
// significant digits) with the decimal separator of `locale` and no group
// separators, e.g. "0,75" for an Italian locale, "0.75" for an English one, "1" for 1.
QString ZoomToIniText(double zoom, const QLocale& locale);

// A stored zoom read back with the same locale; `fallback` for any text that
// is not a finite number in that locale's notation (a text written under a
// locale with another decimal separator included).
double ZoomFromIniText(const QString& text, const QLocale& locale, double fallback = 1.0);
