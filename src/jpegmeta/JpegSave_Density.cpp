// The falling-quality loop, the 200 dots-per-inch marking and the size query.
#include "jpegmeta/JpegSave.h"
#include "jpegmeta/SafeFile.h"
#include "jpegmeta/WorkerThread.h"
#include "jpegmeta/dyExif.h"

#include <cstdint>
#include <sys/stat.h>

namespace {

void SetReason(std::string* reason, const std::string& text)
{
    if (reason)
        *reason = text;
}

// The tags of a density of 200 dots per inch.
TTagValue Rational200()
{
    TTagValue v;
    v.Ft = ftRational;
    v.Numer = 200;
    v.Denom = 1;
    return v;
}

TTagValue UnitInches()
{
    TTagValue v;
    v.Ft = ftShort;
    v.Mot = 2;
    return v;
}

// Sets a tag of IFD0, inserting it when the directory lacks it. A tag that
// exists with another type is not duplicated: that is a failure.
int SetOrInsert(uint16_t tag, const TTagValue& v, TEXIF_Data& rec)
{
    const int r = ModifyTag(tag, v, 1, rec);
    return r == -1 ? InsertTag(tag, v, 1, rec) : r;
}

bool ExifTo200Dpi(const std::vector<uint8_t>& src, std::vector<uint8_t>& dst, std::string* reason)
{
    TEXIF_Data rec;
    int code = 0;
    if (!GetExifInfos(src, rec, code)) {
        SetReason(reason, "blocco EXIF non leggibile (codice " + std::to_string(code) + ")");
        return false;
    }
    int r = SetOrInsert(tagXResolution, Rational200(), rec);
    if (r >= 0)
        r = SetOrInsert(tagResolutionUnit, UnitInches(), rec);
    if (r >= 0)
        r = SetOrInsert(tagYResolution, Rational200(), rec);
    if (r < 0) {
        SetReason(reason, "tag di risoluzione EXIF di tipo inatteso");
        return false;
    }
    if (!WriteToStream(rec, dst, false)) {
        SetReason(reason, "impossibile ricostruire il blocco EXIF");
        return false;
    }
    return true;
}

// The loop with a full encode per quality: for a picture the shared-work
// encoder could not take on (it refuses what the plain encoder refuses, but
// also fails without memory for its buffers or without TurboJPEG).
bool PlainJpegCompress(const TBgrView& src, int aMaxSize, TJpegCompressResult& result)
{
    TJpegEncoder& enc = ThreadJpegEncoder();
    for (int q = 100, attempt = 1; attempt <= 20; q -= 5, ++attempt) {
        if (!enc.Encode(src, q, result.Bytes)) {
            result = TJpegCompressResult{};
            return false;
        }
        result.Quality = q;
        result.Attempts = attempt;
        if (aMaxSize >= 0 && result.Bytes.size() <= size_t(aMaxSize)) {
            result.Fits = true;
            break;
        }
    }
    return true;
}

} // namespace

int32_t Get_File_Size(const std::string& name)
{
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return -1;
    return int32_t(uint32_t(uint64_t(st.st_size) & 0xFFFFFFFFu));
}

namespace {

// The encoder the background worker uses for the second quality of each
// pair, on behalf of the calling thread (which waits for it before going on).
TJpegPrepared& SecondEncoder()
{
    thread_local TJpegPrepared second;
    return second;
}

// Attempt n (1..20) encodes quality 105 - 5n. A quality whose coefficients
// alone prove it over the limit gets no file; quality 5 always does: without
// a fitting quality it is kept.
bool EncodeAttempt(TJpegPrepared& enc, int attempt, int aMaxSize, std::vector<uint8_t>& bytes)
{
    const size_t within = attempt == 20 ? SIZE_MAX : aMaxSize < 0 ? 0 : size_t(aMaxSize);
    return enc.EncodeWithin(105 - 5 * attempt, within, bytes);
}

} // namespace

bool DecodeLastSaved(const uint8_t* data, size_t size, TBgrRowsFor rows, void* context)
{
    return ThreadJpegPrepared().DecodeLast(data, size, rows, context) ||
           SecondEncoder().DecodeLast(data, size, rows, context);
}

bool SaveJpegCompress(const TBgrView& src, int aMaxSize, TJpegCompressResult& result)
{
    result = TJpegCompressResult{};
    // The worker's help (a second encoder, then the file) is wanted within a
    // fraction of a millisecond: it starts waking while the picture is prepared.
    BackgroundWorker().WakeUp();
    TJpegPrepared& enc = ThreadJpegPrepared();
    if (!enc.Prepare(src))
        return PlainJpegCompress(src, aMaxSize, result);
    auto fail = [&result] {
        result = TJpegCompressResult{};
        return false;
    };
    // Takes attempt n's file as the one kept so far; true when it fits.
    auto keep = [&result, aMaxSize](std::vector<uint8_t>& bytes, int n) {
        result.Bytes = std::move(bytes);
        result.Quality = 105 - 5 * n;
        result.Attempts = n;
        result.Fits = !result.Bytes.empty() && aMaxSize >= 0 && result.Bytes.size() <= size_t(aMaxSize);
        return result.Fits;
    };
    // Quality 100 is tried alone: most signatures and plain pictures fit at
    // once. Below it the qualities go in pairs, the lower one encoded at the
    // same time by a second encoder on the background worker from the same
    // coefficients; the results are still taken in falling order, so the file
    // kept is the one the plain loop would keep, after about half the wait.
    TJpegPrepared& second = SecondEncoder();
    bool sharing = false;
    for (int attempt = 1; attempt <= 20;) {
        const bool pair = attempt > 1 && attempt < 20 && (sharing || (sharing = second.ShareFrom(enc)));
        std::vector<uint8_t> upper, lower;
        std::future<bool> lowerDone;
        if (pair)
            lowerDone = BackgroundWorker().Run(
                [&second, &lower, attempt, aMaxSize] { return EncodeAttempt(second, attempt + 1, aMaxSize, lower); });
        bool made = false;
        try {
            made = EncodeAttempt(enc, attempt, aMaxSize, upper);
        } catch (...) {
            if (pair)
                lowerDone.wait(); // `lower` and `second` are in use until then
            throw;
        }
        const bool lowerMade = pair && lowerDone.get();
        if (!made)
            return fail();
        if (keep(upper, attempt))
            break;
        if (pair) {
            if (!lowerMade)
                return fail();
            if (keep(lower, attempt + 1))
                break;
        }
        attempt += pair ? 2 : 1;
    }
    return true;
}

bool SaveJpegCompress(const uint8_t* jpeg, size_t size, int aMaxSize, TJpegCompressResult& result)
{
    result = TJpegCompressResult{};
    TBgrPixels pixels;
    return DecodeJpeg(jpeg, size, pixels) && SaveJpegCompress(pixels.View(), aMaxSize, result);
}

bool SaveJpegCompress(const std::string& nSrcFile, const std::string& nDstFile, int aMaxSize, std::string* reason)
{
    std::vector<uint8_t> src;
    if (!LoadFileBytes(nSrcFile, src, reason))
        return false;
    TJpegCompressResult r;
    if (!SaveJpegCompress(src.data(), src.size(), aMaxSize, r)) {
        SetReason(reason, "immagine JPEG non leggibile");
        return false;
    }
    if (!r.Fits) {
        SetReason(reason, "anche con qualita' 5 il file supera " + std::to_string(aMaxSize) + " byte");
        return false;
    }
    return WriteFileWhole(nDstFile, r.Bytes.data(), r.Bytes.size(), reason);
}

bool ChangeJpeg200Dpi(const std::vector<uint8_t>& src, std::vector<uint8_t>& dst, std::string* reason)
{
    dst.clear();
    switch (GetJpegFormat(src)) {
    case 1:
        // The JFIF APP0 right after SOI: units at 13, X and Y density at 14-17,
        // big-endian; GetJpegFormat has checked the segment is that long.
        dst = src;
        dst[13] = 1;
        dst[14] = 0x00;
        dst[15] = 0xC8;
        dst[16] = 0x00;
        dst[17] = 0xC8;
        return true;
    case 0: {
        // Only a picture libjpeg accepts gets a JFIF segment put in front.
        TBgrPixels probe;
        std::string why;
        if (!DecodeJpeg(src.data(), src.size(), probe, uint64_t(1) << 26, &why)) {
            SetReason(reason, "immagine JPEG non leggibile: " + why);
            return false;
        }
        static const uint8_t jfif[20] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F',
                                         0x00, 0x01, 0x02, 0x01, 0x00, 0xC8, 0x00, 0xC8, 0x00, 0x00};
        dst.assign(jfif, jfif + 20);
        dst.insert(dst.end(), src.begin() + 2, src.end());
        return true;
    }
    case 2:
        return ExifTo200Dpi(src, dst, reason);
    default:
        SetReason(reason, "non e' un file JPEG valido");
        return false;
    }
}

bool ChangeJpeg200Dpi(const std::string& nSrcFile, const std::string& nDstFile, std::string* reason)
{
    std::vector<uint8_t> src, dst;
    if (!LoadFileBytes(nSrcFile, src, reason))
        return false;
    return ChangeJpeg200Dpi(src, dst, reason) && WriteFileWhole(nDstFile, dst.data(), dst.size(), reason);
}
