#pragma once
// Little helpers shared by the reader and the writer of the EXIF block.

#include <cstdint>

class TEXIF_Data;

// The 16- or 32-bit value of the first entry with the tag in one slot; -1 when absent.
int64_t TagNumberInSlot(const TEXIF_Data& d, unsigned slot, uint16_t tag);

inline uint16_t LoadBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint16_t LoadLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t LoadLE32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void StoreLE16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void StoreLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline void StoreLE64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
