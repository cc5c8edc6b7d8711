#include "JpegTestUtil.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sys/wait.h>

namespace {
template <class T>
Bytes LeOf(const std::vector<T>& v, unsigned size)
{
    Bytes b;
    for (T x : v)
        for (unsigned i = 0; i < size; ++i)
            b.push_back(uint8_t(uint64_t(x) >> (8 * i)));
    return b;
}
} // namespace

XEntry XShort(uint16_t tag, std::vector<uint16_t> v, uint16_t type)
{
    return {tag, type, uint32_t(v.size()), LeOf(v, 2), 2};
}
XEntry XLong(uint16_t tag, std::vector<uint32_t> v, uint16_t type)
{
    return {tag, type, uint32_t(v.size()), LeOf(v, 4), 4};
}
XEntry XRational(uint16_t tag, std::vector<uint32_t> nd, uint16_t type)
{
    return {tag, type, uint32_t(nd.size() / 2), LeOf(nd, 4), 4};
}
XEntry XAscii(uint16_t tag, const std::string& text, bool nul)
{
    Bytes b(text.begin(), text.end());
    if (nul)
        b.push_back(0);
    return {tag, 2, uint32_t(b.size()), b, 1};
}
XEntry XBytes(uint16_t tag, Bytes v, uint16_t type)
{
    return {tag, type, uint32_t(v.size()), v, 1};
}
XEntry XDouble(uint16_t tag, std::vector<double> v)
{
    std::vector<uint64_t> bits;
    for (double x : v) {
        uint64_t u;
        std::memcpy(&u, &x, 8);
        bits.push_back(u);
    }
    return {tag, 12, uint32_t(v.size()), LeOf(bits, 8), 8};
}

void XTiff::Put16(size_t pos, uint16_t v)
{
    bytes[pos + (bigEndian ? 1 : 0)] = uint8_t(v);
    bytes[pos + (bigEndian ? 0 : 1)] = uint8_t(v >> 8);
}

void XTiff::Put32(size_t pos, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[pos + size_t(bigEndian ? 3 - i : i)] = uint8_t(v >> (8 * i));
}

XTiff BuildTiff(const XSpec& layout)
{
    XTiff t;
    t.bigEndian = layout.bigEndian;
    t.bytes = {uint8_t(layout.bigEndian ? 'M' : 'I'), uint8_t(layout.bigEndian ? 'M' : 'I'), 0, 0, 0, 0, 0, 0};
    t.Put16(2, 42);
    t.Put32(4, 8);

    std::vector<std::pair<int, std::vector<XEntry>>> dirs;
    dirs.push_back({1, layout.ifd0});
    dirs.push_back({2, layout.exif});
    if (layout.withInterop)
        dirs.push_back({4, layout.interop});
    if (layout.withGps)
        dirs.push_back({5, layout.gps});
    if (!layout.thumbnail.empty() || !layout.ifd1.empty())
        dirs.push_back({7, layout.ifd1});
    for (auto& d : dirs) {
        auto& e = d.second;
        if (d.first == 1 && layout.exifPointer)
            e.push_back(XLong(0x8769, {0}));
        if (d.first == 1 && layout.withGps)
            e.push_back(XLong(0x8825, {0}));
        if (d.first == 2 && layout.withInterop)
            e.push_back(XLong(0xA005, {0}));
        if (d.first == 7 && !layout.thumbnail.empty()) {
            e.push_back(XShort(0x0103, {6}));
            e.push_back(XLong(0x0201, {0}));
            e.push_back(XLong(0x0202, {uint32_t(layout.thumbnail.size())}));
        }
        std::stable_sort(e.begin(), e.end(), [](const XEntry& a, const XEntry& b) { return a.tag < b.tag; });
    }

    size_t prevNextField = 0;
    for (auto& d : dirs) {
        const int slot = d.first;
        const size_t pos = t.bytes.size();
        t.ifdPos[slot] = pos;
        if (slot == 7)
            t.Put32(prevNextField, uint32_t(pos));
        t.bytes.resize(pos + 2 + 12 * d.second.size() + 4, 0);
        t.Put16(pos, uint16_t(d.second.size()));
        std::vector<std::pair<size_t, Bytes>> later;
        for (size_t i = 0; i < d.second.size(); ++i) {
            const XEntry& e = d.second[i];
            const size_t ep = pos + 2 + 12 * i;
            t.entryPos[{slot, e.tag}] = ep;
            t.Put16(ep, e.tag);
            t.Put16(ep + 2, e.type);
            t.Put32(ep + 4, e.count);
            Bytes v = e.le;
            if (layout.bigEndian && e.unit > 1)
                for (size_t k = 0; k + e.unit <= v.size(); k += e.unit)
                    std::reverse(v.begin() + long(k), v.begin() + long(k + e.unit));
            if (v.size() <= 4)
                std::copy(v.begin(), v.end(), t.bytes.begin() + long(ep + 8));
            else
                later.push_back({ep + 8, v});
        }
        if (slot == 1)
            prevNextField = pos + 2 + 12 * d.second.size();
        for (auto& l : later) {
            t.Put32(l.first, uint32_t(t.bytes.size()));
            t.bytes.insert(t.bytes.end(), l.second.begin(), l.second.end());
            if (t.bytes.size() % 2)
                t.bytes.push_back(0);
        }
    }
    // Pointers to the sub-directories.
    if (layout.exifPointer)
        t.Put32(t.entryPos[{1, 0x8769}] + 8, uint32_t(t.ifdPos[2]));
    if (layout.withGps)
        t.Put32(t.entryPos[{1, 0x8825}] + 8, uint32_t(t.ifdPos[5]));
    if (layout.withInterop)
        t.Put32(t.entryPos[{2, 0xA005}] + 8, uint32_t(t.ifdPos[4]));
    if (!layout.thumbnail.empty()) {
        t.thumbPos = t.bytes.size();
        t.Put32(t.entryPos[{7, 0x0201}] + 8, uint32_t(t.thumbPos));
        t.bytes.insert(t.bytes.end(), layout.thumbnail.begin(), layout.thumbnail.end());
    }
    return t;
}

Bytes SmallJpeg(int w, int h, int quality)
{
    TBgrPixels p = PhotoLike(w, h, 7);
    Bytes out;
    EncodeJpeg(p.View(), quality, out);
    return out;
}

Bytes Segment(uint8_t code, const Bytes& content)
{
    Bytes s = {0xFF, code, uint8_t((content.size() + 2) >> 8), uint8_t(content.size() + 2)};
    s.insert(s.end(), content.begin(), content.end());
    return s;
}

Bytes StripLeadingApp0(const Bytes& jpeg)
{
    size_t pos = 2;
    if (jpeg.size() > 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0)
        pos = 4 + ((size_t(jpeg[4]) << 8) | jpeg[5]);
    return Bytes(jpeg.begin() + long(pos), jpeg.end());
}

Bytes WrapExif(const Bytes& tiff, const Bytes& body, bool keepJfif)
{
    Bytes content = {'E', 'x', 'i', 'f', 0, 0};
    content.insert(content.end(), tiff.begin(), tiff.end());
    Bytes f = {0xFF, 0xD8};
    const Bytes app1 = Segment(0xE1, content);
    f.insert(f.end(), app1.begin(), app1.end());
    const Bytes rest = keepJfif ? Bytes(body.begin() + 2, body.end()) : StripLeadingApp0(body);
    f.insert(f.end(), rest.begin(), rest.end());
    return f;
}

TBgrPixels PhotoLike(int w, int h, unsigned seed)
{
    // Smooth colour gradients, a dark oval and noise: a few qualities apart
    // in size, like a photo crop.
    TBgrPixels p{w, h, (size_t(w) * 3 + 3) & ~size_t(3), {}};
    p.Data.assign(p.Stride * size_t(h), 0);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double fx = (x - w * 0.5) / (w * 0.3), fy = (y - h * 0.45) / (h * 0.35);
            const int base = fx * fx + fy * fy < 1 ? 90 : 190;
            for (int c = 0; c < 3; ++c)
                p.Data[size_t(y) * p.Stride + 3 * size_t(x) + size_t(c)] =
                    uint8_t(std::clamp(base + 20 * c + x / 8 - y / 10 + int(rng() % 15), 0, 255));
        }
    return p;
}

TBgrPixels SignatureLike(int w, int h)
{
    TBgrPixels p{w, h, (size_t(w) * 3 + 3) & ~size_t(3), {}};
    p.Data.assign(p.Stride * size_t(h), 255);
    for (int x = 4; x < w - 4; ++x)
        for (int dy = -1; dy <= 1; ++dy) {
            const int y = int(h * 0.5 + h * 0.3 * std::sin(x * 0.09)) + dy;
            std::fill_n(p.Data.begin() + long(size_t(y) * p.Stride + 3 * size_t(x)), 3, uint8_t(40));
        }
    return p;
}

TempDir::TempDir()
{
    char tmpl[] = "/tmp/corvanta-jpegmeta-XXXXXX";
    if (char* p = mkdtemp(tmpl))
        path = p;
}

TempDir::~TempDir()
{
    if (!path.empty())
        RunCommand("rm -rf '" + path + "'");
}

bool WriteBytes(const std::string& file, const Bytes& b)
{
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return bool(out);
}

Bytes ReadBytes(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int RunCommand(const std::string& cmd, std::string* output)
{
    FILE* f = popen((cmd + " 2>&1").c_str(), "r");
    if (!f)
        return -1;
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    const int status = pclose(f);
    if (output)
        *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const char* name)
{
    return RunCommand(std::string("command -v ") + name + " >/dev/null") == 0;
}
