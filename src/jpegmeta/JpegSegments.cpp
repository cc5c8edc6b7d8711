#include "jpegmeta/JpegSegments.h"

#include <cstring>

TJpegWalk WalkJpegHeader(const uint8_t* data, size_t size)
{
    TJpegWalk w;
    size_t pos = 2;
    for (;;) {
        const size_t start = pos;
        w.Stop = start;
        if (pos >= size) {
            w.How = TJpegWalkEnd::End;
            return w;
        }
        if (data[pos] != 0xFF) {
            w.How = TJpegWalkEnd::BadByte;
            return w;
        }
        // Any number of FF fill bytes may precede a marker code.
        while (pos < size && data[pos] == 0xFF)
            ++pos;
        if (pos >= size) {
            w.How = TJpegWalkEnd::End;
            return w;
        }
        const uint8_t code = data[pos++];
        if (code == 0x00 || code == 0xD8) {
            w.How = TJpegWalkEnd::BadByte;
            return w;
        }
        if (code == 0xDA || code == 0xD9) {
            w.How = TJpegWalkEnd::Scan;
            return w;
        }
        TJpegSegment seg;
        seg.Start = start;
        seg.Code = code;
        if ((code >= 0xD0 && code <= 0xD7) || code == 0x01) {
            seg.End = pos; // markers without a length
            w.Segs.push_back(seg);
            continue;
        }
        if (size - pos < 2) {
            w.How = TJpegWalkEnd::BadLength;
            return w;
        }
        const size_t len = (size_t(data[pos]) << 8) | data[pos + 1];
        if (len < 2 || len > size - pos) {
            w.How = TJpegWalkEnd::BadLength;
            return w;
        }
        seg.HasLength = true;
        seg.DataLength = len - 2;
        seg.End = pos + len;
        w.Segs.push_back(seg);
        pos = seg.End;
    }
}

bool IsExifApp1(const uint8_t* data, const TJpegSegment& seg)
{
    return seg.Code == 0xE1 && seg.DataLen() >= 6 && std::memcmp(data + seg.DataPos(), "Exif\0\0", 6) == 0;
}

bool IsJfifApp0(const uint8_t* data, const TJpegSegment& seg)
{
    return seg.Code == 0xE0 && seg.DataLen() >= 5 && std::memcmp(data + seg.DataPos(), "JFIF\0", 5) == 0;
}
