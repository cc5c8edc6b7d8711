#include "jpegmeta/SafeFile.h"

#include "jpegmeta/WorkerThread.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The new name's durability is left to the background worker. A folder flush
// already waiting covers any rename done before it starts.
void PostFolderFlush(const std::string& dir)
{
    // Never destroyed: the worker may still flush while the program ends.
    static std::mutex mutex;
    static auto& pending = *new std::set<std::string>;
    TWorkerThread& worker = BackgroundWorker();
    if (worker.Owned()) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!pending.insert(dir).second)
            return;
    }
    worker.Post([&worker, dir] {
        if (worker.Owned()) {
            std::lock_guard<std::mutex> lock(mutex);
            pending.erase(dir);
        }
        const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            ::fsync(dfd);
            ::close(dfd);
        }
    });
}

bool Fail(int err, std::string* reason, int* errnoOut)
{
    if (reason)
        *reason = std::strerror(err);
    if (errnoOut)
        *errnoOut = err;
    return false;
}

} // namespace

bool LoadFileBytes(const std::string& fileName, std::vector<uint8_t>& bytes, std::string* reason, size_t maxBytes)
{
    bytes.clear();
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail(errno, reason, nullptr);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return Fail(err, reason, nullptr);
    }
    if (!S_ISREG(st.st_mode) || uint64_t(st.st_size) > maxBytes) {
        ::close(fd);
        return Fail(S_ISREG(st.st_mode) ? EFBIG : EISDIR, reason, nullptr);
    }
    bytes.resize(size_t(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            ::close(fd);
            bytes.clear();
            return Fail(err, reason, nullptr);
        }
        done += size_t(n);
    }
    ::close(fd);
    return true;
}

namespace {
// rename() that refuses an existing target. Where the file system cannot do
// that in one call, a hard link is the same test-and-set; the temporary name
// is dropped afterwards either way.
int RenameNoReplace(const std::string& from, const std::string& to)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
#endif
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}
} // namespace

bool WriteFileWhole(const std::string& fileName, const void* data, size_t size, std::string* reason, int* errnoOut,
                    bool durable, bool replace)
{
    static std::atomic<unsigned> counter{0};
    const size_t slash = fileName.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : fileName.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    if (base.empty())
        return Fail(EISDIR, reason, errnoOut);

    // A hidden name in the same folder: rename() only replaces atomically
    // within one file system. The base is shortened so the name stays legal.
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = dir + (slash == std::string::npos ? "/." : ".") + base.substr(0, 100) + ".tmp" +
              std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return Fail(errno, reason, errnoOut);
    }
    if (fd < 0)
        return Fail(EEXIST, reason, errnoOut);

    int err = 0;
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, p + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            break;
        }
        done += size_t(n);
    }
    if (!err && durable && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && !err)
        err = errno;
    if (!err && replace && ::rename(tmp.c_str(), fileName.c_str()) != 0)
        err = errno;
    if (!err && !replace)
        err = RenameNoReplace(tmp, fileName);
    if (err) {
        ::unlink(tmp.c_str());
        return Fail(err, reason, errnoOut);
    }
    // The new name's own durability: a failure here changes nothing the
    // caller could act on, as the file is already complete under its name,
    // so the caller need not wait for it either.
    if (durable)
        PostFolderFlush(dir);
    return true;
}

std::future<TFileWriteResult> StartFileWrite(std::string fileName, const void* data, size_t size)
{
    return BackgroundWorker().Run([name = std::move(fileName), data, size] {
        TFileWriteResult r;
        r.Ok = WriteFileWhole(name, data, size, &r.Reason, &r.Errno);
        return r;
    });
}

void WriteFileWholeLater(std::string fileName, std::vector<uint8_t> bytes)
{
    BackgroundWorker().Post([name = std::move(fileName), data = std::move(bytes)] {
        WriteFileWhole(name, data.data(), data.size(), nullptr, nullptr, false);
    });
}

void FinishFileWork()
{
    BackgroundWorker().Finish();
}
