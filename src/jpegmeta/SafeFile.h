#pragma once
// Whole-file reading and whole-or-nothing file replacement.

#include <cstddef>
#include <cstdint>
#include <future>
#include <string>
#include <vector>

// Reads a regular file whole. False (and the OS reason) when it cannot be
// opened or read, is not a regular file, or is larger than maxBytes.
bool LoadFileBytes(const std::string& fileName, std::vector<uint8_t>& bytes, std::string* reason = nullptr,
                   size_t maxBytes = size_t(256) << 20);

// Replaces fileName with exactly these bytes, or leaves it as it was.
// The bytes go to a new temporary file in the same folder, which is flushed to
// the disk and then renamed over the target in one step, so no reader ever
// sees a half-written file under the final name, and after a power cut the
// name holds either the old file or the whole new one. On failure the
// temporary file is removed and reason receives the OS's description
// (errnoOut its code).
// The flush of the folder, which only makes the new name itself survive a
// power cut, runs on the background worker (WorkerThread.h): the caller
// does not wait for it.
// Without `durable` the flushes to the disk are left out: a scratch file
// that only this run reads is still replaced in one step, but a crash may
// lose it, and the save does not wait for the disk.
// Without `replace` an existing fileName is never touched: the write fails
// with EEXIST, decided in the same step that gives the new file its name, so
// two writers racing for one name cannot both win.
bool WriteFileWhole(const std::string& fileName, const void* data, size_t size, std::string* reason = nullptr,
                    int* errnoOut = nullptr, bool durable = true, bool replace = true);

struct TFileWriteResult {
    bool Ok = false;
    int Errno = 0;
    std::string Reason;
};

// WriteFileWhole (durable) on the background worker, so the caller can do other work
// while the disk is busy. The bytes must stay alive and unchanged until the
// result has been taken from the future.
std::future<TFileWriteResult> StartFileWrite(std::string fileName, const void* data, size_t size);

// Replaces a scratch file on the background worker, as WriteFileWhole without
// `durable` would; a failure is silent, as nobody waits for the result.
// Work posted from one thread is done in the order posted.
void WriteFileWholeLater(std::string fileName, std::vector<uint8_t> bytes);

// Returns once every piece of file work posted so far is done. The worker
// also finishes its work when the program ends normally.
void FinishFileWork();
