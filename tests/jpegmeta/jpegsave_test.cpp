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

TEST(JpegCodec, KeepsChannelOrderAndStrideAndRefusesCutOrHugeInput)
{
    TBgrPixels red{40, 24, 40 * 3 + 8, {}}; // padded rows, the padding full of junk
    red.Data.assign(red.Stride * 24, 0xAB);
    TBgrPixels tight{40, 24, 120, {}};
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 40; ++x)
            for (int c = 0; c < 3; ++c) {
                red.Data[size_t(y) * red.Stride + 3 * size_t(x) + size_t(c)] = c == 2 ? 255 : 0;
                tight.Data.push_back(c == 2 ? 255 : 0);
            }
    Bytes jpeg, jpeg2;
    ASSERT_TRUE(EncodeJpeg(red.View(), 100, jpeg));
    ASSERT_TRUE(EncodeJpeg(tight.View(), 100, jpeg2));
    EXPECT_EQ(jpeg2, jpeg);
    EXPECT_EQ(GetJpegFormat(jpeg), 1);
    TBgrPixels back;
    ASSERT_TRUE(DecodeJpeg(jpeg.data(), jpeg.size(), back));
    ASSERT_EQ(back.Width * 1000 + back.Height, 40024);
    const uint8_t* mid = back.Data.data() + 12 * back.Stride + 3 * 20;
    EXPECT_TRUE(mid[0] <= 3 && mid[1] <= 3 && mid[2] >= 250) << int(mid[0]) << " " << int(mid[2]);
    EXPECT_FALSE(EncodeJpeg(red.View(), 0, jpeg2));
    EXPECT_FALSE(EncodeJpeg(red.View(), 101, jpeg2));

    EXPECT_FALSE(DecodeJpeg(jpeg.data(), jpeg.size() - 40, back));
    EXPECT_TRUE(back.Data.empty());
    // A frame header of 60000 x 60000 over the few bytes of a 40 x 24 picture.
    Bytes huge = jpeg;
    const uint8_t sofMarker[2] = {0xFF, 0xC0};
    const size_t sof = size_t(std::search(huge.begin(), huge.end(), sofMarker, sofMarker + 2) - huge.begin());
    ASSERT_LT(sof + 9, huge.size());
    huge[sof + 5] = huge[sof + 7] = 0xEA;
    huge[sof + 6] = huge[sof + 8] = 0x60;
    std::string why;
    EXPECT_FALSE(DecodeJpeg(huge.data(), huge.size(), back, uint64_t(1) << 26, &why));
    EXPECT_EQ(why, "picture too large");
}

TEST(JpegCompress, TakesTheFirstQualityThatFitsAndNeverLeavesAnOverLimitFile)
{
    const TBgrPixels photo = PhotoLike(260, 315);
    TJpegCompressResult r;
    ASSERT_TRUE(SaveJpegCompress(photo.View(), 10'000'000, r));
    EXPECT_EQ(r.Quality * 100 + r.Attempts, 100 * 100 + 1);
    ASSERT_TRUE(SaveJpegCompress(photo.View(), 500, r));
    EXPECT_EQ(r.Quality * 100 + r.Attempts, 5 * 100 + 20);
    EXPECT_FALSE(r.Fits);

    // A limit in between, against encodes made one by one.
    std::vector<Bytes> each;
    for (int q = 100; q >= 5; q -= 5) {
        each.emplace_back();
        ASSERT_TRUE(EncodeJpeg(photo.View(), q, each.back()));
    }
    const size_t limit = each[4].size(); // quality 80's
    const size_t first = size_t(std::find_if(each.begin(), each.end(), [&](const Bytes& b) { return b.size() <= limit; }) - each.begin());
    ASSERT_TRUE(SaveJpegCompress(photo.View(), int(limit), r));
    EXPECT_EQ(r.Quality, 100 - 5 * int(first));
    EXPECT_EQ(r.Attempts, int(first) + 1);
    EXPECT_EQ(r.Bytes, each[first]);

    // File to file: from the intermediate JPEG, whose decoded pixels are encoded.
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("Foto.jpg"), each[2]));
    ASSERT_TRUE(WriteBytes(dir.File("old.jpg"), {1, 2, 3}));
    std::string why;
    EXPECT_FALSE(SaveJpegCompress(dir.File("Foto.jpg"), dir.File("old.jpg"), 400, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(ReadBytes(dir.File("old.jpg")), (Bytes{1, 2, 3}));
    ASSERT_TRUE(SaveJpegCompress(dir.File("Foto.jpg"), dir.File("RossiFoto.jpg"), int(limit)));
    TBgrPixels decoded;
    ASSERT_TRUE(DecodeJpeg(each[2].data(), each[2].size(), decoded));
    ASSERT_TRUE(SaveJpegCompress(decoded.View(), int(limit), r));
    EXPECT_EQ(ReadBytes(dir.File("RossiFoto.jpg")), r.Bytes);
    EXPECT_EQ(Get_File_Size(dir.File("RossiFoto.jpg")), int32_t(r.Bytes.size()));
    EXPECT_EQ(Get_File_Size(dir.File("none.jpg")), -1);
    EXPECT_EQ(Listing(dir.path), (std::vector<std::string>{"Foto.jpg", "RossiFoto.jpg", "old.jpg"}));
}

TEST(Density, JfifAndBareJpegsGet200DpiWithEveryOtherByteKept)
{
    Bytes src = SmallJpeg(), out;
    for (const Bytes& density : {Bytes{1, 0, 72, 0, 72}, Bytes{0, 0, 1, 0, 1}}) {
        std::copy(density.begin(), density.end(), src.begin() + 13);
        ASSERT_TRUE(ChangeJpeg200Dpi(src, out));
        Bytes expected = src;
        const Bytes d200 = {1, 0x00, 0xC8, 0x00, 0xC8};
        std::copy(d200.begin(), d200.end(), expected.begin() + 13);
        EXPECT_EQ(out, expected);
    }
    // Neither JFIF nor EXIF first: a JFIF APP0 of 200 dpi goes in front.
    Bytes bare = {0xFF, 0xD8};
    const Bytes rest = StripLeadingApp0(src);
    bare.insert(bare.end(), rest.begin(), rest.end());
    ASSERT_TRUE(ChangeJpeg200Dpi(bare, out));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 20),
              (Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 2, 1, 0, 0xC8, 0, 0xC8, 0, 0}));
    EXPECT_EQ(Bytes(out.begin() + 20, out.end()), rest);
    // Bytes that only look like a JPEG, and no JPEG at all.
    std::string why;
    EXPECT_FALSE(ChangeJpeg200Dpi(Bytes{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x00, 0x00, 0x12, 0x34}, out, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(ChangeJpeg200Dpi(Bytes{'B', 'M', 0, 0}, out));
}

TEST(Density, ExifFilesGetTheirResolutionTagsSetOrInserted)
{
    Bytes out;
    // With every tag, without the unit, and without any of the three.
    for (int variant = 0; variant < 3; ++variant) {
        XSpec s = RichSpec(variant == 1);
        s.ifd0.erase(s.ifd0.begin() + (variant == 2 ? 2 : 4), s.ifd0.begin() + (variant ? 5 : 4));
        const Bytes src = WrapExif(BuildTiff(s).bytes, SmallJpeg());
        ASSERT_TRUE(ChangeJpeg200Dpi(src, out)) << variant;
        const TEXIF_Data d = ReadBack(out);
        TTagValue x, y, unit;
        ASSERT_EQ(TagToValue(0x011A, d, x) + TagToValue(0x011B, d, y) + TagToValue(0x0128, d, unit), 3);
        EXPECT_EQ(std::vector<uint32_t>({x.Numer, x.Denom, y.Numer, y.Denom, unit.Mot}),
                  std::vector<uint32_t>({200, 1, 200, 1, 2}));
        EXPECT_EQ(d.IFD[1].Entries_Count, ReadBack(src).IFD[1].Entries_Count + (variant == 1 ? 1 : variant * 3 / 2));
        Bytes thumb;
        EXPECT_TRUE(ThumbToStream(d, thumb) && thumb == Thumbnail());
    }
    // A resolution stored as a 16-bit number is not given a second entry.
    XSpec odd = RichSpec(false);
    odd.ifd0[2] = XShort(0x011A, {72});
    EXPECT_FALSE(ChangeJpeg200Dpi(WrapExif(BuildTiff(odd).bytes, SmallJpeg()), out));
    // Without a thumbnail nothing is written, and the file form says so.
    XSpec noThumb = RichSpec(false);
    noThumb.thumbnail.clear();
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("src.jpg"), WrapExif(BuildTiff(noThumb).bytes, SmallJpeg())));
    EXPECT_FALSE(ChangeJpeg200Dpi(dir.File("src.jpg"), dir.File("out.jpg")));
    EXPECT_FALSE(ChangeJpeg200Dpi(dir.File("missing.jpg"), dir.File("out.jpg")));
    EXPECT_EQ(Get_File_Size(dir.File("out.jpg")), -1);
}

// Scratch copies written behind the caller's back: in the order posted, the
// last one wins, a folder that is missing costs nothing but that copy, and
// FinishFileWork really waits for all of them.
TEST(SafeFile, LaterWritesLandInOrder)
{
    TempDir dir;
    const std::string scratch = dir.File("Foto.jpg");
    for (int i = 1; i <= 20; ++i)
        WriteFileWholeLater(scratch, Bytes(size_t(1000 * i), uint8_t(i)));
    WriteFileWholeLater(dir.File("no/folder/Firma.jpg"), Bytes(10, 1));
    const Bytes out(4000, 3);
    ASSERT_TRUE(WriteFileWhole(dir.File("RossiFoto.jpg"), out.data(), out.size()));
    FinishFileWork();
    EXPECT_EQ(ReadBytes(scratch), Bytes(20000, 20));
    EXPECT_EQ(ReadBytes(dir.File("RossiFoto.jpg")), out);
    EXPECT_EQ(Listing(dir.path), (std::vector<std::string>{"Foto.jpg", "RossiFoto.jpg"}));
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
    EXPECT_FALSE(WriteFileWhole(dir.File("no/folder/x.jpg"), first.data(), first.size(), &why, &err));
    EXPECT_EQ(err, ENOENT);
    EXPECT_EQ(why, std::strerror(ENOENT));

    // A write cut short (by a file size limit here, as by a full disk): the
    // old file stays and no temporary file is left.
    EXPECT_EQ(InChild([&] {
                  signal(SIGXFSZ, SIG_IGN);
                  rlimit lim{1000, 1000};
                  setrlimit(RLIMIT_FSIZE, &lim);
                  int e = 0;
                  return WriteFileWhole(target, first.data(), first.size(), nullptr, &e) ? 0 : e;
              }),
              EFBIG);
    EXPECT_EQ(ReadBytes(target), second);
    EXPECT_EQ(Listing(dir.path), std::vector<std::string>{"RossiFoto.jpg"});

    // A folder the user may not write to; CI runs as root, who writes
    // anywhere, so the attempt is made as an unprivileged user.
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
