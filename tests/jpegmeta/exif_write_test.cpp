#include "ExifSamples.h"

#include <gtest/gtest.h>

#include <map>

namespace {

uint32_t Le(const Bytes& b, size_t p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | b[p + size_t(i)];
    return v;
}

struct RawEntry {
    uint32_t type, count, field;
};

// One directory of a rebuilt little-endian block, read without the code under
// test; the TIFF header of a rebuilt file sits at 12.
std::map<uint32_t, RawEntry> ReadDir(const Bytes& f, uint32_t off)
{
    std::map<uint32_t, RawEntry> m;
    for (uint32_t i = 0, n = Le(f, 12 + off, 2); i < n; ++i) {
        const size_t p = 12 + off + 2 + 12 * i;
        m[Le(f, p, 2)] = {Le(f, p + 2, 2), Le(f, p + 4, 4), Le(f, p + 8, 4)};
    }
    return m;
}

// The segments of a file before its scan; the rest goes to tail.
std::vector<Bytes> Segments(const Bytes& f, Bytes* tail = nullptr)
{
    std::vector<Bytes> segs;
    for (size_t pos = 2, p;; pos = p + 1 + Le(Bytes{f[p + 2], f[p + 1]}, 0, 2)) {
        for (p = pos; f[p] == 0xFF;)
            ++p;
        if (f[p] == 0xDA) {
            if (tail)
                *tail = Bytes(f.begin() + long(pos), f.end());
            return segs;
        }
        segs.emplace_back(f.begin() + long(pos), f.begin() + long(p + 1 + Le(Bytes{f[p + 2], f[p + 1]}, 0, 2)));
    }
}

bool IsExif(const Bytes& s)
{
    return s.size() > 10 && s[1] == 0xE1 && std::equal(s.begin() + 4, s.begin() + 10, "Exif\0\0");
}

bool Rebuild(const Bytes& src, Bytes& out, bool flag = false)
{
    TEXIF_Data d;
    int code = 0;
    return GetExifInfos(src, d, code) && WriteToStream(d, out, flag);
}

} // namespace

TEST(ExifWrite, BigEndianSourceIsRebuiltLittleEndianWithEveryValue)
{
    const Bytes src = RichJpeg(true);
    Bytes out;
    ASSERT_TRUE(Rebuild(src, out));
    EXPECT_EQ(Bytes(out.begin() + 6, out.begin() + 20), (Bytes{'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0}));
    TEXIF_Data a, b;
    int ca = 0, cb = 0;
    ASSERT_TRUE(GetExifInfos(src, a, ca) && GetExifInfos(out, b, cb));
    EXPECT_EQ(DumpRecord(b), DumpRecord(a));
    Bytes ta, tb;
    ASSERT_TRUE(ThumbToStream(a, ta) && ThumbToStream(b, tb));
    EXPECT_EQ(ta, tb);

    // Lists carried value by value; a two-value list inside the value field keeps both.
    const auto ifd0 = ReadDir(out, 8), exif = ReadDir(out, ifd0.at(0x8769).field);
    EXPECT_EQ(exif.at(0xC001).count, 3u);
    EXPECT_EQ(Le(out, 12 + exif.at(0xC001).field + 8, 4), 0xDEADBEEFu);
    EXPECT_EQ(ifd0.at(0x013F).count, 6u);
    EXPECT_EQ(Le(out, 12 + ifd0.at(0x013F).field + 40, 4), 6u);
    EXPECT_EQ(ifd0.at(0x0212).field, 0x00010002u);
    // The odd-length text starts at an even offset and is followed by one zero.
    const RawEntry make = ifd0.at(0x010F);
    EXPECT_EQ(make.field % 2, 0u);
    EXPECT_EQ(std::string(out.begin() + long(12 + make.field), out.begin() + long(12 + make.field + 10)),
              std::string("Lodrevan\0\0", 10));
    EXPECT_EQ(ifd0.at(0x011A).field, make.field + 10);
    Bytes tailSrc, tailOut;
    Segments(src, &tailSrc);
    Segments(out, &tailOut);
    EXPECT_EQ(tailOut, tailSrc);
}

TEST(ExifWrite, KeepsEveryOtherSegmentAndExactlyOneExifBlock)
{
    const Bytes body = SmallJpeg(), rest = StripLeadingApp0(body);
    Bytes exifContent = {'E', 'x', 'i', 'f', 0, 0};
    const Bytes tiff = BuildTiff(RichSpec(false)).bytes;
    exifContent.insert(exifContent.end(), tiff.begin(), tiff.end());
    const Bytes exif = Segment(0xE1, exifContent), jfif(body.begin() + 2, body.begin() + 20);
    const Bytes icc = Segment(0xE2, {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1});
    const std::string x = std::string("http://ns.adobe.com/xap/1.0/") + '\0' + "<x/>";
    const Bytes xmp = Segment(0xE1, Bytes(x.begin(), x.end()));
    Bytes com = Segment(0xFE, {'h', 'i'});
    com.insert(com.begin(), 0xFF); // a fill byte before the marker

    // SOI, JFIF, ICC, XMP, EXIF, a second EXIF, a comment, the picture.
    Bytes src = {0xFF, 0xD8};
    for (const Bytes* s : std::initializer_list<const Bytes*>{&jfif, &icc, &xmp, &exif, &exif, &com, &rest})
        src.insert(src.end(), s->begin(), s->end());
    Bytes out, tailSrc, tailOut;
    ASSERT_TRUE(Rebuild(src, out));
    const std::vector<Bytes> srcSegs = Segments(src, &tailSrc), outSegs = Segments(out, &tailOut);
    EXPECT_EQ(tailOut, tailSrc);
    ASSERT_GE(outSegs.size(), 2u);
    EXPECT_EQ(outSegs[0], jfif);
    EXPECT_TRUE(IsExif(outSegs[1]));
    std::vector<Bytes> others;
    std::copy_if(srcSegs.begin() + 1, srcSegs.end(), std::back_inserter(others), [](const Bytes& s) { return !IsExif(s); });
    EXPECT_EQ(std::vector<Bytes>(outSegs.begin() + 2, outSegs.end()), others);
    TBgrPixels px;
    EXPECT_TRUE(DecodeJpeg(out.data(), out.size(), px));

    // Without a leading JFIF the block goes right after SOI, before the
    // segments that preceded it.
    src = {0xFF, 0xD8};
    for (const Bytes* s : std::initializer_list<const Bytes*>{&icc, &exif, &rest})
        src.insert(src.end(), s->begin(), s->end());
    ASSERT_TRUE(Rebuild(src, out));
    EXPECT_TRUE(IsExif(Segments(out)[0]));
    EXPECT_EQ(Segments(out)[1], icc);
}

TEST(ExifWrite, RefusesWhatTheSixteenAndEightBitFieldsCannotHold)
{
    const Bytes body = SmallJpeg();
    Bytes out;
    for (int n : {255, 256}) { // values placed after one directory
        XSpec s = RichSpec(false);
        for (int i = 0; i < n - 7; ++i) // RichSpec's EXIF directory defers 7
            s.exif.push_back(XAscii(uint16_t(0xD000 + i), "12345"));
        EXPECT_EQ(Rebuild(WrapExif(BuildTiff(s).bytes, body), out), n == 255) << n;
    }
    // A block that fits before two inserted tags and not after.
    XSpec big = RichSpec(false);
    big.ifd0.erase(big.ifd0.begin() + 2, big.ifd0.begin() + 5);
    big.exif.push_back(XBytes(0x927C, Bytes(65535 - 8 - BuildTiff(big).bytes.size() - 14, 0x55), 7));
    TEXIF_Data d;
    int code = 0;
    ASSERT_TRUE(GetExifInfos(WrapExif(BuildTiff(big).bytes, body), d, code));
    EXPECT_TRUE(WriteToStream(d, out, false));
    TTagValue r;
    r.Ft = ftRational;
    ASSERT_GE(InsertTag(0x011A, r, 1, d), 0);
    ASSERT_GE(InsertTag(0x011B, r, 1, d), 0);
    EXPECT_FALSE(WriteToStream(d, out, false));
    // A source block starting beyond the first 64 KiB.
    Bytes far = {0xFF, 0xD8};
    const Bytes pad = Segment(0xE2, Bytes(65530, 0)), rich = RichJpeg(false);
    far.insert(far.end(), pad.begin(), pad.end());
    far.insert(far.end(), rich.begin() + 2, rich.end());
    EXPECT_FALSE(Rebuild(far, out));
}

TEST(ExifWrite, ThumbnailFlagAndUncarriableEntries)
{
    XSpec s = RichSpec(false);
    s.thumbnail.clear();
    s.ifd1 = {XShort(0x0103, {1})};
    TEXIF_Data d;
    int code = 0;
    ASSERT_TRUE(GetExifInfos(WrapExif(BuildTiff(s).bytes, SmallJpeg()), d, code));
    TempDir dir;
    EXPECT_FALSE(WriteToFile(d, dir.File("out.jpg"), false));
    EXPECT_EQ(Get_File_Size(dir.File("out.jpg")), -1);

    // Flag: 12 zero bytes after the model text, 44 FF bytes before the thumbnail.
    s = RichSpec(false);
    s.ifd0[1] = XAscii(0x0110, "Model 1234");
    s.exif.push_back({0xC100, 99, 4, Bytes{1, 2, 3, 4}, 1}); // an unknown type is left out
    const Bytes src = WrapExif(BuildTiff(s).bytes, SmallJpeg());
    Bytes plain, flagged;
    ASSERT_TRUE(Rebuild(src, plain) && Rebuild(src, flagged, true));
    EXPECT_EQ(flagged.size(), plain.size() + 12 + 44);
    const uint32_t model = ReadDir(flagged, 8).at(0x0110).field;
    EXPECT_EQ(Bytes(flagged.begin() + long(12 + model + 12), flagged.begin() + long(12 + model + 24)), Bytes(12, 0));
    ASSERT_TRUE(GetExifInfos(flagged, d, code));
    const long thumb = long(12 + TagToOffset(0x0201, d));
    EXPECT_EQ(Bytes(flagged.begin() + thumb - 44, flagged.begin() + thumb), Bytes(44, 0xFF));
    EXPECT_EQ(TagToInd(0xC100, d), -1);
    // A sub-directory of a kind the writer does not know cannot be relocated.
    s.exif.push_back(XLong(0xC101, {8}, 13));
    EXPECT_FALSE(Rebuild(WrapExif(BuildTiff(s).bytes, SmallJpeg()), plain));
}
