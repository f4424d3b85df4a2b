// Reading and writing the user's files safely: reads take regular files only, never block on
// a FIFO or a device a shared script names, and stop at a size cap; writes replace a file
// atomically (temporary file in the same folder, flush, fsync, rename), so a crash, a kill or a
// full disk leaves the old file or the new one, never a truncated one.
// Any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tapforge::app {

struct FileRead {
    std::optional<std::string> bytes;   // set on success
    std::string error;                  // on failure, for the user
};

enum class OverCap { fail, truncate };

// The file at `path` when it is a regular file (after following links). Larger than `maxBytes`:
// a failure, or the first `maxBytes` bytes.
FileRead readRegularFile(const std::string& path, size_t maxBytes, OverCap overCap = OverCap::fail);

// Replaces (or creates) `path` with `bytes` atomically, creating the folder when missing.
// Nothing on success, else the reason; the old file is then untouched.
std::optional<std::string> writeFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace tapforge::app
