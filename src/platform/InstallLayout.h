#pragma once
// Where the program finds the files it ships with (the source manager library, the
// manual). A build tree keeps them beside the executable; an installation puts them in
// folders of their own, at fixed places relative to the executable's folder, so an
// installed copy works under any prefix.

#include <QString>
#include <QStringList>

enum class TShippedFolder {
    PrivateLibrary, // the source manager
    Documentation,  // the manual
};

// The absolute paths where fileName may be, in the order they are tried: beside the
// executable first, then the installed folder of that kind.
QStringList ShippedFilePlaces(const QString& fileName, TShippedFolder folder);

// The first of ShippedFilePlaces that exists as a file; empty when none does.
QString FindShippedFile(const QString& fileName, TShippedFolder folder);

// The folders of ShippedFilePlaces in native form, for a message that says where a
// missing file was sought.
QStringList ShippedFolders(const QString& fileName, TShippedFolder folder);
