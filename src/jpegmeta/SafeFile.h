#pragma once
// Whole-file reading and whole-or-nothing file replacement.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads a regular file whole. False (and the OS reason) when it cannot be
// opened or read, is not a regular file, or is larger than maxBytes.
bool LoadFileBytes(const std::string& fileName, std::vector<uint8_t>& bytes, std::string* reason = nullptr,
                   size_t maxBytes = size_t(256) << 20);

// Replaces fileName with exactly these bytes, or leaves it as it was.
// The bytes go to a new temporary file in the same folder, which is flushed to
// the disk and then renamed over the target in one step, so no reader ever
// sees a half-written file under the final name. On failure the temporary file
// is removed and reason receives the OS's description (errnoOut its code).
// Without `durable` the flushes to the disk are left out: a scratch file
// that only this run reads is still replaced in one step, but a crash may
// lose it, and the save does not wait for the disk.
bool WriteFileWhole(const std::string& fileName, const void* data, size_t size, std::string* reason = nullptr,
                    int* errnoOut = nullptr, bool durable = true);
