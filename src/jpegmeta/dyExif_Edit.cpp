// Reading and changing single tags of the record, and the thumbnail.
#include "jpegmeta/dyExif.h"
#include "jpegmeta/dyExif_Internal.h"

namespace {

bool ValidSlot(const TEXIF_Data& d, unsigned slot)
{
    return slot != 3 && slot >= 1 && slot < kIfdSlots && d.IFD.size() == kIfdSlots;
}

int FindInSlot(const TEXIF_Data& d, unsigned slot, uint16_t tag)
{
    const TIFD& ifd = d.IFD[slot];
    for (unsigned i = 0; i < ifd.Entries_Count; ++i) {
        const size_t k = size_t(ifd.Prev_Entries) + i;
        if (k < d.Tags.size() && d.Tags[k].Id == tag)
            return int(k);
    }
    return -1;
}

// A single 16- or 32-bit number; a count other than 1 holds no usable value.
bool TagNumber(const TTag& t, uint32_t& v)
{
    if (t.Ln != ExifTypeSize(t.Ft) || t.ListInd >= 0)
        return false;
    switch (t.Ft) {
    case ftShort: case ftSShort: v = t.Mot; return true;
    case ftLong: case ftSLong: case ftIfd: v = t.Long; return true;
    default: return false;
    }
}

// A one-element value as it sits in a raw entry's value field: left-justified,
// in the source's byte order, read back as little-endian like every raw field.
uint32_t RawValueField(bool bigEndian, const TTagValue& v)
{
    uint8_t b[4] = {0, 0, 0, 0};
    switch (v.Ft) {
    case ftByte: case ftSByte:
        b[0] = v.Octet;
        break;
    case ftShort: case ftSShort:
        b[0] = uint8_t(bigEndian ? v.Mot >> 8 : v.Mot);
        b[1] = uint8_t(bigEndian ? v.Mot : v.Mot >> 8);
        break;
    case ftLong: case ftSLong: case ftFloat: case ftIfd:
        for (int i = 0; i < 4; ++i)
            b[i] = uint8_t(v.Long >> (bigEndian ? 24 - 8 * i : 8 * i));
        break;
    default:
        break; // rationals and doubles live outside the value field
    }
    return LoadLE32(b);
}

uint16_t RawShort(bool bigEndian, uint16_t v) { return bigEndian ? uint16_t((v >> 8) | (v << 8)) : v; }
uint32_t RawLong(bool bigEndian, uint32_t v) { return bigEndian ? Swap32(v) : v; }

void CopyValue(TTagValue& to, const TTagValue& from)
{
    to.Octet = from.Octet;
    to.Mot = from.Mot;
    to.Long = from.Long;
    to.Numer = from.Numer;
    to.Denom = from.Denom;
    to.DFloat = from.DFloat;
}

bool Insertable(uint16_t ft) { return ft >= 1 && ft <= 13 && ft != ftAscii && ft != ftUndefined; }

} // namespace

int64_t TagNumberInSlot(const TEXIF_Data& d, unsigned slot, uint16_t tag)
{
    if (slot >= d.IFD.size())
        return -1;
    const int k = FindInSlot(d, slot, tag);
    uint32_t v = 0;
    return k >= 0 && TagNumber(d.Tags[size_t(k)], v) ? int64_t(v) : -1;
}

int TagToInd(uint16_t tag, const TEXIF_Data& d)
{
    for (size_t i = 0; i < d.Tags.size(); ++i)
        if (d.Tags[i].Id == tag)
            return int(i);
    return -1;
}

int TagToValue(uint16_t tag, const TEXIF_Data& d, TTagValue& value)
{
    const int i = TagToInd(tag, d);
    if (i < 0)
        return i;
    value = d.Tags[size_t(i)];
    return 1;
}

int64_t TagToOffset(uint16_t tag, const TEXIF_Data& d)
{
    const int i = TagToInd(tag, d);
    uint32_t v = 0;
    if (i < 0)
        return -1;
    if (!TagNumber(d.Tags[size_t(i)], v))
        v = d.Tags[size_t(i)].Long;
    return v;
}

bool ThumbToStream(const TEXIF_Data& d, std::vector<uint8_t>& thumb)
{
    thumb.clear();
    // The thumbnail tags are those of IFD1: a Compression or offset tag of
    // another directory says nothing about the thumbnail.
    if (d.IFD.size() != kIfdSlots || d.IFD[7].Position == 0 || d.Source.empty())
        return false;
    const int ic = FindInSlot(d, 7, tagCompression);
    const int io = FindInSlot(d, 7, tagThumbOffset);
    const int il = FindInSlot(d, 7, tagThumbLength);
    uint32_t comp = 0, off = 0, len = 0;
    if (ic < 0 || io < 0 || il < 0 || !TagNumber(d.Tags[size_t(ic)], comp) ||
        !TagNumber(d.Tags[size_t(io)], off) || !TagNumber(d.Tags[size_t(il)], len))
        return false;
    if ((comp != 6 && comp != 7) || off == 0 || len < 2)
        return false;
    // Offset and length are checked in 64 bits against the EXIF block, so a
    // pair that wraps around 2^32 is refused too.
    const uint64_t tiffLen = d.APP1_Len >= 8 ? d.APP1_Len - 8u : 0;
    if (uint64_t(off) + len > tiffLen || uint64_t(d.ZerOfst) + tiffLen > d.Source.size())
        return false;
    const uint8_t* p = d.Source.data() + d.ZerOfst + off;
    if (p[0] != 0xFF || p[1] != 0xD8)
        return false;
    thumb.assign(p, p + len);
    return true;
}

int ModifyTag(uint16_t tag, const TTagValue& value, uint8_t slot, TEXIF_Data& d)
{
    if (!ValidSlot(d, slot))
        return -1;
    const int k = FindInSlot(d, slot, tag);
    if (k < 0)
        return -1;
    TTag& t = d.Tags[size_t(k)];
    if (value.Ft != t.Ft)
        return -2;
    switch (t.Ft) {
    case ftByte: case ftSByte: case ftShort: case ftSShort:
    case ftLong: case ftSLong: case ftFloat: case ftIfd:
    case ftRational: case ftSRational: case ftDouble:
        break;
    default:
        return -3;
    }
    CopyValue(t, value);
    // The entry now holds one value; a list it held before is dropped.
    t.ListInd = -1;
    t.Ln = ExifTypeSize(t.Ft);
    if (t.Lu < d.TagLus.size()) {
        TTagLu& raw = d.TagLus[t.Lu];
        raw.Compo = RawLong(d.BigEndian, 1);
        raw.Value = RawValueField(d.BigEndian, value);
    }
    return k;
}

int InsertTag(uint16_t tag, const TTagValue& value, uint8_t slot, TEXIF_Data& d)
{
    // The target must be a directory that was read: an entry in a slot with
    // no directory would be unreachable in the rebuilt block.
    if (!ValidSlot(d, slot) || d.IFD[slot].Position == 0 || !Insertable(value.Ft))
        return -1;
    if (d.Tags.size() >= 0xFFFF || d.TagLus.size() >= 0xFFFF || d.IFD[slot].Entries_Count == 0xFFFF)
        return -1;

    TTagLu raw;
    raw.Number = RawShort(d.BigEndian, tag);
    raw.Format = RawShort(d.BigEndian, value.Ft);
    raw.Compo = RawLong(d.BigEndian, 1);
    raw.Value = RawValueField(d.BigEndian, value);
    d.TagLus.push_back(raw);

    for (unsigned s = slot + 1u; s < kIfdSlots; ++s)
        d.IFD[s].Prev_Entries = uint16_t(d.IFD[s].Prev_Entries + 1);

    // Tag order within the directory: after the last entry with a smaller number.
    TIFD& ifd = d.IFD[slot];
    size_t p = size_t(ifd.Prev_Entries) + ifd.Entries_Count;
    while (p > ifd.Prev_Entries && d.Tags[p - 1].Id >= tag)
        --p;
    TTag t;
    t.Ft = value.Ft;
    CopyValue(t, value);
    t.Id = tag;
    t.Ln = ExifTypeSize(value.Ft);
    t.Lu = uint16_t(d.TagLus.size() - 1);
    d.Tags.insert(d.Tags.begin() + std::ptrdiff_t(p), t);
    ++ifd.Entries_Count;
    return int(p);
}
