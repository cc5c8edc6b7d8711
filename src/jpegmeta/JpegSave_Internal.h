#pragma once
// libjpeg plumbing shared by the codec and the shared-work encoder.

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <jpeglib.h>
#include <vector>

struct TJpegErrorMgr {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// libjpeg's errors end in a longjmp to `jump` with the text in `message`;
// warnings are counted (num_warnings), not printed.
void InitJpegErrors(TJpegErrorMgr& e);

// A destination that keeps the whole output in a growing vector.
struct TJpegMemoryDest {
    jpeg_destination_mgr pub{};
    std::vector<uint8_t> buf = std::vector<uint8_t>(size_t(1) << 16);
    size_t used = 0;
    // Installs this as cinfo's destination.
    void Attach(jpeg_compress_struct& cinfo);
};
