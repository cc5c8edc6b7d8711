#pragma once
// Allocation of large 24-bit pictures.
//
// A fresh 100 MB buffer costs hundreds of milliseconds in page faults on a
// virtual machine (the kernel zeroes every page on first touch), far more
// than decoding into memory already mapped. Every full-size picture of the
// program (decoded files, the view's copies, rotations) is made here, so that
// a buffer given back keeps its pages: the next picture of the same size (the
// next page of a batch, the next scan) is decoded into them. Only a few
// buffers are kept, and none of another size than the one asked for (see
// NewBgrImage), so the spares never add to the peak of a load.

#include <QImage>

#include <cstdint>

// A new BGR888 picture (rows 4-byte aligned). Large pictures take a buffer of
// exactly their size kept from an earlier picture when there is one, else a
// fresh buffer requested in huge pages. The pixels are uninitialised (a kept
// buffer still holds its last picture). Returns a null image when the size is
// invalid or memory is refused.
QImage NewBgrImage(int width, int height);

// Makes `img` a BGR888 picture of the given size, reusing its buffer when it already
// has exactly that size and format and is not shared. Pixels are uninitialised
// when the buffer is new.
void EnsureBgrImage(QImage& img, int width, int height);

// Bytes held in kept buffers no picture uses at the moment.
std::int64_t SpareImageBytes();
// Gives every kept buffer back to the system.
void ReleaseSpareImageBuffers();

// The machine's physical memory in bytes (0 when the system does not say).
std::int64_t PhysicalMemoryBytes();

// Bytes per row of a BGR888 picture (4-byte aligned, as QImage lays it out).
inline qsizetype BgrStride(int width) { return ((static_cast<qsizetype>(width) * 3 + 3) / 4) * 4; }
