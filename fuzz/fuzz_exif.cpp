// The EXIF record end to end: recognise the header, read the block, read and
// change tags, rebuild the file in memory (and now and then on disk).
//
// The input is a whole JPEG file. Its last eight bytes also steer the edits:
// they lie in the image data, which the EXIF code only copies, so the
// mutations that change them vary the edits without touching the header.
//
// Properties checked besides memory safety:
//  - a rebuilt file reads back, and a tag changed or inserted before the
//    rebuild reads back with the value it was given;
//  - the file written to disk holds exactly the bytes of the rebuild in memory.

#include "FuzzSupport.h"

#include "jpegmeta/dyExif.h"

#include <cstring>

namespace {

struct Steer {
    uint8_t b[8] = {};
    explicit Steer(const uint8_t* data, size_t size)
    {
        const size_t n = size < 8 ? size : 8;
        std::memcpy(b + (8 - n), data + size - n, n);
    }
    uint32_t U32(int i) const { return uint32_t(b[i]) | uint32_t(b[(i + 1) % 8]) << 8 | uint32_t(b[(i + 2) % 8]) << 16 | uint32_t(b[(i + 3) % 8]) << 24; }
};

// A value of the given type whose bits come from the steering bytes.
TTagValue MakeValue(uint16_t ft, const Steer& s)
{
    TTagValue v;
    v.Ft = ft;
    v.Octet = s.b[4];
    v.Mot = uint16_t(s.U32(4));
    v.Long = s.U32(3);
    v.Numer = s.U32(2);
    v.Denom = s.U32(5) | 1u;
    v.DFloat = double(int32_t(s.U32(1))) / 7.0;
    return v;
}

// The entry `tag` of directory `slot`, or null.
const TTag* FindTag(const TEXIF_Data& d, int slot, uint16_t tag)
{
    if (d.IFD.size() != kIfdSlots)
        return nullptr;
    const TIFD& ifd = d.IFD[size_t(slot)];
    for (unsigned i = 0; i < ifd.Entries_Count; ++i) {
        const size_t k = size_t(ifd.Prev_Entries) + i;
        if (k < d.Tags.size() && d.Tags[k].Id == tag)
            return &d.Tags[k];
    }
    return nullptr;
}

bool SameValue(const TTagValue& a, const TTagValue& b)
{
    if (a.Ft != b.Ft)
        return false;
    switch (a.Ft) {
    case ftByte: case ftSByte: return a.Octet == b.Octet;
    case ftShort: case ftSShort: return a.Mot == b.Mot;
    case ftLong: case ftSLong: case ftFloat: case ftIfd: return a.Long == b.Long;
    case ftRational: case ftSRational: return a.Numer == b.Numer && a.Denom == b.Denom;
    case ftDouble: return std::memcmp(&a.DFloat, &b.DFloat, sizeof a.DFloat) == 0;
    default: return true;
    }
}

// The record must never point outside itself, whatever the input held.
void CheckRecord(const TEXIF_Data& d)
{
    FUZZ_CHECK(d.IFD.size() == kIfdSlots);
    for (const TIFD& ifd : d.IFD)
        FUZZ_CHECK(size_t(ifd.Prev_Entries) + ifd.Entries_Count <= d.Tags.size());
    for (const TTag& t : d.Tags) {
        if (t.Ft == ftAscii || t.Ft == ftUndefined || t.Ft == ftByteList || t.Ft == ftShortList)
            FUZZ_CHECK(t.StrInd < d.Str.size());
        FUZZ_CHECK(t.ListInd < 0 || size_t(t.ListInd) < d.Str.size());
        FUZZ_CHECK(t.Lu < d.TagLus.size());
    }
}

struct Edit {
    uint16_t tag;
    int slot;
    TTagValue value;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int format = GetJpegFormat(data, size);
    FUZZ_CHECK(format >= -1 && format <= 2);

    TEXIF_Data d("fuzz.jpg");
    int code = 0;
    if (!GetExifInfos(data, size, d, code))
        return 0;
    CheckRecord(d);

    std::vector<uint8_t> thumb;
    if (ThumbToStream(d, thumb))
        FUZZ_CHECK(thumb.size() >= 2 && thumb[0] == 0xFF && thumb[1] == 0xD8);

    const Steer s(data, size);
    std::vector<Edit> edits;

    // Every entry read back through the tag functions; one of them changed.
    const size_t pick = d.Tags.empty() ? 0 : s.b[0] % d.Tags.size();
    for (size_t i = 0; i < d.Tags.size(); ++i) {
        TTagValue v;
        FUZZ_CHECK(TagToValue(d.Tags[i].Id, d, v) == 1);
        TagToOffset(d.Tags[i].Id, d);
    }
    if (!d.Tags.empty()) {
        const uint16_t tag = d.Tags[pick].Id;
        const uint16_t ft = (s.b[1] & 1) ? d.Tags[pick].Ft : uint16_t(s.b[1] % 14);
        for (int slot = 1; slot < kIfdSlots; ++slot) {
            if (FindTag(d, slot, tag) != &d.Tags[pick])
                continue;
            const TTagValue v = MakeValue(ft, s);
            // Directory pointers and the thumbnail's place are the writer's to
            // set; their stored values are not expected back.
            const bool structural = tag == tagExifIfd || tag == tagGpsIfd || tag == tagInteropIfd ||
                                    tag == tagExtraIfd || tag == tagThumbOffset || tag == tagThumbLength;
            if (ModifyTag(tag, v, uint8_t(slot), d) >= 0 && !structural)
                edits.push_back({tag, slot, v});
            break;
        }
    }
    // A new entry in a directory of the steering bytes' choosing.
    {
        const uint16_t tag = uint16_t(0xC100 + (s.b[2] & 0x3F));
        const uint8_t slot = uint8_t(s.b[3] % (kIfdSlots + 1));
        const TTagValue v = MakeValue(uint16_t(s.b[6] % 15), s);
        if (!FindTag(d, slot < kIfdSlots ? slot : 1, tag) && InsertTag(tag, v, slot, d) >= 0)
            edits.push_back({tag, slot, v});
    }
    CheckRecord(d);

    const bool flag = s.b[7] & 1;
    std::vector<uint8_t> out;
    if (!WriteToStream(d, out, flag))
        return 0;
    FUZZ_CHECK(out.size() >= 4 && out[0] == 0xFF && out[1] == 0xD8);

    TEXIF_Data back("fuzz.jpg");
    int backCode = 0;
    FUZZ_CHECK(GetExifInfos(out, back, backCode));
    for (const Edit& e : edits) {
        const TTag* t = FindTag(back, e.slot, e.tag);
        FUZZ_CHECK(t != nullptr);
        FUZZ_CHECK(SameValue(*t, e.value));
    }

    if (s.b[7] & 2) {
        const std::string file = fuzz::ScratchDir() + "/exif.jpg";
        FUZZ_CHECK(WriteToFile(d, file, flag));
        const std::vector<unsigned char> disk = fuzz::ReadWhole(file);
        FUZZ_CHECK(disk == out);
    }
    return 0;
}
