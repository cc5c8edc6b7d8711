#include "ExifSamples.h"

#include <cstdio>

Bytes Thumbnail()
{
    static const Bytes t = SmallJpeg(16, 12, 60);
    return t;
}

XSpec RichSpec(bool bigEndian)
{
    XSpec s;
    s.bigEndian = bigEndian;
    s.ifd0 = {XAscii(0x010F, "Lodrevan"), XAscii(0x0110, "X1"), XRational(0x011A, {72, 1}),
              XRational(0x011B, {72, 1}), XShort(0x0128, {2}), XShort(0x0112, {1}),
              XShort(0x0212, {2, 1}), XShort(0x0213, {1}),
              XRational(0x013F, {64, 100, 33, 100, 30, 100, 60, 100, 15, 100, 6, 100})};
    s.exif = {XRational(0x829A, {1, 125}), XBytes(0x9000, {'0', '2', '3', '0'}, 7),
              XRational(0x9204, {0, 0}, 10), XShort(0x9214, {10, 20, 30}),
              XBytes(0xC000, {1, 2, 3, 4, 5, 6}),
              XLong(0xA002, {48}), XLong(0xC001, {1, 2, 0xDEADBEEF}),
              XDouble(0xC002, {1.5}), XAscii(0xC003, "abcdefg", false)};
    s.interop = {XAscii(0x0001, "R98")};
    s.withGps = true;
    s.gps = {XBytes(0x0000, {2, 2, 0, 0}), XAscii(0x0001, "N"),
             XRational(0x0002, {45, 1, 30, 1, 1234, 100})};
    s.ifd1 = {XRational(0x011A, {72, 1})};
    s.thumbnail = Thumbnail();
    return s;
}

Bytes RichJpeg(bool bigEndian)
{
    return WrapExif(BuildTiff(RichSpec(bigEndian)).bytes, SmallJpeg());
}

std::string DumpRecord(const TEXIF_Data& d)
{
    std::string out;
    char line[160];
    for (int slot = 1; slot < kIfdSlots; ++slot) {
        const TIFD& ifd = d.IFD[size_t(slot)];
        for (unsigned i = 0; i < ifd.Entries_Count; ++i) {
            const TTag& t = d.Tags[size_t(ifd.Prev_Entries) + i];
            const bool offset = t.Id == 0x8769 || t.Id == 0x8825 || t.Id == 0xA005 || t.Id == 0x0201 ||
                                (t.Ln > 4 && (t.Ft == 4 || t.Ft == 9 || t.Ft == 11 || t.Ft == 13));
            std::snprintf(line, sizeof line, "%d %04X ft=%u ln=%u o=%u m=%u l=%u r=%u/%u f=%g", slot, t.Id, t.Ft,
                          t.Ln, t.Octet, t.Mot, offset ? 0u : t.Long, t.Numer, t.Denom, t.DFloat);
            out += line;
            auto hex = [&](int ind) {
                out += " [";
                for (unsigned char c : d.Str[size_t(ind)]) {
                    std::snprintf(line, sizeof line, "%02X", c);
                    out += line;
                }
                out += "]";
            };
            if (t.Ft == 2 || t.Ft == 7 || t.Ft == 2727 || t.Ft == 2728)
                hex(t.StrInd);
            if (t.ListInd >= 0)
                hex(t.ListInd);
            out += "\n";
        }
    }
    return out;
}
