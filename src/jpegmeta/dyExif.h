#pragma once
// JPEG header recognition and the EXIF block: read it into a record, edit
// simple tags, and rebuild the file with a new little-endian EXIF block.
//
// Everything works on bytes held in memory ("streams" are whole files in a
// buffer), so the same code serves files on disk and a fuzzer. Every offset,
// count and length taken from the data is checked against the bytes present
// before it is used: malformed input gives an error code or false, never a
// read outside the buffer.
//
// Calling order: construct the record with the source name, load the bytes,
// GetJpegFormat, GetExifInfos, any number of TagToValue / ModifyTag /
// InsertTag, then WriteToFile (or WriteToStream).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Byte order.
// One current reading order per thread: set for big-endian ("MM") data.
// Raw values are the bytes read as little-endian; the *_si_Moto helpers turn
// them into host values by reversing them when the flag is set.
void SetMotorolaOrder(bool bigEndian);
bool MotorolaOrder();
uint16_t Swap16_si_Moto(uint16_t v);
uint32_t Swap32_si_Moto(uint32_t v);
uint32_t Swap32(uint32_t v);

// Type codes.
enum : uint16_t {
    ftByte = 1, ftAscii = 2, ftShort = 3, ftLong = 4, ftRational = 5, ftSByte = 6,
    ftUndefined = 7, ftSShort = 8, ftSLong = 9, ftSRational = 10, ftFloat = 11,
    ftDouble = 12, ftIfd = 13,
    // Only in the record: byte and 16-bit lists held as decimal text in the pool.
    ftByteList = 2727, ftShortList = 2728,
};

// Element size of a type code (0 for unknown codes); the list codes map to
// their written types.
uint32_t ExifTypeSize(uint16_t ft);

// Tags the unit knows by number.
enum : uint16_t {
    tagCompression = 0x0103, tagModel = 0x0110, tagXResolution = 0x011A,
    tagYResolution = 0x011B, tagResolutionUnit = 0x0128, tagThumbOffset = 0x0201,
    tagThumbLength = 0x0202, tagExtraIfd = 0x4C6C, tagExifIfd = 0x8769,
    tagGpsIfd = 0x8825, tagUserComment = 0x9286, tagInteropIfd = 0xA005,
};

// Records.
// A raw 12-byte directory entry, every field still in the file's byte order.
struct TTagLu {
    uint16_t Number = 0;
    uint16_t Format = 0;
    uint32_t Compo = 0;
    uint32_t Value = 0;
};

// A value by type. Signed types keep their bits in the unsigned field of the
// same size (SBYTE in Octet, SSHORT in Mot, SLONG and FLOAT in Long,
// SRATIONAL in Numer/Denom).
struct TTagValue {
    uint16_t Ft = 0;
    uint8_t Octet = 0;   // 1, 6
    uint16_t StrInd = 0; // 2, 7, 2727, 2728: index into the string pool
    uint16_t Mot = 0;    // 3, 8
    uint32_t Long = 0;   // 4, 9, 11, 13 (a list of several: its offset)
    uint32_t Numer = 0;  // 5, 10
    uint32_t Denom = 0;
    double DFloat = 0;   // 12
};

// A decoded entry.
struct TTag : TTagValue {
    uint16_t Lu = 0; // index of the raw entry in TagLus
    uint16_t Id = 0; // tag number
    uint32_t Ln = 0; // count x element size: the value's size in bytes
    // Several 4-byte, rational or double values: the pool entry holding all of
    // them as little-endian bytes, so the writer can carry the whole list.
    int32_t ListInd = -1;
};

// One directory slot.
struct TIFD {
    int32_t Position = 0; // absolute position in the source; 0 = slot empty
    uint16_t Entries_Count = 0;
    uint16_t Prev_Entries = 0; // index in Tags of the slot's first entry
    uint32_t Total_Size = 0;   // 6 + 12 x Entries_Count + Offset_Size
    uint32_t Offset_Size = 0;  // bytes of values stored outside the value fields
    uint32_t Next_IFD_Ofs = 0;
};

// A value the writer places after its directory.
struct TLongEntry {
    uint16_t Tag = 0;
    size_t ValPos = 0; // output position of the entry's value field
    std::vector<uint8_t> Bytes;
};

// Directory slots: 1 IFD0, 2 EXIF, 3 never used, 4 interoperability, 5 GPS,
// 6 the directory of tag 0x4C6C, 7 IFD1 (thumbnail).
constexpr int kIfdSlots = 8;

class TEXIF_Data {
public:
    explicit TEXIF_Data(std::string fileName = {});

    const std::string& Cliche() const { return FCliche; }
    bool Modified() const { return FModified; }

    std::vector<TTagLu> TagLus;
    std::string FCliche;
    uint32_t ZerOfst = 0;  // position of the TIFF base in the source
    bool FModified = false;
    uint16_t APP1_Len = 0; // length field of the source EXIF APP1
    std::vector<TIFD> IFD;
    std::vector<TTag> Tags;
    std::vector<std::string> Str; // the string pool (raw bytes and list texts)

    // Kept by GetExifInfos for the writer: the whole source, where its EXIF
    // APP1 segment starts, and the byte order of its TIFF block.
    std::vector<uint8_t> Source;
    size_t App1Pos = 0;
    bool BigEndian = false;
};

// Reading.
// -1 not a JPEG or a malformed first segment, 0 first segment neither JFIF nor
// EXIF, 1 JFIF (APP0 of at least 16 bytes), 2 EXIF.
int GetJpegFormat(const uint8_t* data, size_t size);
int GetJpegFormat(const std::vector<uint8_t>& stream);

// Error codes of GetExifInfos.
enum : int {
    exNoSoi = -1, exNoApp1 = 1, exNotExif = 2, exBadByteOrder = 3, exNot42 = 4,
    exNoExifIfd = 5,
    // The block's structure is broken: an offset, count or length outside the
    // data, a segment length below 2, or directories overlapping (a loop).
    exMalformed = 6,
    exNoInterop = 7, exNoIfd1 = 8, // added together; come with result true
};

bool GetExifInfos(const uint8_t* data, size_t size, TEXIF_Data& d, int& errorCode);
bool GetExifInfos(const std::vector<uint8_t>& stream, TEXIF_Data& d, int& errorCode);

// Decodes the entries of the directory at dirOffset of the TIFF block into
// the slot, whose Entries_Count and Prev_Entries are set and whose 12-byte
// entries are known to lie inside the block. False when a value lies outside
// the block or its size overflows.
bool Decode_IFD_Entries(TEXIF_Data& d, int slot, const uint8_t* tiff, size_t tiffLen, size_t dirOffset);
void CommToThumb(TEXIF_Data& d);

// Tag access.
int TagToInd(uint16_t tag, const TEXIF_Data& d);
int TagToValue(uint16_t tag, const TEXIF_Data& d, TTagValue& value);
// The tag's value (16- or 32-bit) in host order; -1 when absent.
int64_t TagToOffset(uint16_t tag, const TEXIF_Data& d);
// The IFD1 JPEG thumbnail (Compression 6 or 7, inside the EXIF block,
// beginning with SOI).
bool ThumbToStream(const TEXIF_Data& d, std::vector<uint8_t>& thumb);

// -1 slot 3, no such slot, or tag absent; -2 type differs; -3 type not changeable.
int ModifyTag(uint16_t tag, const TTagValue& value, uint8_t slot, TEXIF_Data& d);
// -1 for slot 3, an absent directory, a full directory, or a type that cannot
// be inserted (0, 2, 7, codes above 13).
int InsertTag(uint16_t tag, const TTagValue& value, uint8_t slot, TEXIF_Data& d);

// Writing.
// Writes SOI, the leading JFIF APP0 of the source when there is one, and the
// start of the new APP1 block; returns the position of the APP1 length field
// (lengthPos) and of the TIFF base (base).
void WriteHeader(const TEXIF_Data& d, std::vector<uint8_t>& out, size_t& lengthPos, size_t& base);
// Patches the 4-byte little-endian field at fieldPos with the current output
// position relative to base.
void WriteOffsetToTag(std::vector<uint8_t>& out, size_t fieldPos, size_t base);

// Rebuilds the whole file in memory: one little-endian EXIF APP1 right after
// SOI (or after a leading JFIF APP0), every other segment and the image data
// unchanged. False when the source cannot be rebuilt soundly.
bool WriteToStream(const TEXIF_Data& d, std::vector<uint8_t>& out, bool Flag);
// As WriteToStream, then the file is replaced whole or not at all.
bool WriteToFile(const TEXIF_Data& d, const std::string& fileName, bool Flag);
