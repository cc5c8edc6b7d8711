#include "ExifSamples.h"

#include <gtest/gtest.h>

#include <map>

namespace {

uint16_t Le16(const Bytes& b, size_t p) { return uint16_t(b[p] | (b[p + 1] << 8)); }
uint32_t Le32(const Bytes& b, size_t p) { return uint32_t(Le16(b, p)) | (uint32_t(Le16(b, p + 2)) << 16); }

struct RawEntry {
    uint16_t type;
    uint32_t count, field;
    size_t pos;
};

// Reads one directory of a rebuilt (little-endian) block directly, without
// the code under test. base: file position of the TIFF header.
std::map<uint16_t, RawEntry> ReadDir(const Bytes& f, size_t base, uint32_t off, uint32_t* next = nullptr)
{
    std::map<uint16_t, RawEntry> m;
    const uint16_t n = Le16(f, base + off);
    for (unsigned i = 0; i < n; ++i) {
        const size_t p = base + off + 2 + 12 * i;
        m[Le16(f, p)] = {Le16(f, p + 2), Le32(f, p + 4), Le32(f, p + 8), p};
    }
    if (next)
        *next = Le32(f, base + off + 2 + 12 * n);
    return m;
}

// The bytes of each segment of a file before its scan, and the rest.
std::vector<Bytes> Segments(const Bytes& f, Bytes* tail)
{
    std::vector<Bytes> segs;
    size_t pos = 2;
    for (;;) {
        size_t p = pos;
        while (f[p] == 0xFF)
            ++p;
        if (f[p] == 0xDA) {
            *tail = Bytes(f.begin() + long(pos), f.end());
            return segs;
        }
        const size_t end = p + 1 + ((size_t(f[p + 1]) << 8) | f[p + 2]);
        segs.emplace_back(f.begin() + long(pos), f.begin() + long(end));
        pos = end;
    }
}

bool IsExif(const Bytes& seg)
{
    size_t p = 0;
    while (seg[p] == 0xFF)
        ++p;
    return seg[p] == 0xE1 && seg.size() >= p + 9 && std::equal(seg.begin() + long(p) + 3, seg.begin() + long(p) + 9, "Exif\0\0");
}

Bytes Rebuild(const Bytes& src, bool flag = false, bool* ok = nullptr)
{
    TEXIF_Data d;
    int code = 0;
    Bytes out;
    const bool read = GetExifInfos(src, d, code);
    const bool written = read && WriteToStream(d, out, flag);
    if (ok)
        *ok = written;
    else
        EXPECT_TRUE(written) << "read " << read << " code " << code;
    return out;
}

} // namespace

TEST(ExifWrite, BigEndianSourceIsRebuiltLittleEndianWithEveryValue)
{
    const Bytes src = RichJpeg(true);
    const Bytes out = Rebuild(src);
    ASSERT_GT(out.size(), 20u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 20),
              (Bytes{0xFF, 0xD8, 0xFF, 0xE1, out[4], out[5], 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0}));

    TEXIF_Data a, b;
    int ca = 0, cb = 0;
    ASSERT_TRUE(GetExifInfos(src, a, ca));
    ASSERT_TRUE(GetExifInfos(out, b, cb));
    EXPECT_FALSE(b.BigEndian);
    EXPECT_EQ(cb, ca);
    EXPECT_EQ(DumpRecord(b), DumpRecord(a));
    Bytes ta, tb;
    ASSERT_TRUE(ThumbToStream(a, ta));
    ASSERT_TRUE(ThumbToStream(b, tb));
    EXPECT_EQ(ta, tb);

    // The 4-byte list and the rational list are present value by value.
    const size_t base = 12;
    const auto ifd0 = ReadDir(out, base, 8);
    const auto exif = ReadDir(out, base, ifd0.at(0x8769).field);
    const RawEntry list = exif.at(0xC001);
    EXPECT_EQ(list.type, 4);
    EXPECT_EQ(list.count, 3u);
    EXPECT_EQ(Le32(out, base + list.field + 8), 0xDEADBEEFu);
    const RawEntry prim = ifd0.at(0x013F);
    EXPECT_EQ(prim.count, 6u);
    EXPECT_EQ(Le32(out, base + prim.field + 40), 6u);
    EXPECT_EQ(Le32(out, base + prim.field + 44), 100u);
    // A two-value 16-bit list inside the value field keeps both values.
    EXPECT_EQ(ifd0.at(0x0212).count, 2u);
    EXPECT_EQ(ifd0.at(0x0212).field, 0x00010002u);
    // Everything after the old block is the source's, byte for byte.
    Bytes tailSrc, tailOut;
    Segments(src, &tailSrc);
    Segments(out, &tailOut);
    EXPECT_EQ(tailOut, tailSrc);
}

TEST(ExifWrite, OddTextIsPaddedAndItsOffsetPointsAtItsFirstByte)
{
    const Bytes out = Rebuild(RichJpeg(false));
    const size_t base = 12;
    const auto ifd0 = ReadDir(out, base, 8);
    const RawEntry make = ifd0.at(0x010F);
    EXPECT_EQ(make.count, 9u);
    EXPECT_EQ(make.field % 2, 0u);
    EXPECT_EQ(std::string(out.begin() + long(base + make.field), out.begin() + long(base + make.field + 9)),
              std::string("Lodrevan\0", 9));
    EXPECT_EQ(out[base + make.field + 9], 0);
    // The next deferred value of IFD0 starts right after the pad byte.
    uint32_t after = UINT32_MAX;
    for (const auto& e : ifd0)
        if (e.second.field > make.field && e.second.field < after && (e.first == 0x011A || e.first == 0x011B || e.first == 0x013F))
            after = e.second.field;
    EXPECT_EQ(after, make.field + 10);
}

TEST(ExifWrite, KeepsEveryOtherSegmentAndExactlyOneExifBlock)
{
    const Bytes body = SmallJpeg();
    const Bytes tiff = BuildTiff(RichSpec(false)).bytes;
    Bytes exifContent = {'E', 'x', 'i', 'f', 0, 0};
    exifContent.insert(exifContent.end(), tiff.begin(), tiff.end());
    Bytes jfif(body.begin() + 2, body.begin() + 20);
    ASSERT_EQ(jfif[1], 0xE0);
    const Bytes icc = Segment(0xE2, {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1, 9, 9});
    const std::string x = "http://ns.adobe.com/xap/1.0/";
    Bytes xmpContent(x.begin(), x.end());
    xmpContent.push_back(0);
    xmpContent.insert(xmpContent.end(), {'<', 'x', '/', '>'});
    const Bytes xmp = Segment(0xE1, xmpContent);
    Bytes com = Segment(0xFE, {'h', 'i'});
    com.insert(com.begin(), 0xFF); // a fill byte before the marker

    // SOI, JFIF, ICC, XMP, EXIF, a second EXIF, a comment, then the picture.
    Bytes src = {0xFF, 0xD8};
    for (const Bytes* s : std::initializer_list<const Bytes*>{&jfif, &icc, &xmp})
        src.insert(src.end(), s->begin(), s->end());
    const Bytes exif = Segment(0xE1, exifContent);
    src.insert(src.end(), exif.begin(), exif.end());
    src.insert(src.end(), exif.begin(), exif.end());
    src.insert(src.end(), com.begin(), com.end());
    const Bytes rest = StripLeadingApp0(body);
    src.insert(src.end(), rest.begin(), rest.end());

    const Bytes out = Rebuild(src);
    Bytes tailSrc, tailOut;
    std::vector<Bytes> srcSegs = Segments(src, &tailSrc), outSegs = Segments(out, &tailOut);
    EXPECT_EQ(tailOut, tailSrc);
    ASSERT_GE(outSegs.size(), 2u);
    EXPECT_EQ(outSegs[0], jfif);
    EXPECT_TRUE(IsExif(outSegs[1]));
    // All others in the source's order with their bytes.
    std::vector<Bytes> expected;
    for (size_t i = 1; i < srcSegs.size(); ++i)
        if (!IsExif(srcSegs[i]))
            expected.push_back(srcSegs[i]);
    EXPECT_EQ(std::vector<Bytes>(outSegs.begin() + 2, outSegs.end()), expected);
    EXPECT_EQ(std::count_if(outSegs.begin(), outSegs.end(), IsExif), 1);
    TBgrPixels px;
    EXPECT_TRUE(DecodeJpeg(out.data(), out.size(), px));

    // Without a leading JFIF the new block comes right after SOI, ahead of
    // the segments that preceded the old one.
    Bytes noJfif = {0xFF, 0xD8};
    noJfif.insert(noJfif.end(), icc.begin(), icc.end());
    noJfif.insert(noJfif.end(), exif.begin(), exif.end());
    noJfif.insert(noJfif.end(), rest.begin(), rest.end());
    EXPECT_EQ(GetJpegFormat(noJfif), 0);
    const std::vector<uint8_t> codes = MarkerCodes(Rebuild(noJfif));
    ASSERT_GE(codes.size(), 3u);
    EXPECT_EQ(codes[0], 0xE1);
    EXPECT_EQ(codes[1], 0xE2);
}

TEST(ExifWrite, NoThumbnailMeansNoFile)
{
    XSpec s = RichSpec(false);
    s.thumbnail.clear();
    s.ifd1 = {XShort(0x0103, {1})};
    TEXIF_Data d;
    int code = 0;
    ASSERT_TRUE(GetExifInfos(WrapExif(BuildTiff(s).bytes, SmallJpeg()), d, code));
    EXPECT_EQ(code, 0);
    TempDir dir;
    EXPECT_FALSE(WriteToFile(d, dir.File("out.jpg"), false));
    EXPECT_EQ(Get_File_Size(dir.File("out.jpg")), -1);
    // Compression 6 but the offset tag missing.
    s.ifd1 = {XShort(0x0103, {6}), XLong(0x0202, {100})};
    ASSERT_TRUE(GetExifInfos(WrapExif(BuildTiff(s).bytes, SmallJpeg()), d, code));
    Bytes out;
    EXPECT_FALSE(WriteToStream(d, out, false));
}

TEST(ExifWrite, RefusesWhatSixteenAndEightBitFieldsCannotHold)
{
    const Bytes body = SmallJpeg();
    bool ok = true;
    // 255 values after one directory are fine, 256 are not.
    for (int n : {255, 256}) {
        XSpec s = RichSpec(false);
        for (int i = 0; i < n - 7; ++i) // RichSpec's EXIF directory defers 7
            s.exif.push_back(XAscii(uint16_t(0xD000 + i), "12345"));
        Rebuild(WrapExif(BuildTiff(s).bytes, body), false, &ok);
        EXPECT_EQ(ok, n == 255) << n;
    }
    // A rebuilt block growing past 65,535 bytes.
    XSpec big = RichSpec(false);
    big.ifd0.erase(big.ifd0.begin() + 2, big.ifd0.begin() + 5);
    const size_t small = BuildTiff(big).bytes.size();
    big.exif.push_back(XBytes(0x927C, Bytes(65535 - 8 - small - 12 - 2, 0x55), 7));
    const Bytes src = WrapExif(BuildTiff(big).bytes, body);
    ASSERT_LE(BuildTiff(big).bytes.size() + 8, 65535u);
    TEXIF_Data d;
    int code = 0;
    ASSERT_TRUE(GetExifInfos(src, d, code));
    Bytes out;
    EXPECT_TRUE(WriteToStream(d, out, false));
    TTagValue r;
    r.Ft = 5;
    r.Numer = 200;
    r.Denom = 1;
    ASSERT_GE(InsertTag(0x011A, r, 1, d), 0);
    ASSERT_GE(InsertTag(0x011B, r, 1, d), 0);
    EXPECT_FALSE(WriteToStream(d, out, false));
    // A source block that starts beyond the first 64 KiB.
    Bytes far = {0xFF, 0xD8};
    const Bytes pad = Segment(0xE2, Bytes(65530, 0));
    far.insert(far.end(), pad.begin(), pad.end());
    const Bytes rich = RichJpeg(false);
    far.insert(far.end(), rich.begin() + 2, rich.end());
    ASSERT_TRUE(GetExifInfos(far, d, code));
    EXPECT_FALSE(WriteToStream(d, out, false));
}

TEST(ExifWrite, FlagAddsTheModelPaddingAndTheFillBlock)
{
    XSpec s = RichSpec(false);
    s.ifd0[1] = XAscii(0x0110, "Model 1234");
    const Bytes src = WrapExif(BuildTiff(s).bytes, SmallJpeg());
    const Bytes plain = Rebuild(src, false), flagged = Rebuild(src, true);
    const size_t base = 12;
    const RawEntry model = ReadDir(flagged, base, 8).at(0x0110);
    EXPECT_EQ(Bytes(flagged.begin() + long(base + model.field + 12), flagged.begin() + long(base + model.field + 24)), Bytes(12, 0));
    TEXIF_Data d;
    int code = 0;
    ASSERT_TRUE(GetExifInfos(flagged, d, code));
    const int64_t off = TagToOffset(0x0201, d);
    EXPECT_EQ(Bytes(flagged.begin() + long(base + off - 44), flagged.begin() + long(base + off)), Bytes(44, 0xFF));
    EXPECT_EQ(flagged.size(), plain.size() + 12 + 44);
}

TEST(ExifWrite, DropsWhatCannotBeCarriedAndRefusesUnknownDirectories)
{
    XSpec s = RichSpec(false);
    s.exif.push_back({0xC100, 99, 4, Bytes{1, 2, 3, 4}, 1}); // unknown type
    Bytes out = Rebuild(WrapExif(BuildTiff(s).bytes, SmallJpeg()));
    TEXIF_Data d;
    int code = 0;
    ASSERT_TRUE(GetExifInfos(out, d, code));
    EXPECT_EQ(TagToInd(0xC100, d), -1);
    EXPECT_GE(TagToInd(0xC001, d), 0);
    // A sub-directory this format does not know cannot be relocated.
    s.exif.push_back(XLong(0xC101, {8}, 13));
    bool ok = true;
    Rebuild(WrapExif(BuildTiff(s).bytes, SmallJpeg()), false, &ok);
    EXPECT_FALSE(ok);
}
