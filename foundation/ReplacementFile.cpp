#include "foundation/ReplacementFile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <utility>

#include "foundation/Paths.h"

const char* const kReplacementPrefix = ".zelnew.";

namespace {

// Names already taken (a stale file, another process) are skipped; this
// many in a row means something else is wrong.
const int kNameAttempts = 100;

// Closes `fd` keeping the errno of the failure being reported.
void CloseQuietly(int& fd) {
    if (fd < 0) return;
    int saved = errno;
    close(fd);
    errno = saved;
    fd = -1;
}

bool IsDeviceOrPipe(mode_t mode) {
    return S_ISCHR(mode) || S_ISBLK(mode) || S_ISFIFO(mode);
}

// The folder part of `target`: "." for a bare name, "/" at the root.
std::string FolderOf(const std::string& target) {
    size_t cut = target.rfind('/');
    return cut == std::string::npos ? "." : cut == 0 ? "/" : target.substr(0, cut);
}

// The one source of temporary names: creates in `folder` a new file (its
// descriptor is returned) or, with `directory`, a new folder (0 is
// returned), never through anything planted at the name. `name` receives
// the name; -1 with errno set when none could be made.
int CreateUnique(int folder, bool directory, mode_t mode, std::string& name) {
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < kNameAttempts; attempt++) {
        char text[48];
        snprintf(text, sizeof(text), "%s%lx.%x", kReplacementPrefix, (unsigned long)getpid(), serial++);
        int made = directory ? mkdirat(folder, text, mode)
                             : openat(folder, text, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (made >= 0) {
            name = text;
            return made;
        }
        if (errno != EEXIST) break;
    }
    return -1;
}

}  // namespace

bool WriteAll(int fd, const void* data, size_t length) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = write(fd, p, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        p += n;
        length -= (size_t)n;
    }
    return true;
}

ReplacementFile::ReplacementFile(std::string target) : target_(std::move(target)) {
    size_t cut = target_.rfind('/');
    base_ = cut == std::string::npos ? target_ : target_.substr(cut + 1);
}

ReplacementFile::~ReplacementFile() {
    Discard();
}

bool ReplacementFile::Open(mode_t mode, bool in_place_fallback, bool into_devices) {
    if (fd_ >= 0) return true;
    if (base_.empty() || IsDotOrDotDot(base_.c_str())) {
        errno = EISDIR;
        return false;
    }
    MakeParentDirectories(target_);
    folder_ = open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) return false;

    struct stat led;
    if (into_devices && fstatat(folder_, base_.c_str(), &led, 0) == 0 && IsDeviceOrPipe(led.st_mode)) {
        // Opened without truncation and checked again: a link switched to a
        // regular file meanwhile is left alone and replaced as usual.
        fd_ = openat(folder_, base_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) {
            CloseQuietly(folder_);
            return false;
        }
        if (fstat(fd_, &led) == 0 && IsDeviceOrPipe(led.st_mode)) {
            device_ = true;
            return true;
        }
        CloseQuietly(fd_);
    }

    // What stands at the target now decides whether it may be replaced.
    struct stat old;
    bool existed = false;
    if (fstatat(folder_, base_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(old.st_mode)) {
            errno = EISDIR;
            CloseQuietly(folder_);
            return false;
        }
        // The permission a plain open for writing would need (the effective
        // user's, read-only and immutable files included).
        existed = S_ISREG(old.st_mode);
        if (existed && faccessat(folder_, base_.c_str(), W_OK, AT_EACCESS) != 0) {
            CloseQuietly(folder_);
            return false;
        }
    }

    fd_ = CreateUnique(folder_, false, mode, temp_);
    if (fd_ < 0 && in_place_fallback && existed && (errno == EACCES || errno == EPERM)) {
        fd_ = openat(folder_, base_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        in_place_ = fd_ >= 0;
    }
    if (in_place_) return true;
    if (fd_ < 0) {
        CloseQuietly(folder_);
        return false;
    }
    if (existed) {
        // Owner first: a chown after the chmod would clear set-id bits.
        mode_t keep = old.st_mode & 07777;
        if (fchown(fd_, old.st_uid, old.st_gid) != 0) keep &= ~(mode_t)(S_ISUID | S_ISGID);
        fchmod(fd_, keep);
    }
    return true;
}

FILE* ReplacementFile::stream() {
    if (!stream_ && fd_ >= 0) stream_ = fdopen(fd_, "w");
    return stream_;
}

bool ReplacementFile::Write(const void* data, size_t length) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    if (stream_) return fwrite(data, 1, length, stream_) == length;
    return WriteAll(fd_, data, length);
}

bool ReplacementFile::CopyFrom(int fd) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0;
        if (!Write(buffer, (size_t)n)) return false;
    }
}

bool ReplacementFile::Commit(bool sync) {
    return Complete(sync, nullptr);
}

bool ReplacementFile::CommitAs(const std::string& path, bool sync) {
    if (in_place_ || device_) {
        errno = EINVAL;
        return false;
    }
    return Complete(sync, &path);
}

bool ReplacementFile::Complete(bool sync, const std::string* elsewhere) {
    if (fd_ < 0) {
        errno = EBADF;
        return false;
    }
    bool ok = !stream_ || (fflush(stream_) == 0 && !ferror(stream_));
    if (ok && in_place_) {
        // Rewritten in place: whatever lay beyond the new content goes.
        off_t end = lseek(fd_, 0, SEEK_CUR);
        ok = end >= 0 && ftruncate(fd_, end) == 0;
    }
    if (ok && sync && !device_) ok = fsync(fd_) == 0;
    int saved = errno;
    int closed = stream_ ? fclose(stream_) : close(fd_);
    stream_ = nullptr;
    fd_ = -1;
    if (closed != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && !in_place_ && !device_) {
        int renamed = elsewhere ? renameat(folder_, temp_.c_str(), AT_FDCWD, elsewhere->c_str())
                                : renameat(folder_, temp_.c_str(), folder_, base_.c_str());
        if (renamed != 0) {
            ok = false;
            saved = errno;
        }
    }
    if (ok) temp_.clear();
    Discard();
    errno = saved;
    return ok;
}

void ReplacementFile::Discard() {
    int saved = errno;
    if (stream_)
        fclose(stream_);
    else if (fd_ >= 0)
        close(fd_);
    stream_ = nullptr;
    fd_ = -1;
    if (!temp_.empty() && folder_ >= 0) unlinkat(folder_, temp_.c_str(), 0);
    temp_.clear();
    if (folder_ >= 0) close(folder_);
    folder_ = -1;
    in_place_ = false;
    device_ = false;
    errno = saved;
}

std::string MakeTemporaryFolder(const std::string& target) {
    std::string folder = FolderOf(target);
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return std::string();
    std::string name;
    bool made = CreateUnique(dir, true, 0777, name) == 0;
    CloseQuietly(dir);
    if (!made) return std::string();
    return (folder == "/" ? folder : folder + "/") + name;
}
