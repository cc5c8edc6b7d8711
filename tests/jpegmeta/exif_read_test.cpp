#include "ExifSamples.h"

#include <gtest/gtest.h>

namespace {

const TTag& Find(const TEXIF_Data& d, int slot, uint16_t tag)
{
    const TIFD& ifd = d.IFD[size_t(slot)];
    for (unsigned i = 0; i < ifd.Entries_Count; ++i)
        if (d.Tags[size_t(ifd.Prev_Entries) + i].Id == tag)
            return d.Tags[size_t(ifd.Prev_Entries) + i];
    throw std::runtime_error("tag not found");
}

TEXIF_Data Read(const Bytes& f, int expectedCode = 0)
{
    TEXIF_Data d("src.jpg");
    int code = -99;
    EXPECT_TRUE(GetExifInfos(f, d, code));
    EXPECT_EQ(code, expectedCode);
    return d;
}

TTagValue Rational(uint32_t n, uint32_t d)
{
    TTagValue v;
    v.Ft = ftRational;
    v.Numer = n;
    v.Denom = d;
    return v;
}

} // namespace

TEST(JpegFormat, ClassifiesTheFirstSegment)
{
    const Bytes jfif = SmallJpeg();
    Bytes dqtFirst = {0xFF, 0xD8};
    const Bytes rest = StripLeadingApp0(jfif);
    dqtFirst.insert(dqtFirst.end(), rest.begin(), rest.end());
    EXPECT_EQ(GetJpegFormat(jfif), 1);
    EXPECT_EQ(GetJpegFormat(RichJpeg(false)), 2);
    EXPECT_EQ(GetJpegFormat(dqtFirst), 0);
    EXPECT_EQ(GetJpegFormat(Bytes{0x89, 'P', 'N', 'G'}), -1);
    EXPECT_EQ(GetJpegFormat(Bytes{0xFF, 0xD8}), -1);
    // A non-EXIF APP1, a JFIF APP0 too short to hold the density and one cut
    // before its end: the density patch would write outside the segment.
    EXPECT_EQ(GetJpegFormat(Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08, 'h', 't', 't', 'p', ':', '/'}), -1);
    EXPECT_EQ(GetJpegFormat(Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 7, 'J', 'F', 'I', 'F', 0, 0xFF, 0xDB, 0, 4, 0, 0, 0, 0}), -1);
    EXPECT_EQ(GetJpegFormat(Bytes(jfif.begin(), jfif.begin() + 12)), -1);
}

TEST(ExifRead, BigEndianBlockGivesHostValuesAndEverySlot)
{
    const TEXIF_Data be = Read(RichJpeg(true)), le = Read(RichJpeg(false));
    EXPECT_EQ(DumpRecord(be), DumpRecord(le));
    EXPECT_TRUE(be.BigEndian);
    EXPECT_EQ(be.ZerOfst, 12u);
    EXPECT_EQ(Find(be, 1, 0x011A).Numer, 72u);
    EXPECT_EQ(Find(be, 1, 0x0128).Mot, 2);
    EXPECT_EQ(Find(be, 2, 0xA002).Long, 48u);
    EXPECT_EQ(Find(be, 2, 0xC002).DFloat, 1.5);
    EXPECT_EQ(be.Str.at(Find(be, 1, 0x010F).StrInd), std::string("Lodrevan\0", 9));
    // 16-bit and byte lists become text, also when they fit the value field.
    EXPECT_EQ(Find(be, 2, 0x9214).Ft, ftShortList);
    EXPECT_EQ(be.Str.at(Find(be, 2, 0x9214).StrInd), "10 20 30 ");
    EXPECT_EQ(be.Str.at(Find(be, 1, 0x0212).StrInd), "2 1 ");
    EXPECT_EQ(be.Str.at(Find(be, 5, 0x0000).StrInd), "2 2 0 0 ");
    EXPECT_EQ(be.Str.at(Find(be, 4, 0x0001).StrInd), std::string("R98\0", 4));
    EXPECT_EQ(be.IFD[3].Position, 0);
    for (int s = 1; s < kIfdSlots; ++s)
        EXPECT_EQ(be.IFD[size_t(s)].Prev_Entries, be.IFD[size_t(s) - 1].Prev_Entries + be.IFD[size_t(s) - 1].Entries_Count);
    EXPECT_EQ(be.IFD[1].Offset_Size, 9u + 8 + 8 + 48);
    EXPECT_EQ(be.IFD[1].Total_Size, 6u + 12u * be.IFD[1].Entries_Count + be.IFD[1].Offset_Size);
}

TEST(ExifRead, OptionalDirectoriesAddTheirCodesAndTheExifPointerIsRequired)
{
    XSpec s = RichSpec(false);
    s.withInterop = false;
    Read(WrapExif(BuildTiff(s).bytes, SmallJpeg()), 7);
    s.thumbnail.clear();
    s.ifd1.clear();
    Read(WrapExif(BuildTiff(s).bytes, SmallJpeg()), 15);
    s.exifPointer = false;
    TEXIF_Data d;
    int code = 0;
    EXPECT_FALSE(GetExifInfos(WrapExif(BuildTiff(s).bytes, SmallJpeg()), d, code));
    EXPECT_EQ(code, 5);
}

TEST(ExifRead, LookupsAndThumbnailIncludingUserCommentStandIns)
{
    XTiff t = BuildTiff(RichSpec(true));
    // Some writers numbered IFD1's offset and length tags 0x9286.
    t.Put16(t.entryPos[{7, 0x0201}], 0x9286);
    t.Put16(t.entryPos[{7, 0x0202}], 0x9286);
    const TEXIF_Data d = Read(WrapExif(t.bytes, SmallJpeg()));
    EXPECT_EQ(TagToInd(0x011A, d), &Find(d, 1, 0x011A) - d.Tags.data()); // IFD0's, not IFD1's
    TTagValue v;
    EXPECT_EQ(TagToValue(0x829A, d, v), 1);
    EXPECT_EQ(v.Denom, 125u);
    EXPECT_EQ(TagToValue(0x1234, d, v), -1);
    EXPECT_EQ(TagToOffset(0x0201, d), int64_t(t.thumbPos));
    EXPECT_EQ(TagToOffset(0x0202, d), int64_t(Thumbnail().size()));
    EXPECT_EQ(TagToOffset(0x1234, d), -1);
    Bytes thumb;
    ASSERT_TRUE(ThumbToStream(d, thumb));
    EXPECT_EQ(thumb, Thumbnail());
}

TEST(ExifEdit, ModifyTouchesOnlyAMatchingTypeInTheGivenSlot)
{
    TEXIF_Data d = Read(RichJpeg(true));
    const std::string before = DumpRecord(d);
    TTagValue unit;
    unit.Ft = ftLong;
    unit.Long = 3;
    EXPECT_EQ(ModifyTag(0x0128, unit, 1, d), -2);
    EXPECT_EQ(DumpRecord(d), before);
    unit.Ft = ftShort;
    unit.Mot = 3;
    EXPECT_EQ(ModifyTag(0x0128, unit, 3, d), -1);
    EXPECT_EQ(ModifyTag(0x0128, unit, 2, d), -1);
    TTagValue text;
    text.Ft = ftAscii;
    EXPECT_EQ(ModifyTag(0x010F, text, 1, d), -3);
    EXPECT_GE(ModifyTag(0x011A, Rational(200, 1), 1, d), 0);
    EXPECT_EQ(Find(d, 1, 0x011A).Numer, 200u);
    EXPECT_EQ(Find(d, 7, 0x011A).Numer, 72u);
    const int u = ModifyTag(0x0128, unit, 1, d);
    ASSERT_GE(u, 0);
    // The raw entry follows in the block's own (big-endian) order.
    EXPECT_EQ(d.TagLus[d.Tags[size_t(u)].Lu].Value, 0x0300u);
}

TEST(ExifEdit, InsertKeepsTagOrderAndShiftsLaterDirectories)
{
    XSpec s = RichSpec(false);
    s.ifd0.erase(s.ifd0.begin() + 2, s.ifd0.begin() + 5); // no resolution tags
    TEXIF_Data d = Read(WrapExif(BuildTiff(s).bytes, SmallJpeg()));
    const std::string dump = DumpRecord(d), later = dump.substr(dump.find("\n2 "));
    std::vector<uint16_t> prev;
    for (const TIFD& i : d.IFD)
        prev.push_back(i.Prev_Entries);
    const uint16_t count0 = d.IFD[1].Entries_Count;

    EXPECT_EQ(ModifyTag(0x011A, Rational(200, 1), 1, d), -1);
    const int k = InsertTag(0x011A, Rational(200, 1), 1, d);
    ASSERT_GE(k, 0);
    EXPECT_EQ(d.Tags[size_t(k)].Id, 0x011A);
    EXPECT_EQ(d.IFD[1].Entries_Count, count0 + 1);
    for (unsigned i = 1; i < d.IFD[1].Entries_Count; ++i)
        EXPECT_LT(d.Tags[i - 1].Id, d.Tags[i].Id);
    for (int sl = 2; sl < kIfdSlots; ++sl)
        EXPECT_EQ(d.IFD[size_t(sl)].Prev_Entries, prev[size_t(sl)] + 1);
    const std::string after = DumpRecord(d);
    EXPECT_EQ(after.substr(after.find("\n2 ")), later);

    TTagValue b;
    b.Ft = ftByte;
    EXPECT_EQ(InsertTag(0x0001, b, 1, d), 0); // smaller than every other: first
    TTagValue t;
    t.Ft = ftAscii;
    EXPECT_EQ(InsertTag(0x0002, t, 1, d), -1);
    EXPECT_EQ(InsertTag(0x0002, b, 3, d), -1);
    s.withGps = false; // no directory to insert into
    d = Read(WrapExif(BuildTiff(s).bytes, SmallJpeg()));
    EXPECT_EQ(InsertTag(0x0002, b, 5, d), -1);
}
