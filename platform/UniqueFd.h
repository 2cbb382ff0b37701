// The one owner of a file descriptor: closed when its owner goes, unless
// released. Every layer holds descriptors in it, never by hand.
//   orvik::UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC));
//   if (fd.get() < 0) return error;  // closed on every return after this
#pragma once

#include <unistd.h>

namespace orvik {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            UniqueFd old(fd_);
            fd_ = other.release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0)
            close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and says whether the kernel took it back cleanly: a
    // written file's last error may only show here.
    bool Close() {
        const int fd = release();
        return fd < 0 || close(fd) == 0;
    }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

} // namespace orvik
