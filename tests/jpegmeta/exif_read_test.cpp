#include "ExifSamples.h"

#include <gtest/gtest.h>

namespace {

const TTag* Find(const TEXIF_Data& d, int slot, uint16_t tag)
{
    const TIFD& ifd = d.IFD[size_t(slot)];
    for (unsigned i = 0; i < ifd.Entries_Count; ++i)
        if (d.Tags[size_t(ifd.Prev_Entries) + i].Id == tag)
            return &d.Tags[size_t(ifd.Prev_Entries) + i];
    return nullptr;
}

std::string Pool(const TEXIF_Data& d, uint16_t ind) { return d.Str.at(ind); }

} // namespace

TEST(JpegFormat, ClassifiesTheFirstSegment)
{
    const Bytes jfif = SmallJpeg();
    EXPECT_EQ(GetJpegFormat(jfif), 1);
    EXPECT_EQ(GetJpegFormat(RichJpeg(false)), 2);
    Bytes dqtFirst = {0xFF, 0xD8};
    const Bytes rest = StripLeadingApp0(jfif);
    dqtFirst.insert(dqtFirst.end(), rest.begin(), rest.end());
    ASSERT_EQ(dqtFirst[3], 0xDB);
    EXPECT_EQ(GetJpegFormat(dqtFirst), 0);
    EXPECT_EQ(GetJpegFormat(Bytes{0x89, 'P', 'N', 'G'}), -1);
    EXPECT_EQ(GetJpegFormat(Bytes{0xFF, 0xD8}), -1);
    EXPECT_EQ(GetJpegFormat(Bytes{}), -1);
    // An APP1 that is not EXIF, a JFIF APP0 too short to hold the density,
    // and one cut before its end: the density patch would write elsewhere.
    EXPECT_EQ(GetJpegFormat(Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08, 'h', 't', 't', 'p', ':', '/'}), -1);
    Bytes shortApp0 = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x07, 'J', 'F', 'I', 'F', 0, 0xFF, 0xDB, 0, 4, 0, 0, 0, 0};
    EXPECT_EQ(GetJpegFormat(shortApp0), -1);
    EXPECT_EQ(GetJpegFormat(Bytes(jfif.begin(), jfif.begin() + 12)), -1);
}

TEST(ExifRead, LittleAndBigEndianBlocksGiveTheSameHostValues)
{
    TEXIF_Data le("le.jpg"), be("be.jpg");
    int codeLe = -99, codeBe = -99;
    ASSERT_TRUE(GetExifInfos(RichJpeg(false), le, codeLe));
    ASSERT_TRUE(GetExifInfos(RichJpeg(true), be, codeBe));
    EXPECT_EQ(codeLe, 0);
    EXPECT_EQ(codeBe, 0);
    EXPECT_EQ(le.Cliche(), "le.jpg");
    EXPECT_FALSE(le.Modified());
    EXPECT_EQ(DumpRecord(le), DumpRecord(be));
    EXPECT_TRUE(be.BigEndian);

    const TTag* x = Find(be, 1, 0x011A);
    ASSERT_TRUE(x);
    EXPECT_EQ(x->Ft, 5);
    EXPECT_EQ(x->Numer, 72u);
    EXPECT_EQ(x->Denom, 1u);
    EXPECT_EQ(Find(be, 1, 0x0128)->Mot, 2);
    EXPECT_EQ(Pool(be, Find(be, 1, 0x010F)->StrInd), std::string("Lodrevan\0", 9));
    EXPECT_EQ(Pool(be, Find(be, 1, 0x0110)->StrInd), std::string("X1\0", 3));
    // 16-bit and byte lists become text; a list that fits the value field too.
    EXPECT_EQ(Find(be, 2, 0x9214)->Ft, ftShortList);
    EXPECT_EQ(Pool(be, Find(be, 2, 0x9214)->StrInd), "10 20 30 ");
    EXPECT_EQ(Pool(be, Find(be, 1, 0x0212)->StrInd), "2 1 ");
    EXPECT_EQ(Pool(be, Find(be, 2, 0xC000)->StrInd), "1 2 3 4 5 6 ");
    EXPECT_EQ(Pool(be, Find(be, 5, 0x0000)->StrInd), "2 2 0 0 ");
    EXPECT_EQ(Find(be, 2, 0xC002)->DFloat, 1.5);
    EXPECT_EQ(Find(be, 2, 0xA002)->Long, 48u);
    EXPECT_EQ(Find(be, 2, 0x9204)->Denom, 0u);
    EXPECT_EQ(Pool(be, Find(be, 4, 0x0001)->StrInd), std::string("R98\0", 4));

    // Slots: 3 empty; the others found, each starting where the last ended.
    EXPECT_EQ(be.IFD[3].Position, 0);
    for (int s = 1; s < kIfdSlots; ++s)
        EXPECT_EQ(be.IFD[size_t(s)].Prev_Entries, be.IFD[size_t(s) - 1].Prev_Entries + be.IFD[size_t(s) - 1].Entries_Count);
    EXPECT_EQ(be.IFD[1].Total_Size, 6u + 12u * be.IFD[1].Entries_Count + be.IFD[1].Offset_Size);
    EXPECT_EQ(be.IFD[1].Offset_Size, 9u + 8u + 8u + 48u);
    EXPECT_EQ(be.ZerOfst, 12u);
}

TEST(ExifRead, MissingOptionalDirectoriesAddTheirCodes)
{
    XSpec s = RichSpec(false);
    s.withInterop = false;
    TEXIF_Data d;
    int code = 0;
    ASSERT_TRUE(GetExifInfos(WrapExif(BuildTiff(s).bytes, SmallJpeg()), d, code));
    EXPECT_EQ(code, 7);
    s.thumbnail.clear();
    s.ifd1.clear();
    ASSERT_TRUE(GetExifInfos(WrapExif(BuildTiff(s).bytes, SmallJpeg()), d, code));
    EXPECT_EQ(code, 15);
    s.withInterop = true;
    ASSERT_TRUE(GetExifInfos(WrapExif(BuildTiff(s).bytes, SmallJpeg()), d, code));
    EXPECT_EQ(code, 8);
    s.exifPointer = false;
    EXPECT_FALSE(GetExifInfos(WrapExif(BuildTiff(s).bytes, SmallJpeg()), d, code));
    EXPECT_EQ(code, 5);
}

TEST(ExifRead, TagLookupsAndThumbnail)
{
    TEXIF_Data d;
    int code = 0;
    const XTiff t = BuildTiff(RichSpec(true));
    ASSERT_TRUE(GetExifInfos(WrapExif(t.bytes, SmallJpeg()), d, code));
    // The first XResolution over all directories is IFD0's.
    EXPECT_EQ(TagToInd(0x011A, d), Find(d, 1, 0x011A) - d.Tags.data());
    TTagValue v;
    EXPECT_EQ(TagToValue(0x829A, d, v), 1);
    EXPECT_EQ(v.Ft, 5);
    EXPECT_EQ(v.Denom, 125u);
    EXPECT_EQ(TagToValue(0x1234, d, v), -1);
    EXPECT_EQ(TagToOffset(0x0201, d), int64_t(t.thumbPos));
    EXPECT_EQ(TagToOffset(0x0202, d), int64_t(Thumbnail().size()));
    EXPECT_EQ(TagToOffset(0x1234, d), -1);
    Bytes thumb;
    ASSERT_TRUE(ThumbToStream(d, thumb));
    EXPECT_EQ(thumb, Thumbnail());
}

TEST(ExifRead, UserCommentInIfd1StandsForTheThumbnailTags)
{
    XSpec s = RichSpec(false);
    XTiff t = BuildTiff(s);
    // Renumber IFD1's offset and length tags as 0x9286, as some writers did.
    t.Put16(t.entryPos[{7, 0x0201}], 0x9286);
    t.Put16(t.entryPos[{7, 0x0202}], 0x9286);
    TEXIF_Data d;
    int code = 0;
    ASSERT_TRUE(GetExifInfos(WrapExif(t.bytes, SmallJpeg()), d, code));
    EXPECT_EQ(TagToOffset(0x0201, d), int64_t(t.thumbPos));
    EXPECT_EQ(TagToOffset(0x0202, d), int64_t(Thumbnail().size()));
}

TEST(ExifEdit, ModifyChangesOnlyAMatchingTypeInTheGivenSlot)
{
    TEXIF_Data d;
    int code = 0;
    ASSERT_TRUE(GetExifInfos(RichJpeg(true), d, code));
    const std::string before = DumpRecord(d);
    TTagValue unit;
    unit.Ft = 4;
    unit.Long = 3;
    EXPECT_EQ(ModifyTag(0x0128, unit, 1, d), -2);
    EXPECT_EQ(DumpRecord(d), before);
    unit.Ft = 3;
    EXPECT_EQ(ModifyTag(0x0128, unit, 3, d), -1);
    EXPECT_EQ(ModifyTag(0x0128, unit, 2, d), -1);
    TTagValue text;
    text.Ft = 2;
    EXPECT_EQ(ModifyTag(0x010F, text, 1, d), -3);

    TTagValue r200;
    r200.Ft = 5;
    r200.Numer = 200;
    r200.Denom = 1;
    const int k = ModifyTag(0x011A, r200, 1, d);
    ASSERT_GE(k, 0);
    EXPECT_EQ(d.Tags[size_t(k)].Numer, 200u);
    // IFD1's XResolution is a different entry and stays.
    EXPECT_EQ(Find(d, 7, 0x011A)->Numer, 72u);
    unit.Mot = 3;
    const int u = ModifyTag(0x0128, unit, 1, d);
    ASSERT_GE(u, 0);
    // The raw entry follows, in the block's (big-endian) order, left-justified.
    EXPECT_EQ(d.TagLus[d.Tags[size_t(u)].Lu].Value, 0x0300u);
}

TEST(ExifEdit, InsertKeepsTagOrderAndShiftsLaterDirectories)
{
    XSpec s = RichSpec(false);
    s.ifd0.erase(s.ifd0.begin() + 2, s.ifd0.begin() + 5); // no X/YResolution, no unit
    TEXIF_Data d;
    int code = 0;
    ASSERT_TRUE(GetExifInfos(WrapExif(BuildTiff(s).bytes, SmallJpeg()), d, code));
    std::vector<uint16_t> prev;
    for (const TIFD& i : d.IFD)
        prev.push_back(i.Prev_Entries);
    const std::string exifBefore = DumpRecord(d).substr(DumpRecord(d).find("\n2 "));
    const uint16_t count0 = d.IFD[1].Entries_Count;

    TTagValue r;
    r.Ft = 5;
    r.Numer = 200;
    r.Denom = 1;
    EXPECT_EQ(ModifyTag(0x011A, r, 1, d), -1);
    const int k = InsertTag(0x011A, r, 1, d);
    ASSERT_GE(k, 0);
    EXPECT_EQ(d.IFD[1].Entries_Count, count0 + 1);
    for (int sl = 2; sl < kIfdSlots; ++sl)
        EXPECT_EQ(d.IFD[size_t(sl)].Prev_Entries, prev[size_t(sl)] + 1);
    for (unsigned i = 1; i < d.IFD[1].Entries_Count; ++i)
        EXPECT_LE(d.Tags[i - 1].Id, d.Tags[i].Id);
    EXPECT_EQ(d.Tags[size_t(k)].Id, 0x011A);
    EXPECT_EQ(d.Tags[size_t(k)].Ln, 8u);
    EXPECT_EQ(DumpRecord(d).substr(DumpRecord(d).find("\n2 ")), exifBefore);

    // An entry smaller than every other goes first; texts and absent
    // directories cannot take an insert.
    TTagValue b;
    b.Ft = 1;
    b.Octet = 9;
    EXPECT_EQ(InsertTag(0x0001, b, 1, d), 0);
    TTagValue t;
    t.Ft = 2;
    EXPECT_EQ(InsertTag(0x0002, t, 1, d), -1);
    EXPECT_EQ(InsertTag(0x0002, b, 3, d), -1);
    s.withGps = false;
    ASSERT_TRUE(GetExifInfos(WrapExif(BuildTiff(s).bytes, SmallJpeg()), d, code));
    EXPECT_EQ(InsertTag(0x0002, b, 5, d), -1);
}
