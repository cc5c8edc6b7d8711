#pragma once
// INI ("profile string") files with the semantics Windows programs expect:
//
//  - "[Section]" opens a section, "key=value" lines follow; names are matched
//    without regard to case, with blanks and tabs around them ignored.
//  - The value is everything after the first "=", blanks and tabs trimmed, and a
//    value wrapped in matching quotes (' or ") is read without them.
//  - Lines starting with ";" are comments; blank lines, junk and lines without
//    "=" are ignored when reading and kept byte for byte when writing.
//  - Of duplicate sections or keys the first one wins, for reads and writes alike.
//  - CR LF, LF and CR line ends are all read; a rewrite keeps the file's own
//    line end (a new file gets LF). Text is UTF-8; a leading byte-order mark is
//    tolerated and kept.
//
// There is no cache: every call opens, reads (and writes) and closes the file.
// A write never changes the file in place: the new text goes to a temporary
// file in the same folder, which is then renamed over the old one, so a crash,
// a full disk or a refused write leaves the old file whole. A missing folder is
// never created.

#include <QList>
#include <QPair>
#include <QString>

namespace ProfileFile {

// Reads one value into `value`. An absent file, section or key gives empty text
// and true. False, with an explanation in `error`, only when the file exists but
// cannot be read (permissions, a folder in its place, an I/O error).
bool ReadString(const QString& fileName, const QString& section, const QString& key, QString& value,
                QString* error = nullptr);

// Stores one value: an existing key gets its line changed, a new key goes to the
// end of its section, a new section to the end of the file, and a missing file
// is created (its folder must exist). False, with an explanation in `error`, when
// the value could not be stored; the file is then exactly as it was.
// A value that a read would otherwise change (blanks at either end, enclosing
// quotes) is written in quotes, so every value reads back exactly as written.
// Names and values that would break the line structure (line breaks, a "=" in a
// key, a "]" in a section name, empty names) are refused.
bool WriteString(const QString& fileName, const QString& section, const QString& key, const QString& value,
                 QString* error = nullptr);

// Stores several values of one section as WriteString would one after the
// other, in one replacement of the file: one flush to the disk instead of
// one per value, and all of them or none. Later pairs win over earlier ones
// of the same key.
bool WriteStrings(const QString& fileName, const QString& section, const QList<QPair<QString, QString>>& values,
                  QString* error = nullptr);

// Removes what a write cut short (a crash, a kill) left beside the file: the
// hidden temporary files of WriteString's own pattern, ".<name>.tmp" and up to
// seven lower-case letters or digits, that are regular files older than
// `minAgeSeconds` (younger ones may belong to a write under way in another
// instance). Nothing else is touched. Returns how many were removed.
int RemoveLeftoverTemporaries(const QString& fileName, int minAgeSeconds = 60);

} // namespace ProfileFile
