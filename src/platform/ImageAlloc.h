#pragma once
// Allocation of large 24-bit pictures.
//
// A fresh 100 MB buffer costs tens of milliseconds in page faults alone; asking
// the kernel for transparent huge pages removes most of that. Every full-size
// picture of the program (decoded files, the view's copies, rotations) is made here.

#include <QImage>

#include <cstdint>

// A new BGR888 picture (rows 4-byte aligned) whose memory is requested in huge pages.
// The pixels are uninitialised. Returns a null image when the size is invalid or
// memory is refused.
QImage NewBgrImage(int width, int height);

// Makes `img` a BGR888 picture of the given size, reusing its buffer when it already
// has exactly that size and format and is not shared. Pixels are uninitialised
// when the buffer is new.
void EnsureBgrImage(QImage& img, int width, int height);

// The machine's physical memory in bytes (0 when the system does not say).
std::int64_t PhysicalMemoryBytes();

// Bytes per row of a BGR888 picture (4-byte aligned, as QImage lays it out).
inline qsizetype BgrStride(int width) { return ((static_cast<qsizetype>(width) * 3 + 3) / 4) * 4; }
