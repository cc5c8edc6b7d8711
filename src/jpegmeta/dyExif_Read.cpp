// Recognising a JPEG's first segment and reading its EXIF block into the record.
#include "jpegmeta/JpegSegments.h"
#include "jpegmeta/dyExif.h"
#include "jpegmeta/dyExif_Internal.h"

#include <cstring>
#include <limits>

namespace {
// Per thread, so readers on different threads (a fuzzer, a preloader) never
// see each other's byte order.
thread_local bool gMotorola = true;
} // namespace

void SetMotorolaOrder(bool bigEndian) { gMotorola = bigEndian; }
bool MotorolaOrder() { return gMotorola; }

uint16_t Swap16_si_Moto(uint16_t v) { return gMotorola ? uint16_t((v >> 8) | (v << 8)) : v; }

uint32_t Swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

uint32_t Swap32_si_Moto(uint32_t v) { return gMotorola ? Swap32(v) : v; }

uint32_t ExifTypeSize(uint16_t ft)
{
    static const uint8_t sizes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    if (ft == ftByteList)
        return 1;
    if (ft == ftShortList)
        return 2;
    return ft < 14 ? sizes[ft] : 0;
}

TEXIF_Data::TEXIF_Data(std::string fileName) : FCliche(std::move(fileName)) {}

int GetJpegFormat(const uint8_t* data, size_t size)
{
    SetMotorolaOrder(true);
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8)
        return -1;
    if (size < 4 || data[2] != 0xFF)
        return -1;
    const uint8_t code = data[3];
    if (code != 0xE0 && code != 0xE1)
        return 0;
    if (size < 6)
        return -1;
    const size_t len = LoadBE16(data + 4);
    // The segment must be present whole: the density patch of a JFIF file
    // writes bytes 13 to 17, which must belong to the APP0 segment.
    if (len > size - 4)
        return -1;
    if (code == 0xE0)
        return len >= 16 && std::memcmp(data + 6, "JFIF\0", 5) == 0 ? 1 : -1;
    return len >= 8 && std::memcmp(data + 6, "Exif\0\0", 6) == 0 ? 2 : -1;
}

int GetJpegFormat(const std::vector<uint8_t>& stream) { return GetJpegFormat(stream.data(), stream.size()); }

namespace {

uint16_t Rd16(const uint8_t* p) { return Swap16_si_Moto(LoadLE16(p)); }
uint32_t Rd32(const uint8_t* p) { return Swap32_si_Moto(LoadLE32(p)); }

uint64_t Rd64(const uint8_t* p)
{
    const uint64_t lo = LoadLE32(p), hi = LoadLE32(p + 4);
    if (!MotorolaOrder())
        return lo | (hi << 32);
    return (uint64_t(Swap32(lo)) << 32) | Swap32(hi);
}

uint16_t AddToPool(TEXIF_Data& d, std::string s)
{
    d.Str.push_back(std::move(s));
    return uint16_t(d.Str.size() - 1);
}

// The value of a directory pointer tag, or false when it is not a single
// 16- or 32-bit number.
bool PointerValue(const TTag& t, uint32_t& v)
{
    if (t.Ln != ExifTypeSize(t.Ft) || t.ListInd >= 0)
        return false;
    switch (t.Ft) {
    case ftShort: v = t.Mot; return true;
    case ftLong: case ftIfd: v = t.Long; return true;
    default: return false;
    }
}

struct TRange {
    size_t Begin, End;
};

} // namespace

bool Decode_IFD_Entries(TEXIF_Data& d, int slot, const uint8_t* tiff, size_t tiffLen, size_t dirOffset)
{
    TIFD& ifd = d.IFD[size_t(slot)];
    const uint8_t* entry = tiff + dirOffset + 2;
    for (unsigned i = 0; i < ifd.Entries_Count; ++i, entry += 12) {
        const size_t k = size_t(ifd.Prev_Entries) + i;
        TTagLu& raw = d.TagLus[k];
        raw.Number = LoadLE16(entry);
        raw.Format = LoadLE16(entry + 2);
        raw.Compo = LoadLE32(entry + 4);
        raw.Value = LoadLE32(entry + 8);

        TTag& t = d.Tags[k];
        t = TTag{};
        t.Lu = uint16_t(k);
        t.Id = Swap16_si_Moto(raw.Number);
        t.Ft = Swap16_si_Moto(raw.Format);
        const uint32_t count = Swap32_si_Moto(raw.Compo);
        const uint32_t elem = t.Ft >= 1 && t.Ft <= 13 ? ExifTypeSize(t.Ft) : 0;
        // In 64 bits: a count near 2^32 times 8 must not wrap into a small size.
        const uint64_t ln = uint64_t(count) * elem;
        if (ln > tiffLen)
            return false;
        t.Ln = uint32_t(ln);

        const uint8_t* src = entry + 8; // left-justified in the value field
        if (t.Ln > 4) {
            const uint32_t off = Swap32_si_Moto(raw.Value);
            if (off > tiffLen || t.Ln > tiffLen - off)
                return false;
            src = tiff + off;
            ifd.Offset_Size += t.Ln;
        }

        switch (t.Ft) {
        case ftByte: case ftSByte:
            t.Octet = count ? src[0] : 0;
            if (count > 1) {
                std::string text;
                for (uint32_t j = 0; j < count; ++j)
                    text += std::to_string(src[j]) + ' ';
                t.StrInd = AddToPool(d, std::move(text));
                t.Ft = ftByteList;
            }
            break;
        case ftAscii: case ftUndefined:
            t.StrInd = AddToPool(d, std::string(reinterpret_cast<const char*>(src), t.Ln));
            break;
        case ftShort: case ftSShort:
            t.Mot = count ? Rd16(src) : 0;
            if (count > 1) {
                std::string text;
                for (uint32_t j = 0; j < count; ++j)
                    text += std::to_string(Rd16(src + 2 * j)) + ' ';
                t.StrInd = AddToPool(d, std::move(text));
                t.Ft = ftShortList;
            }
            break;
        case ftLong: case ftSLong: case ftFloat: case ftIfd:
            t.Long = Swap32_si_Moto(raw.Value);
            break;
        case ftRational: case ftSRational:
            if (count) {
                t.Numer = Rd32(src);
                t.Denom = Rd32(src + 4);
            }
            break;
        case ftDouble:
            if (count) {
                const uint64_t bits = Rd64(src);
                std::memcpy(&t.DFloat, &bits, 8);
            }
            break;
        default:
            break;
        }

        // Lists of 4- and 8-byte values are kept whole, converted to the
        // writer's little-endian order element by element (4-byte halves
        // for rationals, whole 8-byte elements for doubles).
        const bool wide = t.Ft == ftLong || t.Ft == ftSLong || t.Ft == ftFloat || t.Ft == ftIfd ||
                          t.Ft == ftRational || t.Ft == ftSRational || t.Ft == ftDouble;
        if (wide && count > 1) {
            std::string bytes(t.Ln, '\0');
            if (t.Ft == ftDouble) {
                for (uint32_t j = 0; j < count; ++j)
                    StoreLE64(reinterpret_cast<uint8_t*>(&bytes[8 * j]), Rd64(src + 8 * j));
            } else {
                for (uint32_t j = 0; j < t.Ln / 4; ++j)
                    StoreLE32(reinterpret_cast<uint8_t*>(&bytes[4 * j]), Rd32(src + 4 * j));
            }
            t.ListInd = AddToPool(d, std::move(bytes));
        }
    }
    return true;
}

void CommToThumb(TEXIF_Data& d)
{
    if (d.IFD.size() < kIfdSlots)
        return;
    const TIFD& ifd = d.IFD[7];
    bool seenOffset = false;
    for (unsigned i = 0; i < ifd.Entries_Count; ++i) {
        TTag& t = d.Tags[size_t(ifd.Prev_Entries) + i];
        if (t.Id == tagThumbOffset) {
            seenOffset = true;
        } else if (t.Id == tagUserComment) {
            t.Id = seenOffset ? tagThumbLength : tagThumbOffset;
            seenOffset = true;
        }
    }
}

bool GetExifInfos(const uint8_t* data, size_t size, TEXIF_Data& d, int& errorCode)
{
    errorCode = 0;
    SetMotorolaOrder(true);
    d.TagLus.clear();
    d.Tags.clear();
    d.Str.clear();
    d.IFD.assign(kIfdSlots, TIFD{});
    d.Source.clear();
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) {
        errorCode = exNoSoi;
        return false;
    }

    // Other APP1 segments (XMP, for example) are passed over: the first APP1
    // that carries the EXIF signature is the block.
    const TJpegWalk walk = WalkJpegHeader(data, size);
    const TJpegSegment* app1 = nullptr;
    bool sawApp1 = false;
    for (const TJpegSegment& s : walk.Segs) {
        if (IsExifApp1(data, s)) {
            app1 = &s;
            break;
        }
        sawApp1 = sawApp1 || s.Code == 0xE1;
    }
    if (!app1) {
        errorCode = walk.How == TJpegWalkEnd::BadLength ? exMalformed : sawApp1 ? exNotExif : exNoApp1;
        return false;
    }

    d.App1Pos = app1->Start;
    d.APP1_Len = uint16_t(app1->DataLen() + 2);
    const size_t base = app1->DataPos() + 6;
    const size_t tiffLen = app1->End - base;
    if (base > size_t(std::numeric_limits<int32_t>::max()) - 0x10000) {
        errorCode = exMalformed;
        return false;
    }
    d.ZerOfst = uint32_t(base);
    const uint8_t* tiff = data + base;
    if (tiffLen < 4) {
        errorCode = exMalformed;
        return false;
    }
    if (tiff[0] == 'M' && tiff[1] == 'M')
        SetMotorolaOrder(true);
    else if (tiff[0] == 'I' && tiff[1] == 'I')
        SetMotorolaOrder(false);
    else {
        errorCode = exBadByteOrder;
        return false;
    }
    d.BigEndian = MotorolaOrder();
    if (Rd16(tiff + 2) != 42) {
        errorCode = exNot42;
        return false;
    }
    if (tiffLen < 8) {
        errorCode = exMalformed;
        return false;
    }

    std::vector<TRange> seen;
    // Reads the directory at a TIFF offset into a slot. False when it lies
    // outside the block, inside the header, or over a directory already read
    // (which is how a loop of pointers shows itself).
    auto readSlot = [&](int slot, uint32_t off) -> bool {
        if (off < 8 || off > tiffLen - 2)
            return false;
        const uint16_t count = Rd16(tiff + off);
        const size_t need = 2 + 12 * size_t(count) + 4;
        if (need > tiffLen - off)
            return false;
        for (const TRange& r : seen)
            if (off < r.End && r.Begin < off + need)
                return false;
        seen.push_back({off, off + need});
        TIFD& ifd = d.IFD[size_t(slot)];
        ifd.Position = int32_t(base + off);
        ifd.Entries_Count = count;
        const size_t total = size_t(ifd.Prev_Entries) + count;
        if (total > 0xFFFF)
            return false;
        d.TagLus.resize(total);
        d.Tags.resize(total);
        if (!Decode_IFD_Entries(d, slot, tiff, tiffLen, off))
            return false;
        ifd.Next_IFD_Ofs = Rd32(tiff + off + 2 + 12 * size_t(count));
        ifd.Total_Size = 12 * uint32_t(count) + 6 + ifd.Offset_Size;
        return true;
    };
    // The first entry with the tag in a slot, as a directory offset.
    auto pointerIn = [&](int slot, uint16_t tag, uint32_t& off, bool& bad) -> bool {
        const TIFD& ifd = d.IFD[size_t(slot)];
        for (unsigned i = 0; i < ifd.Entries_Count; ++i) {
            const TTag& t = d.Tags[size_t(ifd.Prev_Entries) + i];
            if (t.Id == tag) {
                bad = !PointerValue(t, off);
                return true;
            }
        }
        return false;
    };

    for (int slot = 1; slot < kIfdSlots; ++slot) {
        TIFD& ifd = d.IFD[size_t(slot)];
        ifd.Prev_Entries = uint16_t(d.IFD[size_t(slot) - 1].Prev_Entries + d.IFD[size_t(slot) - 1].Entries_Count);
        uint32_t off = 0;
        bool bad = false, found = false;
        switch (slot) {
        case 1: off = Rd32(tiff + 4); found = true; break;
        case 2:
            found = pointerIn(1, tagExifIfd, off, bad);
            if (!found) {
                errorCode = exNoExifIfd;
                return false;
            }
            break;
        case 3: break;
        case 4:
            found = pointerIn(2, tagInteropIfd, off, bad);
            if (!found)
                errorCode += exNoInterop;
            break;
        case 5: found = pointerIn(1, tagGpsIfd, off, bad); break;
        case 6: found = pointerIn(2, tagExtraIfd, off, bad); break;
        case 7:
            off = d.IFD[1].Next_IFD_Ofs;
            found = off != 0;
            if (!found)
                errorCode += exNoIfd1;
            break;
        }
        if (bad || (found && !readSlot(slot, off))) {
            errorCode = exMalformed;
            return false;
        }
    }
    CommToThumb(d);
    d.Source.assign(data, data + size);
    return true;
}

bool GetExifInfos(const std::vector<uint8_t>& stream, TEXIF_Data& d, int& errorCode)
{
    return GetExifInfos(stream.data(), stream.size(), d, errorCode);
}
