#include "platform/Files.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qor::platform {
namespace {

// Closes a descriptor on every path.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether that worked (a write may fail only at the close).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool failed(std::string& error) {
    error = std::strerror(errno);
    return false;
}

}  // namespace

FileKind fileKind(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return FileKind::Missing;
    }
    if (S_ISREG(status.st_mode)) {
        return FileKind::Regular;
    }
    return S_ISDIR(status.st_mode) ? FileKind::Folder : FileKind::Other;
}

bool readWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    bytes.clear();
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        return failed(error);
    }
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return failed(error);
        }
        if (n == 0) {
            return true;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

bool writeWholeFile(const std::string& path, const void* data, std::size_t size,
                    std::string& error) {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (file.get() < 0) {
        return failed(error);
    }
    const auto* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(file.get(), at, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return failed(error);
        }
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return file.close() || failed(error);
}

bool deleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

}  // namespace qor::platform
