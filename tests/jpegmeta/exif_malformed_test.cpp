#include "ExifSamples.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct Outcome {
    bool read;
    int code;
};

Outcome Read(const Bytes& f)
{
    TEXIF_Data d;
    Outcome o{false, -99};
    o.read = GetExifInfos(f, d, o.code);
    return o;
}

Bytes WithTiff(const std::function<void(XTiff&)>& change)
{
    XTiff t = BuildTiff(RichSpec(false));
    change(t);
    return WrapExif(t.bytes, SmallJpeg());
}

// Sets the APP1 length field of a file made by WrapExif.
Bytes WithApp1Length(Bytes f, uint16_t len)
{
    f[4] = uint8_t(len >> 8);
    f[5] = uint8_t(len);
    return f;
}

} // namespace

TEST(ExifMalformed, StructuralFaultsGiveErrorCodes)
{
    const Bytes good = RichJpeg(false);
    const size_t app1End = 4 + ((size_t(good[4]) << 8) | good[5]);
    struct Case {
        const char* name;
        Bytes file;
        bool read;
        int code;
    };
    const std::vector<Case> cases = {
        {"cut after SOI", Bytes{0xFF, 0xD8}, false, 1},
        {"cut inside APP1", Bytes(good.begin(), good.begin() + 100), false, 6},
        {"cut inside IFD0", Bytes(good.begin(), good.begin() + 30), false, 6},
        {"block ends inside IFD0", WithApp1Length(good, 30), false, 6},
        {"APP1 length 0", WithApp1Length(good, 0), false, 6},
        {"APP1 length 1", WithApp1Length(good, 1), false, 6},
        {"APP1 length 7", WithApp1Length(good, 7), false, 2},
        {"APP1 past the end", WithApp1Length(Bytes(good.begin(), good.begin() + long(app1End) - 10), uint16_t(app1End - 4)), false, 6},
        {"byte order IM", WithTiff([](XTiff& t) { t.bytes[1] = 'M'; }), false, 3},
        {"II data labelled MM", WithTiff([](XTiff& t) { t.bytes[0] = t.bytes[1] = 'M'; }), false, 4},
        {"TIFF number 43", WithTiff([](XTiff& t) { t.Put16(2, 43); }), false, 4},
        {"IFD0 beyond the data", WithTiff([](XTiff& t) { t.Put32(4, 0x7FFFFFF0); }), false, 6},
        {"IFD0 in the header", WithTiff([](XTiff& t) { t.Put32(4, 2); }), false, 6},
        {"IFD0 at offset 0", WithTiff([](XTiff& t) { t.Put32(4, 0); }), false, 6},
        {"entry count past the data", WithTiff([](XTiff& t) { t.Put16(8, 0xFFFF); }), false, 6},
        {"value offset beyond the data", WithTiff([](XTiff& t) { t.Put32(t.entryPos[{1, 0x010F}] + 8, 0xFFFFFF00); }), false, 6},
        {"count x size wraps 32 bits", WithTiff([](XTiff& t) { t.Put32(t.entryPos[{1, 0x011A}] + 4, 0x20000001); }), false, 6},
        {"IFD0 next points at itself", WithTiff([](XTiff& t) { t.Put32(t.ifdPos[7] - 0, 0), t.Put32(t.ifdPos[1] + 2 + 12 * 11, 8); }), false, 6},
        {"EXIF pointer to IFD0", WithTiff([](XTiff& t) { t.Put32(t.entryPos[{1, 0x8769}] + 8, 8); }), false, 6},
        {"EXIF pointer to IFD1", WithTiff([](XTiff& t) { t.Put32(t.entryPos[{1, 0x8769}] + 8, uint32_t(t.ifdPos[7])); }), false, 6},
        {"interop pointer into EXIF IFD", WithTiff([](XTiff& t) { t.Put32(t.entryPos[{2, 0xA005}] + 8, uint32_t(t.ifdPos[2] + 12)); }), false, 6},
        {"pointer tag typed as text", WithTiff([](XTiff& t) { t.Put16(t.entryPos[{1, 0x8825}] + 2, 2); }), false, 6},
        {"XMP but no EXIF", [] {
             const std::string x = "http://ns.adobe.com/xap/1.0/";
             Bytes f = {0xFF, 0xD8};
             const Bytes s = Segment(0xE1, Bytes(x.begin(), x.end()));
             f.insert(f.end(), s.begin(), s.end());
             const Bytes rest = StripLeadingApp0(SmallJpeg());
             f.insert(f.end(), rest.begin(), rest.end());
             return f;
         }(), false, 2},
        {"not a JPEG", Bytes{'G', 'I', 'F', '8'}, false, -1},
        {"a huge frame and no data", Bytes{0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0xFF, 0xFF, 0xFF, 0xFF, 1, 1, 0x11, 0}, false, 1},
    };
    for (const Case& c : cases) {
        const Outcome o = Read(c.file);
        EXPECT_EQ(o.read, c.read) << c.name;
        EXPECT_EQ(o.code, c.code) << c.name;
    }
}

TEST(ExifMalformed, OddLayoutsAreRebuiltAndBadThumbnailsOrSegmentsStopTheWriter)
{
    // True when the file is read and rebuilt, and the rebuilt file reads the same.
    auto rebuilds = [](const Bytes& f) {
        TEXIF_Data d, again;
        int code = 0;
        Bytes out;
        EXPECT_TRUE(GetExifInfos(f, d, code)) << code;
        if (!WriteToStream(d, out, false))
            return false;
        EXPECT_TRUE(GetExifInfos(out, again, code));
        EXPECT_EQ(DumpRecord(again), DumpRecord(d));
        return true;
    };
    const Bytes good = RichJpeg(false), rest(good.begin() + 2, good.end());
    Bytes fill = {0xFF, 0xD8, 0xFF, 0xFF}; // fill bytes before the marker
    fill.insert(fill.end(), rest.begin(), rest.end());
    EXPECT_TRUE(rebuilds(fill));
    Bytes tiny = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x05, 'a', 'b', 'c'}; // an APP1 too short for an identifier
    tiny.insert(tiny.end(), rest.begin(), rest.end());
    EXPECT_TRUE(rebuilds(tiny));
    // IFD1 chaining back to IFD0 is not followed; the rebuilt IFD1 ends the chain.
    EXPECT_TRUE(rebuilds(WithTiff([](XTiff& t) { t.Put32(t.ifdPos[7] + 2 + 12 * 4, 8); })));

    const uint32_t thumbLen = uint32_t(Thumbnail().size());
    EXPECT_FALSE(rebuilds(WithTiff([](XTiff& t) { t.Put32(t.entryPos[{7, 0x0201}] + 8, 0x00FFFFF0); })));
    EXPECT_FALSE(rebuilds(WithTiff([&](XTiff& t) { t.Put32(t.entryPos[{7, 0x0202}] + 8, thumbLen + 1); })));
    EXPECT_FALSE(rebuilds(WithTiff([](XTiff& t) {
        t.Put32(t.entryPos[{7, 0x0201}] + 8, 0xFFFFFFF0); // offset + length wraps 32 bits
        t.Put32(t.entryPos[{7, 0x0202}] + 8, 0x20);
    })));
    EXPECT_FALSE(rebuilds(WithTiff([](XTiff& t) { t.bytes[t.thumbPos] = 0; })));
    EXPECT_FALSE(rebuilds(WithTiff([](XTiff& t) { t.Put16(t.entryPos[{7, 0x0103}] + 8, 1); })));
    // A segment of length 1 after the block: the rest cannot be copied soundly.
    Bytes f = good;
    f.insert(f.begin() + long(4 + ((size_t(f[4]) << 8) | f[5])), {0xFF, 0xFE, 0x00, 0x01});
    EXPECT_FALSE(rebuilds(f));
}

TEST(ExifMalformed, NoByteChangeOrCutMakesTheReaderOrWriterMisbehave)
{
    // Every byte of the EXIF segment replaced in four ways, and every cut of
    // the file: the reader answers, and whatever the writer writes reads back.
    const Bytes good = RichJpeg(true);
    const size_t app1End = 4 + ((size_t(good[4]) << 8) | good[5]);
    Bytes thumb;
    size_t written = 0;
    auto check = [&](const Bytes& f) {
        TEXIF_Data d;
        int code = 0;
        Bytes out;
        if (!GetExifInfos(f, d, code) || !WriteToStream(d, out, false))
            return;
        ++written;
        TEXIF_Data again;
        int code2 = 0;
        ASSERT_TRUE(GetExifInfos(out, again, code2));
        ASSERT_TRUE(ThumbToStream(again, thumb));
        ASSERT_EQ(GetJpegFormat(out), 2);
    };
    for (size_t i = 2; i < app1End; ++i)
        for (int v : {0x00, 0xFF, good[i] ^ 0x80, (good[i] + 1) & 0xFF}) {
            Bytes f = good;
            f[i] = uint8_t(v);
            check(f);
        }
    for (size_t n = 0; n < good.size(); n += (n < app1End + 64 ? 1 : 97))
        check(Bytes(good.begin(), good.begin() + long(n)));
    EXPECT_GT(written, 100u); // most single-byte changes leave a rebuildable block
}
