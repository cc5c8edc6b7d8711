// Rebuilding the file with a new little-endian EXIF block.
#include "jpegmeta/JpegSegments.h"
#include "jpegmeta/SafeFile.h"
#include "jpegmeta/dyExif.h"
#include "jpegmeta/dyExif_Internal.h"

#include <cstdlib>
#include <cstring>

namespace {

// An APP1 length field holds 16 bits, so a bigger block cannot be written.
// The other two limits keep the writer inside the sizes it has always
// handled (16-bit source positions, 8-bit value counts per directory): a
// source beyond them is refused rather than rewritten.
constexpr size_t kMaxApp1Length = 0xFFFF;
constexpr size_t kMaxSourceTiffBase = 0xFFFF;
constexpr size_t kMaxDeferredPerIfd = 255;

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

bool IsPointerTag(uint16_t id)
{
    return id == tagExifIfd || id == tagGpsIfd || id == tagInteropIfd || id == tagExtraIfd;
}

// The slot a pointer tag leads to when it sits in the directory the reader
// took it from; 0 elsewhere.
int PointerTarget(int slot, uint16_t id)
{
    if (slot == 1 && id == tagExifIfd)
        return 2;
    if (slot == 1 && id == tagGpsIfd)
        return 5;
    if (slot == 2 && id == tagInteropIfd)
        return 4;
    if (slot == 2 && id == tagExtraIfd)
        return 6;
    return 0;
}

bool ParseList(const std::string& text, unsigned long maxValue, std::vector<unsigned long>& values)
{
    const char* p = text.c_str();
    while (*p) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        char* end = nullptr;
        const unsigned long v = std::strtoul(p, &end, 10);
        if (end == p || v > maxValue)
            return false;
        values.push_back(v);
        p = end;
    }
    return true;
}

// The value's bytes as written (little-endian) and the type code written.
// False for values the writer cannot carry (an unknown type).
bool ValueBytes(const TEXIF_Data& d, const TTag& t, uint16_t& ft, std::vector<uint8_t>& b)
{
    b.clear();
    ft = t.Ft == ftByteList ? uint16_t(ftByte) : t.Ft == ftShortList ? uint16_t(ftShort) : t.Ft;
    if (ft < 1 || ft > 13)
        return false;
    auto pool = [&](int i) -> const std::string* { return i >= 0 && size_t(i) < d.Str.size() ? &d.Str[size_t(i)] : nullptr; };
    if (t.ListInd >= 0) {
        const std::string* s = pool(t.ListInd);
        if (!s)
            return false;
        b.assign(s->begin(), s->end());
        return true;
    }
    uint8_t tmp[8];
    switch (t.Ft) {
    case ftByte: case ftSByte:
        if (t.Ln)
            b.push_back(t.Octet);
        return true;
    case ftAscii: case ftUndefined: {
        const std::string* s = pool(t.StrInd);
        if (!s)
            return false;
        b.assign(s->begin(), s->end());
        return true;
    }
    case ftByteList: case ftShortList: {
        const std::string* s = pool(t.StrInd);
        std::vector<unsigned long> values;
        if (!s || !ParseList(*s, t.Ft == ftByteList ? 0xFF : 0xFFFF, values))
            return false;
        for (unsigned long v : values) {
            b.push_back(uint8_t(v));
            if (t.Ft == ftShortList)
                b.push_back(uint8_t(v >> 8));
        }
        return true;
    }
    case ftShort: case ftSShort:
        if (t.Ln)
            Put16(b, t.Mot);
        return true;
    case ftLong: case ftSLong: case ftFloat: case ftIfd:
        if (t.Ln)
            Put32(b, t.Long);
        return true;
    case ftRational: case ftSRational:
        if (t.Ln) {
            Put32(b, t.Numer);
            Put32(b, t.Denom);
        }
        return true;
    case ftDouble:
        if (t.Ln) {
            uint64_t bits;
            std::memcpy(&bits, &t.DFloat, 8);
            StoreLE64(tmp, bits);
            b.assign(tmp, tmp + 8);
        }
        return true;
    default:
        return false;
    }
}

// The source's first segment when it is a JFIF APP0: it stays in front of the
// new EXIF block. Returns its end, or 0 when there is none.
size_t LeadingJfifEnd(const std::vector<uint8_t>& src, const TJpegWalk& walk)
{
    if (walk.Segs.empty() || !IsJfifApp0(src.data(), walk.Segs.front()))
        return 0;
    return walk.Segs.front().End;
}

} // namespace

void WriteHeader(const TEXIF_Data& d, std::vector<uint8_t>& out, size_t& lengthPos, size_t& base)
{
    out.clear();
    out.push_back(0xFF);
    out.push_back(0xD8);
    if (d.Source.size() >= 2) {
        const size_t jfifEnd = LeadingJfifEnd(d.Source, WalkJpegHeader(d.Source.data(), d.Source.size()));
        if (jfifEnd)
            out.insert(out.end(), d.Source.begin() + 2, d.Source.begin() + std::ptrdiff_t(jfifEnd));
    }
    out.push_back(0xFF);
    out.push_back(0xE1);
    lengthPos = out.size();
    out.push_back(0);
    out.push_back(0);
    static const char id[6] = {'E', 'x', 'i', 'f', 0, 0};
    out.insert(out.end(), id, id + 6);
    base = out.size();
    static const uint8_t tiff[8] = {'I', 'I', 0x2A, 0x00, 0x08, 0x00, 0x00, 0x00};
    out.insert(out.end(), tiff, tiff + 8);
}

void WriteOffsetToTag(std::vector<uint8_t>& out, size_t fieldPos, size_t base)
{
    StoreLE32(out.data() + fieldPos, uint32_t(out.size() - base));
}

bool WriteToStream(const TEXIF_Data& d, std::vector<uint8_t>& out, bool Flag)
{
    out.clear();
    if (d.Source.size() < 4 || d.IFD.size() != kIfdSlots || d.IFD[1].Position == 0 || d.APP1_Len < 16)
        return false;
    const size_t app1End = size_t(d.ZerOfst) - 8 + d.APP1_Len;
    if (d.ZerOfst > kMaxSourceTiffBase || app1End > d.Source.size())
        return false;
    // The rest of the file is copied segment by segment, so its header must
    // be whole up to the image data.
    const TJpegWalk walk = WalkJpegHeader(d.Source.data(), d.Source.size());
    if (walk.How != TJpegWalkEnd::Scan)
        return false;
    std::vector<uint8_t> thumb;
    if (!ThumbToStream(d, thumb))
        return false;

    size_t L = 0, B = 0;
    WriteHeader(d, out, L, B);

    size_t ptrField[kIfdSlots] = {};
    bool hasPtr[kIfdSlots] = {};
    size_t thumbField = 0;
    bool hasThumbField = false;
    static const int order[] = {1, 2, 4, 5, 6, 7};
    for (int slot : order) {
        const TIFD& ifd = d.IFD[size_t(slot)];
        if (ifd.Position == 0 || (slot != 1 && !hasPtr[slot]))
            continue;
        if (slot != 1)
            WriteOffsetToTag(out, ptrField[slot], B);

        // Entries whose value would be wrong in the new block are left out:
        // a pointer tag other than the one the reader followed, a thumbnail
        // offset outside IFD1 and entries of unknown types.
        std::vector<size_t> keep;
        bool pointerUsed[kIfdSlots] = {};
        bool thumbUsed = false;
        for (unsigned i = 0; i < ifd.Entries_Count; ++i) {
            const size_t k = size_t(ifd.Prev_Entries) + i;
            if (k >= d.Tags.size())
                return false;
            const TTag& t = d.Tags[k];
            if (IsPointerTag(t.Id)) {
                const int target = PointerTarget(slot, t.Id);
                if (target == 0 || d.IFD[size_t(target)].Position == 0 || pointerUsed[target])
                    continue;
                pointerUsed[target] = true;
            } else if (t.Id == tagThumbOffset) {
                if (slot != 7 || thumbUsed)
                    continue;
                thumbUsed = true;
            } else if (ExifTypeSize(t.Ft) == 0) {
                continue;
            } else if (t.Ft == ftIfd) {
                return false; // a directory this writer cannot follow
            }
            keep.push_back(k);
        }

        Put16(out, uint16_t(keep.size()));
        std::vector<TLongEntry> deferred;
        std::vector<uint8_t> bytes;
        for (size_t k : keep) {
            const TTag& t = d.Tags[k];
            Put16(out, t.Id);
            const int target = IsPointerTag(t.Id) ? PointerTarget(slot, t.Id) : 0;
            if (target || t.Id == tagThumbOffset) {
                Put16(out, t.Ft == ftIfd ? ftIfd : ftLong);
                Put32(out, 1);
                if (target) {
                    ptrField[target] = out.size();
                    hasPtr[target] = true;
                } else {
                    thumbField = out.size();
                    hasThumbField = true;
                }
                Put32(out, 0);
                continue;
            }
            uint16_t ft = 0;
            if (!ValueBytes(d, t, ft, bytes))
                return false;
            Put16(out, ft);
            Put32(out, uint32_t(bytes.size() / ExifTypeSize(ft)));
            if (bytes.size() <= 4) {
                bytes.resize(4, 0);
                out.insert(out.end(), bytes.begin(), bytes.end());
            } else {
                deferred.push_back({t.Id, out.size(), bytes});
                Put32(out, 0);
            }
        }
        if (deferred.size() > kMaxDeferredPerIfd)
            return false;
        if (slot == 1) {
            ptrField[7] = out.size();
            hasPtr[7] = true;
        }
        Put32(out, 0);
        for (const TLongEntry& e : deferred) {
            WriteOffsetToTag(out, e.ValPos, B);
            out.insert(out.end(), e.Bytes.begin(), e.Bytes.end());
            // Values start on even offsets, as TIFF asks.
            if (e.Bytes.size() % 2)
                out.push_back(0);
            if (Flag && e.Tag == tagModel)
                out.insert(out.end(), 12, 0);
        }
        if (out.size() - L > kMaxApp1Length)
            return false;
    }

    if (Flag)
        out.insert(out.end(), 44, 0xFF);
    if (!hasThumbField)
        return false;
    WriteOffsetToTag(out, thumbField, B);
    out.insert(out.end(), thumb.begin(), thumb.end());
    if (Flag) {
        // Whatever the source block held after its thumbnail.
        const size_t thumbEnd = size_t(d.ZerOfst) + size_t(TagNumberInSlot(d, 7, tagThumbOffset)) + thumb.size();
        if (thumbEnd < app1End)
            out.insert(out.end(), d.Source.begin() + std::ptrdiff_t(thumbEnd),
                       d.Source.begin() + std::ptrdiff_t(app1End));
    }
    const size_t app1Len = out.size() - L;
    if (app1Len > kMaxApp1Length)
        return false;
    out[L] = uint8_t(app1Len >> 8);
    out[L + 1] = uint8_t(app1Len);

    // Every other segment in its order and with its bytes; other EXIF APP1
    // segments are dropped so the file holds one EXIF block.
    const size_t jfifEnd = LeadingJfifEnd(d.Source, walk);
    for (const TJpegSegment& s : walk.Segs) {
        if (IsExifApp1(d.Source.data(), s) || (jfifEnd && s.End == jfifEnd))
            continue;
        out.insert(out.end(), d.Source.begin() + std::ptrdiff_t(s.Start), d.Source.begin() + std::ptrdiff_t(s.End));
    }
    out.insert(out.end(), d.Source.begin() + std::ptrdiff_t(walk.Stop), d.Source.end());
    return true;
}

bool WriteToFile(const TEXIF_Data& d, const std::string& fileName, bool Flag)
{
    std::vector<uint8_t> out;
    return WriteToStream(d, out, Flag) && WriteFileWhole(fileName, out.data(), out.size());
}
