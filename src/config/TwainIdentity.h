#pragma once
// The TWAIN identity record (TW_IDENTITY) and the types it is made of, laid out
// exactly as the TWAIN standard defines them: packed on 2-byte boundaries,
// 156 bytes, with 32-bit integers also on 64-bit Linux (the standard's own 1.9
// header says "long", which would be 8 bytes here). The options window keeps the
// chosen scanner's identity in this record; the acquisition code shares it.

#include <cstddef>
#include <cstdint>

using TW_INT16 = int16_t;
using TW_UINT16 = uint16_t;
using TW_INT32 = int32_t;
using TW_UINT32 = uint32_t;
using TW_STR32 = char[34]; // text of at most 33 bytes plus NUL, or 34 bytes without NUL

#pragma pack(push, 2)
struct TW_VERSION {
    TW_UINT16 MajorNum;
    TW_UINT16 MinorNum;
    TW_UINT16 Language;
    TW_UINT16 Country;
    TW_STR32 Info;
};

struct TW_IDENTITY {
    TW_UINT32 Id;
    TW_VERSION Version;
    TW_UINT16 ProtocolMajor;
    TW_UINT16 ProtocolMinor;
    TW_UINT32 SupportedGroups;
    TW_STR32 Manufacturer;
    TW_STR32 ProductFamily;
    TW_STR32 ProductName;
};
#pragma pack(pop)

using pTW_IDENTITY = TW_IDENTITY*;

static_assert(sizeof(TW_VERSION) == 42, "TW_VERSION must match the TWAIN layout");
static_assert(sizeof(TW_IDENTITY) == 156, "TW_IDENTITY must match the TWAIN layout");
static_assert(offsetof(TW_IDENTITY, SupportedGroups) == 50, "TW_IDENTITY must match the TWAIN layout");
static_assert(offsetof(TW_IDENTITY, ProductName) == 122, "TW_IDENTITY must match the TWAIN layout");
