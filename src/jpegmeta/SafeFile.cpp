#include "jpegmeta/SafeFile.h"

#include "jpegmeta/WorkerThread.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One thread for the file work nobody has to wait for: the scratch copies
// and the folder flushes behind finished renames. It drains its queue before
// the program ends.
class TFileWorker : public TWorkerThread {
public:
    // A folder flush already waiting covers any rename done before it starts.
    void PostFolderFlush(const std::string& dir)
    {
        if (Owned()) {
            std::lock_guard<std::mutex> lock(FoldersMutex);
            if (!PendingFolders.insert(dir).second)
                return;
        }
        Post([this, dir] {
            if (Owned()) {
                std::lock_guard<std::mutex> lock(FoldersMutex);
                PendingFolders.erase(dir);
            }
            const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dfd >= 0) {
                ::fsync(dfd);
                ::close(dfd);
            }
        });
    }

private:
    std::mutex FoldersMutex;
    std::set<std::string> PendingFolders;
};

TFileWorker& Worker()
{
    static TFileWorker worker;
    return worker;
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

bool WriteFileWhole(const std::string& fileName, const void* data, size_t size, std::string* reason, int* errnoOut,
                    bool durable)
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
    if (!err && ::rename(tmp.c_str(), fileName.c_str()) != 0)
        err = errno;
    if (err) {
        ::unlink(tmp.c_str());
        return Fail(err, reason, errnoOut);
    }
    // The new name's own durability: a failure here changes nothing the
    // caller could act on, as the file is already complete under its name,
    // so the caller need not wait for it either.
    if (durable)
        Worker().PostFolderFlush(dir);
    return true;
}

std::future<TFileWriteResult> StartFileWrite(std::string fileName, const void* data, size_t size)
{
    return Worker().Run([name = std::move(fileName), data, size] {
        TFileWriteResult r;
        r.Ok = WriteFileWhole(name, data, size, &r.Reason, &r.Errno);
        return r;
    });
}

void WriteFileWholeLater(std::string fileName, std::vector<uint8_t> bytes)
{
    Worker().Post([name = std::move(fileName), data = std::move(bytes)] {
        WriteFileWhole(name, data.data(), data.size(), nullptr, nullptr, false);
    });
}

void FinishFileWork()
{
    Worker().Finish();
}
