#include "log_read.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace errlog {

namespace {

// Closes the descriptor on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

const char* kind_of(mode_t mode) {
    if (S_ISFIFO(mode)) return "not a regular file (a FIFO)";
    if (S_ISCHR(mode)) return "not a regular file (a character device)";
    if (S_ISBLK(mode)) return "not a regular file (a block device)";
    if (S_ISSOCK(mode)) return "not a regular file (a socket)";
    return "not a regular file";
}

}  // namespace

bool read_bounded(const std::string& path, std::size_t limit, FileRead& out) {
    out.bytes.clear();
    out.length = -1;
    out.error.clear();
    Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (file.fd < 0) {
        out.error = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::fstat(file.fd, &st) != 0) {
        out.error = std::strerror(errno);
        return false;
    }
    out.device = static_cast<std::uint64_t>(st.st_dev);
    out.inode = static_cast<std::uint64_t>(st.st_ino);
    if (S_ISDIR(st.st_mode)) {
        out.error = std::strerror(EISDIR);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        out.error = kind_of(st.st_mode);
        return false;
    }
    const std::size_t want = limit + 1;
    const std::size_t expected = st.st_size >= 0 ? static_cast<std::size_t>(st.st_size) : 0;
    out.bytes.resize(expected < want ? expected + 1 : want);  // one more: a file that grew
    std::size_t got = 0;
    while (got < out.bytes.size()) {
        const ssize_t n = ::read(file.fd, out.bytes.data() + got, out.bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            out.error = std::strerror(errno);
            out.bytes.clear();
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
        if (got == out.bytes.size() && got < want) out.bytes.resize(want);  // it grew: read on
    }
    out.bytes.resize(got);
    // The real length: what was read when the end was met, else at least one byte beyond.
    const auto read_length = static_cast<std::int64_t>(got);
    out.length = got < want ? read_length : std::max<std::int64_t>(st.st_size, read_length);
    return true;
}

}  // namespace errlog
