#pragma once
// Walk over the marker segments of a JPEG header, from after SOI up to the
// start of the scan. Shared by the EXIF reader and writer; never reads past
// the buffer and always advances, so a length of 0 or 1 cannot stall it.

#include <cstddef>
#include <cstdint>
#include <vector>

struct TJpegSegment {
    size_t Start = 0; // first byte, fill bytes (FF FF ...) before the marker included
    size_t End = 0;   // one past the last byte
    uint8_t Code = 0; // marker code (E0 for APP0, E1 for APP1, ...)
    bool HasLength = false;
    // Content after the 2-byte length field.
    size_t DataPos() const { return HasLength ? End - DataLen() : End; }
    size_t DataLen() const { return HasLength ? DataLength : 0; }
    size_t DataLength = 0;
};

enum class TJpegWalkEnd {
    Scan,      // reached SOS or EOI: Stop is where that marker (with its fill) begins
    End,       // ran out of data between segments
    BadByte,   // a byte other than FF where a marker should be
    BadLength, // a length below 2 or a segment running past the end
};

struct TJpegWalk {
    std::vector<TJpegSegment> Segs;
    TJpegWalkEnd How = TJpegWalkEnd::End;
    size_t Stop = 0;
};

// Expects data to start with SOI; walks from offset 2.
TJpegWalk WalkJpegHeader(const uint8_t* data, size_t size);

bool IsExifApp1(const uint8_t* data, const TJpegSegment& seg);
bool IsJfifApp0(const uint8_t* data, const TJpegSegment& seg);
