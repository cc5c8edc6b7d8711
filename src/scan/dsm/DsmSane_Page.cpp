// Reading a page from a SANE device: its frames into page buffers, streamed row by row
// where the layout allows, and normalised to what the TWAIN side hands out.

#include "scan/dsm/DsmSane.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <sys/mman.h>
#include <vector>

namespace {

// Page buffers in transparent huge pages: faulting tens of megabytes in 4 KiB pages
// costs more than reading them. The large ones are known by size, so one can wait as a
// spare for the next page. Released with ReleasePageBuffer.
constexpr size_t kHugePage = size_t(2) << 20;
std::mutex g_poolMutex;
std::vector<std::pair<void*, size_t>> g_largePages;
std::pair<void*, size_t> g_sparePage{nullptr, 0};

uint8_t* AllocPage(size_t size)
{
    if (size >= kHugePage) {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        // Not a spare much larger than the page: it would hold memory the page never uses.
        if (g_sparePage.first && g_sparePage.second >= size && g_sparePage.second / 2 <= size) {
            void* p = g_sparePage.first;
            g_largePages.push_back(g_sparePage);
            g_sparePage = {nullptr, 0};
            return static_cast<uint8_t*>(p);
        }
    }
    void* p = nullptr;
    if (posix_memalign(&p, size >= kHugePage ? kHugePage : 64, size) != 0)
        return nullptr;
    if (size >= kHugePage) {
        madvise(p, size, MADV_HUGEPAGE);
        std::lock_guard<std::mutex> lock(g_poolMutex);
        g_largePages.emplace_back(p, size);
    }
    return static_cast<uint8_t*>(p);
}

struct TFrame {
    SANE_Parameters Params{};
    TPageBuffer Data;
    size_t Size = 0;
};

SANE_Status ReadFrame(SANE_Handle h, TScanProgress& progress, TFrame& frame)
{
    const SANE_Parameters& p = frame.Params;
    const size_t expected = p.lines > 0 ? static_cast<size_t>(p.bytes_per_line) * static_cast<size_t>(p.lines) : 0;
    // Room for the expected frame plus a little, so the read that reports the end never
    // needs a reallocation; pages of unknown length grow by doubling.
    size_t capacity = expected ? expected + 4096 : size_t(4) << 20;
    frame.Data.reset(AllocPage(capacity));
    if (!frame.Data)
        return SANE_STATUS_NO_MEM;
    for (;;) {
        if (progress.Cancel)
            return SANE_STATUS_CANCELLED;
        if (capacity - frame.Size < 65536) {
            const size_t grown = capacity * 2;
            TPageBuffer bigger(AllocPage(grown));
            if (!bigger)
                return SANE_STATUS_NO_MEM;
            std::memcpy(bigger.get(), frame.Data.get(), frame.Size);
            frame.Data = std::move(bigger);
            capacity = grown;
        }
        const size_t room = std::min<size_t>(capacity - frame.Size, size_t(1) << 20);
        SANE_Int len = 0;
        const SANE_Status st = sane_read(h, frame.Data.get() + frame.Size, static_cast<SANE_Int>(room), &len);
        if (st == SANE_STATUS_EOF)
            return SANE_STATUS_GOOD;
        if (st != SANE_STATUS_GOOD)
            return st;
        if (len > 0) {
            frame.Size += static_cast<size_t>(len);
            progress.Bytes += len;
        }
    }
}

// The high byte of each 16-bit sample (samples are in host order).
void Reduce16(const uint8_t* src, uint8_t* dst, size_t samples)
{
    const uint16_t* s = reinterpret_cast<const uint16_t*>(src);
    for (size_t i = 0; i < samples; ++i) {
        uint16_t v;
        std::memcpy(&v, s + i, 2);
        dst[i] = static_cast<uint8_t>(v >> 8);
    }
}

SANE_Status BuildPage(std::vector<TFrame>& frames, TScanPage& page)
{
    const SANE_Parameters& p0 = frames.front().Params;
    const int width = p0.pixels_per_line;
    const size_t bpl = static_cast<size_t>(p0.bytes_per_line);
    if (width <= 0 || bpl == 0)
        return SANE_STATUS_GOOD;  // empty page
    int height = static_cast<int>(frames.front().Size / bpl);
    if (p0.lines > 0)
        height = std::min(height, p0.lines);
    for (const TFrame& f : frames)
        height = std::min<int>(height, static_cast<int>(f.Size / std::max<size_t>(1, size_t(f.Params.bytes_per_line))));
    page.Width = width;
    page.Height = height;
    if (height <= 0)
        return SANE_STATUS_GOOD;

    const bool separate = p0.format == SANE_FRAME_RED || p0.format == SANE_FRAME_GREEN || p0.format == SANE_FRAME_BLUE;
    if (!separate && p0.format == SANE_FRAME_GRAY && p0.depth == 1) {
        page.PixelType = TWPT_BW;
        page.BitsPerPixel = 1;
        page.RowBytes = (static_cast<size_t>(width) + 7) / 8;
        page.SrcStride = bpl;
        page.Invert = true;
        page.Size = frames.front().Size;
        page.Data = std::move(frames.front().Data);
        return SANE_STATUS_GOOD;
    }
    if (!separate && p0.depth == 8 && (p0.format == SANE_FRAME_GRAY || p0.format == SANE_FRAME_RGB)) {
        const bool rgb = p0.format == SANE_FRAME_RGB;
        page.PixelType = rgb ? TWPT_RGB : TWPT_GRAY;
        page.BitsPerPixel = rgb ? 24 : 8;
        page.RowBytes = static_cast<size_t>(width) * (rgb ? 3 : 1);
        page.SrcStride = bpl;
        page.Size = frames.front().Size;
        page.Data = std::move(frames.front().Data);
        return SANE_STATUS_GOOD;
    }

    // Everything else is normalised to 8 bits per sample in a packed buffer.
    const bool rgb = separate || p0.format == SANE_FRAME_RGB;
    const size_t channels = rgb ? 3 : 1;
    const size_t rowBytes = static_cast<size_t>(width) * channels;
    TPageBuffer out(static_cast<uint8_t*>(std::malloc(rowBytes * static_cast<size_t>(height))));
    if (!out)
        return SANE_STATUS_NO_MEM;
    for (const TFrame& f : frames) {
        const SANE_Parameters& p = f.Params;
        const size_t fbpl = static_cast<size_t>(p.bytes_per_line);
        int channel = -1;  // -1: every channel of the frame
        if (p.format == SANE_FRAME_RED)
            channel = 0;
        else if (p.format == SANE_FRAME_GREEN)
            channel = 1;
        else if (p.format == SANE_FRAME_BLUE)
            channel = 2;
        const size_t samples = static_cast<size_t>(width) * (channel < 0 ? channels : 1);
        std::vector<uint8_t> row(samples);
        for (int y = 0; y < height; ++y) {
            const uint8_t* src = f.Data.get() + fbpl * static_cast<size_t>(y);
            if (p.depth == 16) {
                Reduce16(src, row.data(), samples);
            } else if (p.depth == 1) {
                // Colour or separate-channel bits: 1 means full intensity here.
                for (size_t i = 0; i < samples; ++i)
                    row[i] = ((src[i / 8] >> (7 - (i % 8))) & 1) ? 255 : 0;
            } else {
                std::memcpy(row.data(), src, samples);
            }
            uint8_t* dst = out.get() + rowBytes * static_cast<size_t>(y);
            if (channel < 0) {
                std::memcpy(dst, row.data(), samples);
            } else {
                for (int x = 0; x < width; ++x)
                    dst[static_cast<size_t>(x) * 3 + static_cast<size_t>(channel)] = row[static_cast<size_t>(x)];
            }
        }
    }
    page.PixelType = rgb ? TWPT_RGB : TWPT_GRAY;
    page.BitsPerPixel = rgb ? 24 : 8;
    page.RowBytes = rowBytes;
    page.SrcStride = rowBytes;
    page.Size = rowBytes * static_cast<size_t>(height);
    page.Data = std::move(out);
    return SANE_STATUS_GOOD;
}

// A frame that is the whole page, of known length, in a layout handed on row by row
// without conversion.
bool Streamable(const SANE_Parameters& p)
{
    if (!p.last_frame || p.lines <= 0 || p.pixels_per_line <= 0 || p.bytes_per_line <= 0)
        return false;
    if (p.format == SANE_FRAME_RGB)
        return p.depth == 8 && static_cast<size_t>(p.bytes_per_line) >= static_cast<size_t>(p.pixels_per_line) * 3;
    if (p.format == SANE_FRAME_GRAY && p.depth == 8)
        return p.bytes_per_line >= p.pixels_per_line;
    if (p.format == SANE_FRAME_GRAY && p.depth == 1)
        return p.bytes_per_line >= (p.pixels_per_line + 7) / 8;
    return false;
}

// Reads a streamable frame straight into the page, telling the sink of every row that is
// complete. The page's buffer is allocated once for the announced length and never
// moves, so the sink's reader may use the rows while later ones arrive.
SANE_Status ReadStreamed(SANE_Handle h, TScanProgress& progress, const SANE_Parameters& p, TScanPage& page,
                         TPageSink& sink)
{
    const size_t bpl = static_cast<size_t>(p.bytes_per_line);
    const int lines = p.lines;
    const size_t total = bpl * static_cast<size_t>(lines);
    page.Data.reset(AllocPage(total));
    if (!page.Data)
        return SANE_STATUS_NO_MEM;
    page.Width = p.pixels_per_line;
    page.Height = lines;
    page.SrcStride = bpl;
    if (p.depth == 1) {
        page.PixelType = TWPT_BW;
        page.BitsPerPixel = 1;
        page.RowBytes = (static_cast<size_t>(page.Width) + 7) / 8;
        page.Invert = true;
    } else {
        const bool rgb = p.format == SANE_FRAME_RGB;
        page.PixelType = rgb ? TWPT_RGB : TWPT_GRAY;
        page.BitsPerPixel = rgb ? 24 : 8;
        page.RowBytes = static_cast<size_t>(page.Width) * (rgb ? 3 : 1);
    }
    page.Size = total;
    uint8_t* base = page.Data.get();
    size_t size = 0;
    int published = 0;
    std::vector<uint8_t> beyond;  // a device sending more than it announced
    for (;;) {
        if (progress.Cancel)
            return SANE_STATUS_CANCELLED;
        uint8_t* at = base + size;
        size_t room = std::min<size_t>(total - size, size_t(1) << 20);
        if (room == 0) {
            beyond.resize(65536);
            at = beyond.data();
            room = beyond.size();
        }
        SANE_Int len = 0;
        const SANE_Status st = sane_read(h, at, static_cast<SANE_Int>(room), &len);
        if (st == SANE_STATUS_EOF)
            break;
        if (st != SANE_STATUS_GOOD)
            return st;
        if (len <= 0)
            continue;
        progress.Bytes += len;
        if (at != base + size)
            continue;
        size += static_cast<size_t>(len);
        const int rows = static_cast<int>(size / bpl);
        if (rows > published) {
            if (published == 0)
                sink.Begin(page);
            published = rows;
            sink.Rows(rows);
        }
    }
    if (published == 0) {
        // Not one whole row: an empty page, as if it had been read whole.
        page.Height = 0;
        return SANE_STATUS_GOOD;
    }
    if (published < lines) {
        // The reader was promised the announced length; the rows that never came are
        // white (SANE's 1-bit white is 0).
        std::memset(base + bpl * static_cast<size_t>(published), p.depth == 1 ? 0x00 : 0xFF,
                    bpl * static_cast<size_t>(lines - published));
        sink.Rows(lines);
    }
    return SANE_STATUS_GOOD;
}

} // namespace

void ReleasePageBuffer(uint8_t* p)
{
    if (!p)
        return;
    void* drop = p;
    {
        std::lock_guard<std::mutex> lock(g_poolMutex);
        const auto it = std::find_if(g_largePages.begin(), g_largePages.end(),
                                     [p](const std::pair<void*, size_t>& e) { return e.first == p; });
        if (it != g_largePages.end()) {
            drop = g_sparePage.first;
            g_sparePage = *it;
            g_largePages.erase(it);
        }
    }
    std::free(drop);
}

SANE_Status SaneReadPage(SANE_Handle h, TScanProgress& progress, TScanPage& page, TPageSink* sink)
{
    std::vector<TFrame> frames;
    for (;;) {
        SANE_Status st = sane_start(h);
        if (st != SANE_STATUS_GOOD)
            return st;
        TFrame frame;
        st = sane_get_parameters(h, &frame.Params);
        if (st != SANE_STATUS_GOOD)
            return st;
        if (frames.empty()) {
            const SANE_Parameters& p = frame.Params;
            const int passes = (p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN || p.format == SANE_FRAME_BLUE) ? 3 : 1;
            progress.Expected = p.lines > 0 ? int64_t(p.bytes_per_line) * p.lines * passes : -1;
            if (sink && Streamable(p))
                return ReadStreamed(h, progress, p, page, *sink);
        }
        st = ReadFrame(h, progress, frame);
        if (st != SANE_STATUS_GOOD)
            return st;
        const bool last = frame.Params.last_frame != 0;
        frames.push_back(std::move(frame));
        if (last || frames.size() >= 3)
            break;
    }
    return BuildPage(frames, page);
}

