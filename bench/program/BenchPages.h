#pragma once
// The test pages of the whole-program benchmark: one 600-dpi A4 form made
// deterministically and written in every format the program opens from a
// scanner's folder.

#include <cstdint>
#include <string>
#include <vector>

namespace benchpages {

constexpr int kPageW = 4960; // A4 at 600 dpi
constexpr int kPageH = 7016;

// The paper's colour (red, green, blue): a cream no part of either window's
// own interface uses, so that the picture is known on the screen by it.
constexpr int kPaperR = 238, kPaperG = 226, kPaperB = 192;

// True for a screen pixel that shows the page's paper (noise included).
inline bool IsPaper(int r, int g, int b)
{
    auto near = [](int v, int want) { return v >= want - 22 && v <= want + 22; };
    return near(r, kPaperR) && near(g, kPaperG) && near(b, kPaperB) && r - b > 25;
}

struct TFormat {
    const char* Name; // as the table prints it
    const char* File; // file name inside the pages folder
};
const std::vector<TFormat>& Formats();

// Writes every format's file into `dir` unless it is already there (a
// finished file is renamed into place, so one found is whole). False with
// the reason on stderr.
bool EnsurePages(const std::string& dir);

} // namespace benchpages
