#include "ExifSamples.h"

#include "jpegmeta/SafeFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<std::string> Listing(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs fn in a child process and returns its exit code (-1 if it died).
template <class F>
int InChild(F fn)
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(fn());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEXIF_Data ReadBack(const Bytes& f)
{
    TEXIF_Data d;
    int code = 0;
    EXPECT_TRUE(GetExifInfos(f, d, code));
    return d;
}

} // namespace

TEST(JpegCodec, EncodesBgrWithJfifFirstAndKeepsChannelOrder)
{
    TBgrPixels red;
    red.Width = 40;
    red.Height = 24;
    red.Stride = 40 * 3 + 8; // padded rows, the padding full of junk
    red.Data.assign(red.Stride * 24, 0xAB);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x) {
            uint8_t* p = red.Data.data() + size_t(y) * red.Stride + 3 * size_t(x);
            p[0] = 0;
            p[1] = 0;
            p[2] = 255;
        }
    Bytes jpeg;
    ASSERT_TRUE(EncodeJpeg(red.View(), 100, jpeg));
    EXPECT_EQ(GetJpegFormat(jpeg), 1);
    TBgrPixels back;
    ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), back));
    EXPECT_EQ(back.Width, 40);
    EXPECT_EQ(back.Height, 24);
    const uint8_t* mid = back.Data.data() + 12 * back.Stride + 3 * 20;
    EXPECT_LE(mid[0], 3);
    EXPECT_LE(mid[1], 3);
    EXPECT_GE(mid[2], 250);

    // The same picture with tight rows gives the same file.
    TBgrPixels tight = red;
    tight.Stride = 120;
    tight.Data.clear();
    for (int y = 0; y < 24; ++y)
        tight.Data.insert(tight.Data.end(), red.Data.begin() + long(size_t(y) * red.Stride),
                          red.Data.begin() + long(size_t(y) * red.Stride + 120));
    Bytes jpeg2;
    ASSERT_TRUE(EncodeJpeg(tight.View(), 100, jpeg2));
    EXPECT_EQ(jpeg2, jpeg);

    TBgrView bad = red.View();
    EXPECT_FALSE(EncodeJpeg(bad, 0, jpeg2));
    EXPECT_FALSE(EncodeJpeg(bad, 101, jpeg2));
    bad.Stride = 100;
    EXPECT_FALSE(EncodeJpeg(bad, 90, jpeg2));
    EXPECT_FALSE(EncodeJpeg(TBgrView{}, 90, jpeg2));
}

TEST(JpegCodec, DecoderRefusesCutDataAndHugeFrames)
{
    const Bytes jpeg = SmallJpeg(64, 64, 90);
    TBgrPixels px;
    EXPECT_FALSE(DecodeJpeg(jpeg.data(), jpeg.size() * 6 / 10, px));
    EXPECT_TRUE(px.Data.empty());
    // A frame of 60000 x 60000 with almost no data behind it.
    Bytes huge = jpeg;
    for (size_t i = 2; i + 9 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = huge[i + 7] = 0xEA;
            huge[i + 6] = huge[i + 8] = 0x60;
            break;
        }
    huge.resize(huge.size() / 3);
    std::string why;
    EXPECT_FALSE(DecodeJpeg(huge.data(), huge.size(), px, uint64_t(1) << 26, &why));
    EXPECT_EQ(why, "picture too large");
}

TEST(JpegCompress, TakesTheFirstQualityThatFits)
{
    const TBgrPixels photo = PhotoLike(260, 315);
    TJpegCompressResult r;
    ASSERT_TRUE(SaveJpegCompress(photo.View(), 10'000'000, r));
    EXPECT_EQ(r.Quality, 100);
    EXPECT_EQ(r.Attempts, 1);
    EXPECT_TRUE(r.Fits);

    ASSERT_TRUE(SaveJpegCompress(photo.View(), 500, r));
    EXPECT_EQ(r.Quality, 5);
    EXPECT_EQ(r.Attempts, 20);
    EXPECT_FALSE(r.Fits);
    EXPECT_GT(r.Bytes.size(), 500u);

    // A limit between: compare with encodes made one by one.
    std::vector<size_t> sizes;
    for (int q = 100; q >= 5; q -= 5) {
        Bytes b;
        ASSERT_TRUE(EncodeJpeg(photo.View(), q, b));
        sizes.push_back(b.size());
    }
    const int limit = int(sizes[4]); // the size at quality 80
    int expected = 0;
    for (size_t i = 0; i < sizes.size() && !expected; ++i)
        if (sizes[i] <= size_t(limit))
            expected = 100 - 5 * int(i);
    ASSERT_TRUE(SaveJpegCompress(photo.View(), limit, r));
    EXPECT_EQ(r.Quality, expected);
    EXPECT_EQ(r.Attempts, (100 - expected) / 5 + 1);
    EXPECT_LE(r.Bytes.size(), size_t(limit));
    Bytes direct;
    EncodeJpeg(photo.View(), expected, direct);
    EXPECT_EQ(r.Bytes, direct);

    // From the intermediate JPEG: its decoded pixels are what gets encoded.
    Bytes q90;
    ASSERT_TRUE(EncodeJpeg(photo.View(), kDefaultJpegQuality, q90));
    TBgrPixels decoded;
    ASSERT_TRUE(DecodeJpeg(q90.data(), q90.size(), decoded));
    TJpegCompressResult viaFile, viaPixels;
    ASSERT_TRUE(SaveJpegCompress(q90.data(), q90.size(), limit, viaFile));
    ASSERT_TRUE(SaveJpegCompress(decoded.View(), limit, viaPixels));
    EXPECT_EQ(viaFile.Bytes, viaPixels.Bytes);
    EXPECT_FALSE(SaveJpegCompress(q90.data(), q90.size() / 2, limit, viaFile));
}

TEST(JpegCompress, FileFormNeverLeavesAnOverLimitFile)
{
    TempDir dir;
    Bytes q90;
    ASSERT_TRUE(EncodeJpeg(PhotoLike(260, 315).View(), 90, q90));
    ASSERT_TRUE(WriteBytes(dir.File("Foto.jpg"), q90));
    std::string why;
    EXPECT_FALSE(SaveJpegCompress(dir.File("Foto.jpg"), dir.File("RossiFoto.jpg"), 400, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(Get_File_Size(dir.File("RossiFoto.jpg")), -1);
    ASSERT_TRUE(WriteBytes(dir.File("old.jpg"), {1, 2, 3}));
    EXPECT_FALSE(SaveJpegCompress(dir.File("Foto.jpg"), dir.File("old.jpg"), 400));
    EXPECT_EQ(ReadBytes(dir.File("old.jpg")), (Bytes{1, 2, 3}));

    ASSERT_TRUE(SaveJpegCompress(dir.File("Foto.jpg"), dir.File("RossiFoto.jpg"), 34990));
    const int32_t size = Get_File_Size(dir.File("RossiFoto.jpg"));
    EXPECT_GT(size, 0);
    EXPECT_LE(size, 34990);
    EXPECT_EQ(Listing(dir.path), (std::vector<std::string>{"Foto.jpg", "RossiFoto.jpg", "old.jpg"}));
    EXPECT_EQ(Get_File_Size(dir.File("none.jpg")), -1);
    EXPECT_EQ(Get_File_Size(dir.path), -1);
}

TEST(Density, JfifFilesChangeOnlyTheirDensityBytes)
{
    Bytes src = SmallJpeg();
    for (const Bytes& density : {Bytes{1, 0, 72, 0, 72}, Bytes{0, 0, 1, 0, 1}}) {
        std::copy(density.begin(), density.end(), src.begin() + 13);
        Bytes out;
        ASSERT_TRUE(ChangeJpeg200Dpi(src, out));
        ASSERT_EQ(out.size(), src.size());
        Bytes expected = src;
        const Bytes d200 = {1, 0x00, 0xC8, 0x00, 0xC8};
        std::copy(d200.begin(), d200.end(), expected.begin() + 13);
        EXPECT_EQ(out, expected);
    }
}

TEST(Density, AJpegWithoutJfifOrExifGetsAJfifSegmentOf200Dpi)
{
    const Bytes jfif = SmallJpeg();
    Bytes bare = {0xFF, 0xD8};
    const Bytes rest = StripLeadingApp0(jfif);
    bare.insert(bare.end(), rest.begin(), rest.end());
    Bytes out;
    ASSERT_TRUE(ChangeJpeg200Dpi(bare, out));
    const Bytes head = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x02, 0x01,
                        0x00, 0xC8, 0x00, 0xC8, 0x00, 0x00};
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 20), head);
    EXPECT_EQ(Bytes(out.begin() + 20, out.end()), Bytes(bare.begin() + 2, bare.end()));
    EXPECT_EQ(GetJpegFormat(out), 1);
    // Bytes that only look like a JPEG are refused.
    Bytes junk = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x00, 0x00, 0x12, 0x34};
    std::string why;
    EXPECT_FALSE(ChangeJpeg200Dpi(junk, out, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(ChangeJpeg200Dpi(Bytes{'B', 'M', 0, 0}, out));
}

TEST(Density, ExifFilesGetTheirResolutionTagsSetOrInserted)
{
    auto resolution = [](const Bytes& f, uint32_t& x, uint32_t& y, int& unit) {
        const TEXIF_Data d = ReadBack(f);
        TTagValue v;
        x = TagToValue(0x011A, d, v) == 1 ? v.Numer / (v.Denom ? v.Denom : 1) : 0;
        y = TagToValue(0x011B, d, v) == 1 ? v.Numer / (v.Denom ? v.Denom : 1) : 0;
        unit = TagToValue(0x0128, d, v) == 1 ? v.Mot : -1;
    };
    uint32_t x = 0, y = 0;
    int unit = 0;
    Bytes out;
    // With every tag, without the unit, and without any of the three.
    for (int variant = 0; variant < 3; ++variant) {
        XSpec s = RichSpec(variant == 1);
        if (variant == 1)
            s.ifd0.erase(s.ifd0.begin() + 4);
        if (variant == 2)
            s.ifd0.erase(s.ifd0.begin() + 2, s.ifd0.begin() + 5);
        const Bytes src = WrapExif(BuildTiff(s).bytes, SmallJpeg());
        ASSERT_TRUE(ChangeJpeg200Dpi(src, out)) << variant;
        resolution(out, x, y, unit);
        EXPECT_EQ(x, 200u) << variant;
        EXPECT_EQ(y, 200u) << variant;
        EXPECT_EQ(unit, 2) << variant;
        const TEXIF_Data d = ReadBack(out);
        EXPECT_EQ(d.IFD[1].Entries_Count, ReadBack(src).IFD[1].Entries_Count + (variant == 1 ? 1 : variant == 2 ? 3 : 0));
        Bytes thumb;
        EXPECT_TRUE(ThumbToStream(d, thumb));
        EXPECT_EQ(thumb, Thumbnail());
    }
    // A resolution stored as a 16-bit number is not given a second entry.
    XSpec odd = RichSpec(false);
    odd.ifd0[2] = XShort(0x011A, {72});
    std::string why;
    EXPECT_FALSE(ChangeJpeg200Dpi(WrapExif(BuildTiff(odd).bytes, SmallJpeg()), out, &why));
    EXPECT_FALSE(why.empty());
    // Without a thumbnail nothing is written, and the file form says so.
    XSpec noThumb = RichSpec(false);
    noThumb.thumbnail.clear();
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("src.jpg"), WrapExif(BuildTiff(noThumb).bytes, SmallJpeg())));
    EXPECT_FALSE(ChangeJpeg200Dpi(dir.File("src.jpg"), dir.File("out.jpg")));
    EXPECT_EQ(Get_File_Size(dir.File("out.jpg")), -1);
    EXPECT_FALSE(ChangeJpeg200Dpi(dir.File("missing.jpg"), dir.File("out.jpg")));
    ASSERT_TRUE(WriteBytes(dir.File("src.jpg"), RichJpeg(true)));
    EXPECT_TRUE(ChangeJpeg200Dpi(dir.File("src.jpg"), dir.File("out.jpg")));
    resolution(ReadBytes(dir.File("out.jpg")), x, y, unit);
    EXPECT_EQ(x, 200u);
}

TEST(SafeFile, ReplacesWholeOrLeavesTheTargetAlone)
{
    TempDir dir;
    const std::string target = dir.File("RossiFoto.jpg");
    const Bytes first(5000, 7), second(3000, 9);
    ASSERT_TRUE(WriteFileWhole(target, first.data(), first.size()));
    ASSERT_TRUE(WriteFileWhole(target, second.data(), second.size()));
    EXPECT_EQ(ReadBytes(target), second);

    std::string why;
    int err = 0;
    EXPECT_FALSE(WriteFileWhole(dir.File("no/such/folder/x.jpg"), first.data(), first.size(), &why, &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_EQ(why, std::strerror(ENOENT));
    EXPECT_FALSE(WriteFileWhole(dir.path + "/", first.data(), first.size(), &why));

    // A write cut short (here by a file size limit, as a full disk would):
    // the old file stays and no temporary file is left.
    const int code = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &lim);
        int e = 0;
        return WriteFileWhole(target, first.data(), first.size(), nullptr, &e) ? 0 : e;
    });
    EXPECT_EQ(code, EFBIG);
    EXPECT_EQ(ReadBytes(target), second);
    EXPECT_EQ(Listing(dir.path), std::vector<std::string>{"RossiFoto.jpg"});

    // A folder the user may not write to. Tests run as root in CI, and root
    // writes anywhere, so the attempt is made as an unprivileged user.
    ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
    const int denied = InChild([&] {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                               setresuid(65534, 65534, 65534) != 0))
            return 200;
        if (geteuid() != 0)
            chmod(dir.path.c_str(), 0555);
        int e = 0;
        return WriteFileWhole(target, first.data(), first.size(), nullptr, &e) ? 0 : e;
    });
    chmod(dir.path.c_str(), 0700);
    if (denied == 200)
        GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(denied, EACCES);
    EXPECT_EQ(ReadBytes(target), second);
}
