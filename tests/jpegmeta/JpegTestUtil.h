#pragma once
// Builders for the JPEG and EXIF inputs of the jpegmeta tests: TIFF blocks in
// either byte order with chosen directories, whole JPEG files around them,
// synthetic pictures, and small file and tool helpers.

#include "jpegmeta/JpegSave.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// One directory entry; the value is given as little-endian bytes and the
// builder reverses each unit of `unit` bytes for big-endian blocks.
struct XEntry {
    uint16_t tag = 0;
    uint16_t type = 0;
    uint32_t count = 0;
    Bytes le;
    unsigned unit = 1;
};

XEntry XShort(uint16_t tag, std::vector<uint16_t> v, uint16_t type = 3);
XEntry XLong(uint16_t tag, std::vector<uint32_t> v, uint16_t type = 4);
XEntry XRational(uint16_t tag, std::vector<uint32_t> numDen, uint16_t type = 5);
XEntry XAscii(uint16_t tag, const std::string& text, bool nul = true);
XEntry XBytes(uint16_t tag, Bytes v, uint16_t type = 1);
XEntry XDouble(uint16_t tag, std::vector<double> v);

struct XSpec {
    bool bigEndian = false;
    std::vector<XEntry> ifd0, exif, interop, gps, ifd1;
    bool exifPointer = true;
    bool withInterop = true;
    bool withGps = false;
    Bytes thumbnail; // non-empty: IFD1 with Compression 6 and the thumbnail tags
};

struct XTiff {
    Bytes bytes;
    std::map<int, size_t> ifdPos;                  // slot -> offset in the block
    std::map<std::pair<int, uint16_t>, size_t> entryPos; // (slot, tag) -> offset of its 12 bytes
    size_t thumbPos = 0;
    bool bigEndian = false;
    void Put16(size_t pos, uint16_t v);
    void Put32(size_t pos, uint32_t v);
};

XTiff BuildTiff(const XSpec& layout);

// A small real JPEG (with its JFIF APP0) to carry the image data.
Bytes SmallJpeg(int w = 48, int h = 32, int quality = 75);
// FF D8, APP1 "Exif" around the block, then `body` without its SOI (and
// without its leading JFIF APP0 unless keepJfif).
Bytes WrapExif(const Bytes& tiff, const Bytes& body, bool keepJfif = false);
Bytes Segment(uint8_t code, const Bytes& content);
Bytes StripLeadingApp0(const Bytes& jpeg); // drops SOI too; returns the rest

// Synthetic pictures: photo-like and signature-like (a dark stroke on white).
TBgrPixels PhotoLike(int w, int h, unsigned seed = 1);
TBgrPixels SignatureLike(int w, int h);

// A fresh folder under the system temporary folder, removed by the destructor.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    std::string File(const std::string& name) const { return path + "/" + name; }
};

bool WriteBytes(const std::string& file, const Bytes& b);
Bytes ReadBytes(const std::string& file);
// Runs a shell command; returns its exit status and standard output.
int RunCommand(const std::string& cmd, std::string* output = nullptr);
bool HaveTool(const char* name);
