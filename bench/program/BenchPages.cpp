#include "BenchPages.h"

#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace benchpages {

const std::vector<TFormat>& Formats()
{
    static const std::vector<TFormat> formats = {
        {"JPEG", "pagina.jpg"}, {"PNG", "pagina.png"}, {"TIFF", "pagina.tif"},
        {"TIFF LZW", "pagina-lzw.tif"}, {"BMP", "pagina.bmp"},
    };
    return formats;
}

namespace {

uint32_t Hash(uint32_t a)
{
    a ^= a >> 16;
    a *= 0x7feb352du;
    a ^= a >> 15;
    a *= 0x846ca68bu;
    a ^= a >> 16;
    return a;
}

uint8_t Clamp(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// A filled-in form as a scanner gives it: cream paper with sensor noise and a
// faint shading, printed rules and lines of text, a colour photo in its box
// and a pen signature. Noise everywhere, so no codec finds flat runs.
std::vector<uint8_t> MakePage()
{
    std::vector<uint8_t> rgb(static_cast<size_t>(kPageW) * kPageH * 3);
    uint32_t seed = 20261209u;
    for (int y = 0; y < kPageH; ++y) {
        uint8_t* p = &rgb[static_cast<size_t>(y) * kPageW * 3];
        const int line = (y - 1900) / 110;  // text line index
        const int inLine = (y - 1900) % 110; // row inside it
        const bool textRow = y >= 1900 && y < 6200 && inLine >= 30 && inLine < 72;
        const bool rule = (y % 550 == 0 && y > 1200) || (y >= 1500 && y < 1508);
        for (int x = 0; x < kPageW; ++x, p += 3) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 27) - 16;
            const int shade = ((x + y) >> 8) % 7 - 3;
            int r = kPaperR + shade + noise / 2, g = kPaperG + shade + noise / 2, b = kPaperB + shade + noise / 2;
            bool ink = rule && x > 400 && x < kPageW - 400;
            if (textRow && x >= 420 && x < kPageW - 420) {
                // Words of glyphs 34 px wide on a 5 x 7 grid of strokes.
                const int glyph = (x - 420) / 34;
                const uint32_t word = Hash(static_cast<uint32_t>(line * 977 + glyph / 7));
                const bool gap = glyph % 7 == static_cast<int>(word % 4) + 3 || (Hash(line + 17u) % 5 == 0 && glyph > 90);
                const int cx = ((x - 420) % 34) / 6, cy = (inLine - 30) / 6;
                ink = !gap && cx < 5 && (Hash(static_cast<uint32_t>(glyph * 131 + line * 7919 + cy * 5 + cx)) & 3) == 0;
            }
            if (ink) {
                r = 42 + noise / 2;
                g = 40 + noise / 2;
                b = 52 + noise / 2;
            }
            // The photo: 35 x 45 mm, a lit face on a blue-grey ground.
            if (x >= 600 && x < 1427 && y >= 500 && y < 1563) {
                const double fx = (x - 1013) / 300.0, fy = (y - 980) / 380.0;
                const double r2 = fx * fx + fy * fy;
                r = 120 + (y - 500) / 20;
                g = 140 + (x - 600) / 30;
                b = 170;
                if (r2 < 1.0) {
                    const double s = 1.0 - 0.35 * r2 + 0.06 * std::sin(x * 0.05) * std::cos(y * 0.04);
                    r = static_cast<int>(215 * s);
                    g = static_cast<int>(165 * s);
                    b = static_cast<int>(130 * s);
                }
                if (fy < -0.55 && r2 < 1.6)
                    r = g = b = 45 + static_cast<int>(30 * std::sin(x * 0.21 + std::sin(y * 0.03) * 3.0));
                r += noise;
                g += noise;
                b += noise;
            }
            // The signature: two pen strokes.
            if (x >= 2900 && x < 4300 && y >= 6300 && y < 6700) {
                const double d1 = std::fabs(y - (6500 + 120 * std::sin(x * 0.011)));
                const double d2 = std::fabs(y - (6480 + 90 * std::sin(x * 0.019 + 1.0)));
                if (std::min(d1, d2) < 6) {
                    r = 30 + noise;
                    g = 45 + noise;
                    b = 120 + noise;
                }
            }
            p[0] = Clamp(r);
            p[1] = Clamp(g);
            p[2] = Clamp(b);
        }
    }
    return rgb;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

bool WriteJpeg(const std::vector<uint8_t>& rgb, const std::string& path)
{
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    // 4:2:0 at quality 90, as scanner software writes by default.
    const bool ok = tj && tjCompress2(tj, rgb.data(), kPageW, 0, kPageH, TJPF_RGB, &out, &size, TJSAMP_420, 90, 0) == 0;
    if (tj)
        tjDestroy(tj);
    if (!ok)
        return false;
    // 600 dpi in the JFIF header: bytes 13..17 of TurboJPEG's own APP0.
    if (size > 18 && std::memcmp(out + 6, "JFIF", 4) == 0) {
        out[13] = 1;
        out[14] = 600 >> 8;
        out[15] = 600 & 255;
        out[16] = 600 >> 8;
        out[17] = 600 & 255;
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    bool written = f && std::fwrite(out, 1, size, f) == size;
    if (f)
        written &= std::fclose(f) == 0;
    tjFree(out);
    return written;
}

bool WritePng(const std::vector<uint8_t>& rgb, const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, kPageW, kPageH, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_pHYs(png, info, 23622, 23622, PNG_RESOLUTION_METER); // 600 dpi
    png_write_info(png, info);
    for (int y = 0; y < kPageH; ++y)
        png_write_row(png, &rgb[static_cast<size_t>(y) * kPageW * 3]);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

bool WriteTiff(const std::vector<uint8_t>& rgb, const std::string& path, bool lzw)
{
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t)
        return false;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kPageW);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, kPageH);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 600.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 600.0f);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    bool ok = true;
    for (int y = 0; y < kPageH && ok; ++y)
        ok = TIFFWriteScanline(t, const_cast<uint8_t*>(&rgb[static_cast<size_t>(y) * kPageW * 3]), y, 0) >= 0;
    TIFFClose(t);
    return ok;
}

void Le16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}

void Le32(std::vector<uint8_t>& v, uint32_t x)
{
    Le16(v, x & 0xffff);
    Le16(v, x >> 16);
}

bool WriteBmp(const std::vector<uint8_t>& rgb, const std::string& path)
{
    const uint32_t stride = (kPageW * 3 + 3) & ~3u;
    const uint32_t bytes = stride * kPageH;
    std::vector<uint8_t> head;
    head.push_back('B');
    head.push_back('M');
    Le32(head, 54 + bytes);
    Le32(head, 0);
    Le32(head, 54);
    Le32(head, 40);
    Le32(head, kPageW);
    Le32(head, kPageH); // bottom-up, as scanners write it
    Le16(head, 1);
    Le16(head, 24);
    Le32(head, 0);
    Le32(head, bytes);
    Le32(head, 23622);
    Le32(head, 23622);
    Le32(head, 0);
    Le32(head, 0);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
    std::vector<uint8_t> row(stride, 0);
    for (int y = kPageH - 1; y >= 0 && ok; --y) {
        const uint8_t* s = &rgb[static_cast<size_t>(y) * kPageW * 3];
        for (int x = 0; x < kPageW; ++x) {
            row[3 * x] = s[3 * x + 2];
            row[3 * x + 1] = s[3 * x + 1];
            row[3 * x + 2] = s[3 * x];
        }
        ok = std::fwrite(row.data(), 1, stride, f) == stride;
    }
    return std::fclose(f) == 0 && ok;
}

} // namespace

bool EnsurePages(const std::string& dir)
{
    ::mkdir(dir.c_str(), 0755);
    std::vector<uint8_t> rgb;
    for (const TFormat& fmt : Formats()) {
        const std::string path = dir + "/" + fmt.File;
        if (Exists(path))
            continue;
        if (rgb.empty()) {
            std::fprintf(stderr, "making the 600-dpi test pages in %s ...\n", dir.c_str());
            rgb = MakePage();
        }
        const std::string tmp = path + ".part";
        const std::string name = fmt.File;
        bool ok = false;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0)
            ok = WriteJpeg(rgb, tmp);
        else if (name.compare(name.size() - 4, 4, ".png") == 0)
            ok = WritePng(rgb, tmp);
        else if (name.compare(name.size() - 4, 4, ".bmp") == 0)
            ok = WriteBmp(rgb, tmp);
        else
            ok = WriteTiff(rgb, tmp, name.find("lzw") != std::string::npos);
        if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            ::unlink(tmp.c_str());
            return false;
        }
    }
    return true;
}

} // namespace benchpages
