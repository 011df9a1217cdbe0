// The one way the agent replaces a file: configuration, status, pid and key
// files, single files and file streams received from the server, the
// server's configuration archives, containers and their plain files,
// compressed files, copies and differences all go through it. The new content is written to a temporary file with a short
// unique name in the target's folder and renamed over the target only when
// complete, so the target always holds either its old or its whole new
// content: never a truncated copy after a crash or a full disk, never a mix
// when two connections restore the same path at once (the last to finish
// wins, whole).
//
//   ReplacementFile file(path);
//   if (!file.Open()) ... errno tells why; nothing was touched
//   ... write through file.Write(), file.fd() or file.stream() ...
//   if (!file.Commit()) ... errno tells why; the target is as it was
//   (an object destroyed without Commit removes its temporary file)
//
// What Open does:
//   - creates the missing folders above the target (MakeDirectories' mode);
//   - refuses a folder at the target (EISDIR);
//   - refuses an existing file that this process could not open for writing
//     (EACCES, EROFS, EPERM for an immutable file...), as writing over it
//     would fail; a program being run (ETXTBSY) can still be replaced;
//   - creates the temporary file with O_CREAT|O_EXCL|O_NOFOLLOW|O_CLOEXEC
//     and `mode` less the umask, so nothing planted at its name is opened;
//   - gives it the existing file's owner and group, then its mode (set-id
//     bits dropped when the owner could not be given), on the descriptor.
// A symbolic link (or a pipe, a device...) at the target is replaced by the
// new file, never written through. A target with several hard links loses
// this name's link: the other names keep the old content.
//
// With `in_place_fallback`, a folder where no temporary file may be created
// (EACCES, EPERM) but whose file is writable gets the file rewritten in
// place, as a plain open for writing would: then a failure part-way leaves
// the file partly rewritten and concurrent writers may mix.
//
// With `into_devices`, a device or a pipe that the target leads to (links
// followed) is written into, as a plain open for writing would, rather than
// replaced: a copy or a compression aimed at /dev/null or a tape must not
// put a file in the device's place. Commit then only flushes and closes.
//
// A process killed between Open and Commit leaves its temporary file,
// named kReplacementPrefix followed by hexadecimal digits. Content that is a
// folder (a split container) is built in a folder named the same way
// (MakeTemporaryFolder) and put in place by its owner.
//
// Threads: an object belongs to one thread; any number of objects may
// replace the same path at once.
#pragma once

#include <stdio.h>
#include <sys/types.h>

#include <string>

// Leading part of every temporary name.
extern const char* const kReplacementPrefix;

class ReplacementFile {
  public:
    explicit ReplacementFile(std::string target);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Creates the temporary file (see above); false with errno set.
    bool Open(mode_t mode = 0666, bool in_place_fallback = false, bool into_devices = false);
    bool IsOpen() const { return fd_ >= 0; }
    // The descriptor of the new content; -1 when not open.
    int fd() const { return fd_; }
    // A stdio stream on fd() for formatted writing, made on first use; null
    // when not open. Commit flushes it.
    FILE* stream();
    // Writes all `length` bytes at the current position; false with errno.
    bool Write(const void* data, size_t length);
    // Writes everything still to be read from `fd` (a file or a pipe);
    // false with errno set when a read or a write fails.
    bool CopyFrom(int fd);
    // Completes the replacement: flushes, with `sync` waits until the data
    // is on disk (for files that must survive a crash), closes and renames
    // over the target. False with errno set (the temporary file is gone and
    // the target as it was).
    bool Commit(bool sync = true);
    // Completes the new content as Commit does but puts it at `path`, a
    // free name in the same file system, leaving the target alone: the
    // first part of a content that turned out to need a folder. Only for a
    // temporary file (EINVAL otherwise).
    bool CommitAs(const std::string& path, bool sync = true);
    // Gives up: closes and removes the temporary file. Nothing when not open.
    void Discard();
    const std::string& target() const { return target_; }

  private:
    bool Complete(bool sync, const std::string* elsewhere);

    std::string target_;
    std::string base_;  // last component of the target
    std::string temp_;  // temporary name inside the folder; empty when none
    int folder_ = -1;   // the target's folder, open while a file is
    int fd_ = -1;
    FILE* stream_ = nullptr;
    bool in_place_ = false;
    bool device_ = false;  // writing into a device or a pipe
};

// Makes a new folder beside `target` (in its folder, which must exist) under
// a unique name of the temporary files' form; its path, or empty with errno
// set.
std::string MakeTemporaryFolder(const std::string& target);

// Writes all `length` bytes to `fd`, retrying short writes and EINTR; false
// with errno set (a write that makes no progress reports ENOSPC).
bool WriteAll(int fd, const void* data, size_t length);
