// The saved files checked by tools nobody here wrote: libjpeg-turbo's djpeg,
// jpeginfo, exiftool and exiv2.
#include "ExifSamples.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

bool ToolsPresent()
{
    return HaveTool("djpeg") && HaveTool("jpeginfo") && HaveTool("exiftool") && HaveTool("exiv2");
}

#define REQUIRE_TOOLS()                                                                            \
    if (!ToolsPresent())                                                                           \
    GTEST_SKIP() << "djpeg, jpeginfo, exiftool or exiv2 missing: run tools/ set-up with packages.txt"

// exiftool's "-a -u -G1 -s" listing (unknown tags included) as group:tag -> value, without the lines
// about the file itself (name, dates, size, permissions).
std::map<std::string, std::string> ExifTool(const std::string& file)
{
    std::string out;
    RunCommand("exiftool -a -u -G1 -s '" + file + "'", &out);
    std::map<std::string, std::string> m;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const size_t close = line.find(']'), colon = line.find(" : ");
        if (line.size() < 3 || line[0] != '[' || close == std::string::npos || colon == std::string::npos)
            continue;
        const std::string group = line.substr(1, close - 1);
        if (group == "System" || group == "ExifTool" || group == "File")
            continue;
        std::string tag = line.substr(close + 1, colon - close - 1);
        tag.erase(0, tag.find_first_not_of(' '));
        tag.erase(tag.find_last_not_of(' ') + 1);
        m[group + ":" + tag] = line.substr(colon + 3);
    }
    return m;
}

std::string PnmSize(const std::string& file)
{
    std::string out;
    RunCommand("djpeg -pnm '" + file + "' | head -c 20 | tr '\\n' ' '", &out);
    return out;
}

void CheckSavedFile(const std::string& file, const std::string& pnmHead)
{
    std::string out;
    EXPECT_EQ(RunCommand("jpeginfo -c '" + file + "'", &out), 0) << out;
    EXPECT_NE(out.find("OK"), std::string::npos) << out;
    EXPECT_EQ(PnmSize(file).substr(0, pnmHead.size()), pnmHead);
}

} // namespace

TEST(IndependentTools, JfifOutputsRead200DpiAndDecode)
{
    REQUIRE_TOOLS();
    TempDir dir;
    struct Slot {
        TBgrPixels px;
        int limit;
        const char* name;
        const char* pnm;
    };
    const Slot slots[] = {{PhotoLike(260, 315), 34990, "RossiFoto.jpg", "P6 260 315 255"},
                          {SignatureLike(236, 47), 19990, "RossiFirma.jpg", "P6 236 47 255"}};
    for (const Slot& s : slots) {
        Bytes q90;
        ASSERT_TRUE(EncodeJpeg(s.px.View(), kDefaultJpegQuality, q90));
        TJpegCompressResult r;
        ASSERT_TRUE(SaveJpegCompress(q90.data(), q90.size(), s.limit, r));
        ASSERT_TRUE(r.Fits);
        Bytes out;
        ASSERT_TRUE(ChangeJpeg200Dpi(r.Bytes, out));
        const std::string file = dir.File(s.name);
        ASSERT_TRUE(WriteBytes(file, out));
        EXPECT_LE(Get_File_Size(file), s.limit);
        CheckSavedFile(file, s.pnm);
        const auto tags = ExifTool(file);
        EXPECT_EQ(tags.at("JFIF:XResolution"), "200") << s.name;
        EXPECT_EQ(tags.at("JFIF:YResolution"), "200");
        EXPECT_EQ(tags.at("JFIF:ResolutionUnit"), "inches");
        // exiv2 has no density field for JFIF; its structure listing shows the
        // 16-byte JFIF APP0 right after SOI.
        std::string structure;
        RunCommand("exiv2 -pS '" + file + "'", &structure);
        EXPECT_NE(structure.find("2 | 0xffe0 APP0  |      16 | JFIF"), std::string::npos) << structure;
    }
}

TEST(IndependentTools, RewrittenExifFileReads200DpiWithEverythingElseKept)
{
    REQUIRE_TOOLS();
    TempDir dir;
    // A big-endian EXIF source with an XMP packet after the block.
    Bytes photo;
    ASSERT_TRUE(EncodeJpeg(PhotoLike(260, 315).View(), 90, photo));
    XSpec layout = RichSpec(true);
    layout.ifd0.erase(layout.ifd0.begin() + 4); // no ResolutionUnit
    Bytes src = WrapExif(BuildTiff(layout).bytes, photo);
    const std::string xmpText =
        std::string("http://ns.adobe.com/xap/1.0/") + '\0' +
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:format>image/jpeg</dc:format>"
        "</rdf:Description></rdf:RDF></x:xmpmeta>";
    const Bytes xmp = Segment(0xE1, Bytes(xmpText.begin(), xmpText.end()));
    const size_t app1End = 4 + ((size_t(src[4]) << 8) | src[5]);
    src.insert(src.begin() + long(app1End), xmp.begin(), xmp.end());
    const std::string srcFile = dir.File("source.jpg"), outFile = dir.File("RossiFoto.jpg");
    ASSERT_TRUE(WriteBytes(srcFile, src));
    ASSERT_TRUE(ChangeJpeg200Dpi(srcFile, outFile));

    CheckSavedFile(outFile, "P6 260 315 255");
    auto before = ExifTool(srcFile), after = ExifTool(outFile);
    EXPECT_EQ(after.at("IFD0:XResolution"), "200");
    EXPECT_EQ(after.at("IFD0:YResolution"), "200");
    EXPECT_EQ(after.at("IFD0:ResolutionUnit"), "inches");
    EXPECT_EQ(after.at("XMP-dc:Format"), "image/jpeg");
    EXPECT_EQ(before.count("IFD0:ResolutionUnit"), 0u);
    // Every other tag reads the same, thumbnail and lists included.
    before["IFD0:XResolution"] = before["IFD0:YResolution"] = "200";
    before["IFD0:ResolutionUnit"] = "inches";
    EXPECT_NE(after.at("IFD1:ThumbnailOffset"), "");
    before.erase("IFD1:ThumbnailOffset");
    after.erase("IFD1:ThumbnailOffset");
    EXPECT_EQ(after.at("ExifIFD:Exif_0xc001"), "1 2 3735928559");
    EXPECT_EQ(after, before);

    std::string thumb;
    RunCommand("exiftool -b -ThumbnailImage '" + outFile + "'", &thumb);
    EXPECT_EQ(Bytes(thumb.begin(), thumb.end()), Thumbnail());

    std::string warnings;
    RunCommand("exiftool -validate -warning -a -s3 '" + outFile + "' | grep -ciE 'offset|overlap|IFD.*(bad|invalid)|suspicious'",
        &warnings);
    EXPECT_EQ(warnings, "0\n");

    std::string ex;
    EXPECT_EQ(RunCommand("exiv2 -pa -K Exif.Image.XResolution -K Exif.Image.YResolution -K Exif.Image.ResolutionUnit '" +
                      outFile + "'",
                  &ex),
              0);
    EXPECT_NE(ex.find("Exif.Image.XResolution                       Rational    1  200"), std::string::npos) << ex;
    EXPECT_NE(ex.find("Exif.Image.YResolution                       Rational    1  200"), std::string::npos) << ex;
    EXPECT_NE(ex.find("Exif.Image.ResolutionUnit                    Short       1  inch"), std::string::npos) << ex;
    std::string previews;
    RunCommand("exiv2 -pp '" + outFile + "'", &previews);
    EXPECT_NE(previews.find("image/jpeg, 16x12 pixels, " + std::to_string(Thumbnail().size()) + " bytes"),
              std::string::npos)
        << previews;
}
