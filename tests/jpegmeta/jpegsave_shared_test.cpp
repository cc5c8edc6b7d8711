// The shared-work encoder against the plain one: the same bytes for every
// picture and quality, or the saved files would change.
#include "jpegmeta/JpegSave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace {

enum class Kind { Noise, Gradient, Photo, Extremes };

// Rows padded past width * 3 with junk the encoders must not read.
TBgrPixels Picture(int w, int h, Kind kind, unsigned seed)
{
    TBgrPixels p;
    p.Width = w;
    p.Height = h;
    p.Stride = size_t(w) * 3 + 5;
    p.Data.assign(p.Stride * size_t(h), 0x5A);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> any(0, 255), small(-6, 6);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* px = p.Data.data() + size_t(y) * p.Stride + 3 * size_t(x);
            for (int c = 0; c < 3; ++c) {
                int v = 0;
                switch (kind) {
                case Kind::Noise:
                    v = any(rng);
                    break;
                case Kind::Gradient:
                    v = (x * 255 / std::max(1, w - 1) * (c + 1) + y * 255 / std::max(1, h - 1) * (3 - c)) / 4;
                    break;
                case Kind::Photo:
                    v = int(128 + 90 * std::sin(x * 0.11 + c) * std::cos(y * 0.07 - c)) + small(rng);
                    break;
                case Kind::Extremes: // saturated colours and hard edges, the DCT's widest outputs
                    v = ((x / 3 + y / 5 + c) & 1) ? 255 : 0;
                    break;
                }
                px[c] = uint8_t(std::clamp(v, 0, 255));
            }
        }
    return p;
}

} // namespace

TEST(JpegPrepared, EncodesExactlyAsThePlainEncoderForEverySizeAndQuality)
{
    struct Size {
        int w, h;
    };
    // Whole MCUs, odd widths and heights, less than one block, one row or column.
    const Size sizes[] = {{1, 1}, {2, 2}, {17, 9}, {8, 8}, {16, 16}, {15, 33}, {33, 17}, {40, 1},
                          {1, 40}, {31, 31}, {236, 47}, {260, 315}, {259, 314}};
    TJpegEncoder plain;
    TJpegPrepared shared;
    unsigned seed = 1;
    for (const Size& s : sizes)
        for (Kind kind : {Kind::Noise, Kind::Gradient, Kind::Photo, Kind::Extremes}) {
            const TBgrPixels pic = Picture(s.w, s.h, kind, seed++);
            ASSERT_TRUE(shared.Prepare(pic.View())) << shared.LastError();
            const bool big = s.w * s.h > 5000;
            for (int q = 100; q >= 1; q -= big ? 5 : 1) {
                std::vector<uint8_t> want, got;
                ASSERT_TRUE(plain.Encode(pic.View(), q, want));
                ASSERT_TRUE(shared.Encode(q, got)) << shared.LastError();
                ASSERT_EQ(got, want) << s.w << "x" << s.h << " kind " << int(kind) << " quality " << q;
            }
        }
}

TEST(JpegPrepared, RefusesWhatThePlainEncoderRefuses)
{
    TJpegPrepared shared;
    std::vector<uint8_t> out;
    EXPECT_FALSE(shared.Encode(90, out)); // nothing prepared yet
    const TBgrPixels pic = Picture(20, 10, Kind::Photo, 3);
    EXPECT_FALSE(shared.Prepare(TBgrView{pic.Data.data(), 0, 10, pic.Stride}));
    EXPECT_FALSE(shared.Prepare(TBgrView{pic.Data.data(), 20, 10, 20 * 3 - 1}));
    EXPECT_FALSE(shared.Prepare(TBgrView{nullptr, 20, 10, pic.Stride}));
    EXPECT_FALSE(shared.Encode(90, out)); // a refused picture leaves nothing prepared
    ASSERT_TRUE(shared.Prepare(pic.View()));
    EXPECT_FALSE(shared.Encode(0, out));
    EXPECT_FALSE(shared.Encode(101, out));
    EXPECT_TRUE(shared.Encode(1, out));
}


TEST(JpegPrepared, GivesTheDecodersPixelsOfItsLastFile)
{
    struct Size {
        int w, h;
    };
    const Size sizes[] = {{5, 1}, {6, 7}, {17, 9}, {16, 16}, {33, 17}, {31, 31}, {236, 47}, {260, 315}, {259, 314}};
    TJpegPrepared shared;
    unsigned seed = 100;
    int shortcuts = 0;
    for (const Size& s : sizes)
        for (Kind kind : {Kind::Noise, Kind::Gradient, Kind::Photo, Kind::Extremes}) {
            const TBgrPixels pic = Picture(s.w, s.h, kind, seed++);
            ASSERT_TRUE(shared.Prepare(pic.View()));
            for (int q = 100; q >= 1; q -= (s.w * s.h > 5000 ? 9 : 3)) {
                std::vector<uint8_t> file;
                ASSERT_TRUE(shared.Encode(q, file));
                TBgrPixels want, got;
                ASSERT_TRUE(DecodeJpeg(file.data(), file.size(), want));
                if (!shared.DecodeLast(file.data(), file.size(), IntoBgrPixels, &got))
                    continue; // not available here; the caller decodes
                ++shortcuts;
                ASSERT_EQ(got.Data, want.Data) << s.w << "x" << s.h << " kind " << int(kind) << " quality " << q;
            }
        }
#if defined(__SSE2__)
    EXPECT_GT(shortcuts, 0);
#endif
}

TEST(JpegPrepared, AnswersOnlyForItsOwnLastFile)
{
    TJpegPrepared shared;
    const TBgrPixels pic = Picture(40, 30, Kind::Photo, 9);
    ASSERT_TRUE(shared.Prepare(pic.View()));
    std::vector<uint8_t> q80, q70;
    ASSERT_TRUE(shared.Encode(80, q80));
    ASSERT_TRUE(shared.Encode(70, q70));
    TBgrPixels px;
    EXPECT_FALSE(shared.DecodeLast(q80.data(), q80.size(), IntoBgrPixels, &px)); // an earlier file
    EXPECT_TRUE(px.Data.empty());
    std::vector<uint8_t> marked;
    ASSERT_TRUE(ChangeJpeg200Dpi(q70, marked));
    ASSERT_EQ(marked.size(), q70.size());
#if defined(__SSE2__)
    EXPECT_TRUE(shared.DecodeLast(marked.data(), marked.size(), IntoBgrPixels, &px)); // density alone differs
#endif
    marked[marked.size() / 2] ^= 1;
    EXPECT_FALSE(shared.DecodeLast(marked.data(), marked.size(), IntoBgrPixels, &px));
    ASSERT_TRUE(shared.Prepare(pic.View())); // a new picture: nothing encoded yet
    EXPECT_FALSE(shared.DecodeLast(q70.data(), q70.size(), IntoBgrPixels, &px));
}

TEST(JpegPrepared, PassesOverOnlyQualitiesThatCannotFit)
{
    TJpegEncoder plain;
    TJpegPrepared shared;
    int passedOver = 0;
    for (Kind kind : {Kind::Noise, Kind::Photo, Kind::Extremes}) {
        const TBgrPixels pic = Picture(120, 90, kind, 40 + unsigned(kind));
        ASSERT_TRUE(shared.Prepare(pic.View()));
        for (int q = 100; q >= 5; q -= 5) {
            std::vector<uint8_t> want, got;
            ASSERT_TRUE(plain.Encode(pic.View(), q, want));
            // A limit the file meets, even exactly, never passes it over.
            for (size_t limit : {want.size(), want.size() + 1}) {
                ASSERT_TRUE(shared.EncodeWithin(q, limit, got));
                ASSERT_EQ(got, want) << "kind " << int(kind) << " quality " << q << " limit " << limit;
            }
            ASSERT_TRUE(shared.EncodeWithin(q, want.size() / 3, got));
            if (got.empty())
                ++passedOver;
            else
                EXPECT_EQ(got, want);
        }
    }
    EXPECT_GT(passedOver, 0);
}

// Every quality is the first to fit for some limit, so the files kept come
// from both of the loop's encoders; the slot's pixels must match either.
TEST(JpegPrepared, SizeLimitedSaveKeepsThePlainLoopsFile)
{
    TJpegEncoder plain;
    for (Kind kind : {Kind::Noise, Kind::Photo, Kind::Gradient}) {
        const TBgrPixels pic = Picture(150, 110, kind, 70 + unsigned(kind));
        std::vector<std::vector<uint8_t>> files(21); // by attempt: quality 105 - 5 * attempt
        for (int a = 1; a <= 20; ++a)
            ASSERT_TRUE(plain.Encode(pic.View(), 105 - 5 * a, files[size_t(a)]));
        std::vector<int> limits = {-1, 0, int(files[20].size()) - 1, 1 << 30};
        for (int a = 1; a <= 20; ++a)
            limits.push_back(int(files[size_t(a)].size()));
        for (int limit : limits) {
            // The plain loop: every quality encoded in full until one fits.
            int attempt = 1;
            while (attempt < 20 && !(limit >= 0 && files[size_t(attempt)].size() <= size_t(limit)))
                ++attempt;
            const std::vector<uint8_t>& want = files[size_t(attempt)];
            TJpegCompressResult r;
            ASSERT_TRUE(SaveJpegCompress(pic.View(), limit, r));
            EXPECT_EQ(r.Attempts, attempt) << "kind " << int(kind) << " limit " << limit;
            EXPECT_EQ(r.Quality, 105 - 5 * attempt);
            EXPECT_EQ(r.Fits, limit >= 0 && want.size() <= size_t(limit));
            ASSERT_EQ(r.Bytes, want) << "kind " << int(kind) << " limit " << limit;
#if defined(__SSE2__)
            TBgrPixels decoded, fromEncoder;
            ASSERT_TRUE(DecodeJpeg(want.data(), want.size(), decoded));
            ASSERT_TRUE(DecodeLastSaved(r.Bytes.data(), r.Bytes.size(), IntoBgrPixels, &fromEncoder))
                << "attempt " << attempt;
            EXPECT_EQ(fromEncoder.Data, decoded.Data) << "attempt " << attempt;
#endif
        }
    }
}
