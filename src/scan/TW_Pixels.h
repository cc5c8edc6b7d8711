#pragma once
// Pixel work of the acquisition module's memory transfer: DIB rows to blue-green-red,
// the red/blue exchange, the picture a transfer fills, and the receiver of its strips.

#include "scan/TW_Const.h"

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <vector>

// One DIB row of `bits` per pixel (1, 4, 8, 24 or 32) as blue-green-red samples, palette
// depths through `lut`; false for a depth it cannot read.
bool DibRowToBgr(int bits, const uint8_t* src, uint8_t* dst, int32_t width, const uint8_t (*lut)[3]);
// Exchanges the first and third byte of `pixels` 3-byte pixels in place.
void SwapRedBlue(uint8_t* p, size_t pixels);
// A BGR888 picture like NewBgrImage's. Once nothing holds it any more, its memory waits
// for the next picture of the same size instead of going back to the system: fresh memory
// of tens of megabytes costs the kernel's clearing of all of it, as much as a pass over
// the picture.
QImage NewScanPicture(int32_t width, int32_t height);

// Receives the strips of one memory transfer straight into the 24-bit picture the module
// hands on, instead of gathering a DIB block, flipping it and converting it afterwards:
// a page is tens of megabytes, and each of those passes cost as much as the scan.
//
// Strips arrive top row first, each row at the DIB stride. For 24-bit rows that stride is
// the picture's own, so the source writes into the picture and only red and blue are
// exchanged, on rows still in the cache; other depths pass a strip buffer and are looked
// up in the colour table. A strip need not end on a row: the part row waits for the rest.
class TStripReceiver {
public:
    // `header` is the transfer's DIB header with its colour table.
    TStripReceiver(QImage& picture, int64_t stride, int bits, bool rgb, const uint8_t* header, uint32_t preferred);
    // Where the next strip goes and how much room it has; false when memory fails.
    bool Next(TW_MEMORY& mem);
    // Takes the `bytes` the source wrote at the place Next gave.
    void Took(TW_UINT32 bytes, const TW_MEMORY& mem);
    // Rows the source never sent are white, not whatever the memory held.
    void FillRest();

private:
    QImage& picture_;
    const int64_t stride_;
    const int bits_;
    const bool swap_;
    const int32_t width_;
    const int32_t height_;
    const bool direct_;
    uint8_t lut_[256][3] = {};
    size_t stripSize_ = 0;
    int64_t received_ = 0;  // bytes of whole and part rows taken, at the DIB stride
    std::vector<uint8_t> scratch_;
    size_t carry_ = 0;  // bytes of a part row waiting at the start of scratch_
};
