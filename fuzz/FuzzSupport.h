#pragma once
// Small pieces every fuzz target shares: a private scratch folder for the
// code that only works on files, whole-file helpers and a check that stops
// the run with a readable message when a property of the code under test
// does not hold (libFuzzer then saves the input like any crash).

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fuzz {

// One folder per process, on a memory file system where there is one: the
// targets write a file for every input.
inline const std::string& ScratchDir()
{
    static const std::string dir = [] {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : std::string("/tmp")) +
                              "/corvanta-fuzz-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::string made(buf.data());
        // The folder goes when the process ends normally; after a crash it is
        // left for inspection.
        static std::string toRemove;
        toRemove = made;
        std::atexit([] { std::system(("rm -rf '" + toRemove + "'").c_str()); });
        return made;
    }();
    return dir;
}

inline bool WriteWhole(const std::string& path, const void* data, size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, p, size);
        if (put <= 0) {
            ::close(fd);
            return false;
        }
        p += put;
        size -= size_t(put);
    }
    return ::close(fd) == 0;
}

inline std::vector<unsigned char> ReadWhole(const std::string& path)
{
    std::vector<unsigned char> out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        unsigned char buf[65536];
        size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
            out.insert(out.end(), buf, buf + got);
        std::fclose(f);
    }
    return out;
}

[[noreturn]] inline void Fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "\n==fuzz== property broken at %s:%d: %s\n", file, line, what);
    std::abort();
}

} // namespace fuzz

#define FUZZ_CHECK(cond)                                   \
    do {                                                   \
        if (!(cond))                                       \
            ::fuzz::Fail(#cond, __FILE__, __LINE__);       \
    } while (0)
