// Reading a log file from disk with a bound: never more bytes than the format needs, never a
// wait on a FIFO or a device, never an allocation that grows with the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace errlog {

// What salvage may read of a damaged or grown file: 64 times a log's size (about 1 MB).
constexpr std::size_t kSalvageReadLimit = 64 * 15848;

struct FileRead {
    std::vector<std::uint8_t> bytes;      // at most limit + 1 bytes, from the start of the file
    std::int64_t length = -1;             // the file's length: what fstat says, or what was read
    std::uint64_t device = 0, inode = 0;  // the file's identity (one file named twice)
    std::string error;                    // why it could not be read (strerror or a reason)
};

// Opens path without waiting (O_NONBLOCK), refuses anything but a regular file (a folder:
// "Is a directory"; a FIFO, device or socket: "not a regular file"), and reads at most
// limit + 1 bytes, so that a file longer than limit is seen as such without being read.
// False with out.error set when the file cannot be opened or read.
bool read_bounded(const std::string& path, std::size_t limit, FileRead& out);

}  // namespace errlog
