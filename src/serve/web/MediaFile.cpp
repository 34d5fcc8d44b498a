#include "web/MediaFile.h"

#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace serve {

namespace {
bool number(std::string_view text, uint64_t& n) {
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    return ec == std::errc() && end == text.data() + text.size();
}
} // namespace

ByteRange byteRange(std::string_view header, uint64_t size) {
    constexpr std::string_view unit = "bytes=";
    if (!header.starts_with(unit))
        return {};
    const std::string_view spec = header.substr(unit.size());
    const size_t dash = spec.find('-');
    if (dash == std::string_view::npos || spec.find(',') != std::string_view::npos)
        return {};
    const std::string_view from = spec.substr(0, dash), to = spec.substr(dash + 1);
    uint64_t a = 0, b = 0;
    if (from.empty()) { // the last b bytes
        if (!number(to, b))
            return {};
        if (b == 0 || size == 0)
            return {ByteRange::Unsatisfiable};
        return {ByteRange::Part, size - std::min(b, size), size - 1};
    }
    if (!number(from, a) || (!to.empty() && (!number(to, b) || b < a)))
        return {};
    if (a >= size)
        return {ByteRange::Unsatisfiable};
    return {ByteRange::Part, a, to.empty() ? size - 1 : std::min(b, size - 1)};
}

int openMedia(const std::string& folder, const std::string& name, uint64_t* size) {
    if (name.empty() || name.find('/') != std::string::npos || name[0] == '.')
        return -1;
    const int dir =
        ::open((folder + "/media").c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return -1;
    // Non-blocking so that a FIFO put there cannot hold the open.
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    ::close(dir);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        *size = static_cast<uint64_t>(st.st_size);
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

} // namespace serve
