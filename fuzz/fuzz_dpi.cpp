// Marking a JPEG with 200 dots per inch, from any bytes.
//
// Properties checked besides memory safety: a marking reported as done really
// says 200 dots per inch (in the JFIF segment or in the EXIF resolution tags),
// keeps the picture's data after the header byte for byte, and marking the
// result again gives the same bytes.

#include "FuzzSupport.h"

#include <algorithm>

#include "jpegmeta/JpegSave.h"
#include "jpegmeta/JpegSegments.h"
#include "jpegmeta/dyExif.h"

namespace {

bool Rational200(const TEXIF_Data& d, uint16_t tag)
{
    TTagValue v;
    return TagToValue(tag, d, v) == 1 && v.Ft == ftRational && v.Numer == 200 && v.Denom == 1;
}

void CheckMarked(const std::vector<uint8_t>& dst)
{
    switch (GetJpegFormat(dst)) {
    case 1:
        FUZZ_CHECK(dst[13] == 1 && dst[14] == 0 && dst[15] == 0xC8 && dst[16] == 0 && dst[17] == 0xC8);
        break;
    case 2: {
        TEXIF_Data d;
        int code = 0;
        FUZZ_CHECK(GetExifInfos(dst, d, code));
        FUZZ_CHECK(Rational200(d, tagXResolution) && Rational200(d, tagYResolution));
        TTagValue unit;
        FUZZ_CHECK(TagToValue(tagResolutionUnit, d, unit) == 1 && unit.Ft == ftShort && unit.Mot == 2);
        break;
    }
    default:
        FUZZ_CHECK(!"a marked file is neither JFIF nor EXIF");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> src(data, data + size);
    std::vector<uint8_t> dst;
    std::string reason;
    if (!ChangeJpeg200Dpi(src, dst, &reason)) {
        FUZZ_CHECK(!reason.empty());
        return 0;
    }
    CheckMarked(dst);
    // The picture's data follows the header untouched.
    FUZZ_CHECK(dst.size() >= 4 && dst[0] == 0xFF && dst[1] == 0xD8);
    const TJpegWalk walk = WalkJpegHeader(data, size);
    if (walk.How == TJpegWalkEnd::Scan) {
        const size_t tail = size - walk.Stop;
        FUZZ_CHECK(dst.size() >= tail && std::equal(data + walk.Stop, data + size, dst.end() - std::ptrdiff_t(tail)));
    }

    std::vector<uint8_t> again;
    FUZZ_CHECK(ChangeJpeg200Dpi(dst, again, &reason));
    CheckMarked(again);
    FUZZ_CHECK(again == dst);
    return 0;
}
