#pragma once
// EXIF blocks shared by the jpegmeta tests.

#include "JpegTestUtil.h"

#include "jpegmeta/dyExif.h"

// A block with every directory and most value kinds: short and long texts
// (one of odd length), byte, 16-bit, 32-bit, rational and double lists,
// a zero denominator, a GPS directory and an IFD1 thumbnail.
XSpec RichSpec(bool bigEndian);
Bytes RichJpeg(bool bigEndian);
Bytes Thumbnail();

// Every decoded entry of a record as text, one line per entry, with the slot,
// tag, type, size and value (pool bytes in hex), leaving out the values that
// are offsets into the block and so change with every rebuild.
std::string DumpRecord(const TEXIF_Data& d);
