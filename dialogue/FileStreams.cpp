// The backup direction: files and texts sent as typed fast records.
#include "dialogue/FileStreams.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "crypto/Md5.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/TemporaryNames.h"
#include "foundation/Text.h"
#include "transport/Sock.h"

namespace {

const long long kRecordData = 4194304;  // one read buffer, one record

// Up to `count` bytes of `fd`, fewer only at its end; -1 on an error.
ssize_t ReadSome(int fd, char* out, size_t count) {
    size_t got = 0;
    while (got < count) {
        ssize_t n = read(fd, out + got, count - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return got > 0 ? (ssize_t)got : -1;
        if (n == 0) break;
        got += (size_t)n;
    }
    return (ssize_t)got;
}

void SetSending(const char* name, long long total) {
    if (!thread_manager) return;
    thread_manager->SetState(16);
    thread_manager->SetFilename(name);
    thread_manager->SetTotalFileSize(total);
}

}  // namespace

int MultiSendFile(Sock* sock, const char* path_in, const char* fallback_in) {
    std::string path = LocalPath(path_in);
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        bool found = false;
        if (fallback_in && strcmp(fallback_in, path_in) != 0) {
            PrintMessage("MultiSendFile(%s): File does not exist", path.c_str());
            std::string fallback = LocalPath(fallback_in);
            if (lstat(fallback.c_str(), &st) == 0) {
                PrintMessage("MultiSendFile(%s): Original file found", fallback.c_str());
                path = fallback;
                found = true;
            }
        }
        if (!found) {
            sock->FastWrite(-2, nullptr, 0, 0);
            return -7;
        }
    }
    const bool link = S_ISLNK(st.st_mode);
    // Only regular files and links carry content; a device or a pipe is sent
    // as metadata alone (reading one could block or never end).
    long long size = (S_ISREG(st.st_mode) || link) ? (long long)st.st_size : 0;
    long long total = size + 32 + (link ? 14 : 0);
    SetSending(fallback_in ? fallback_in : path.c_str(), total);

    int file = -1;
    char* buffer = nullptr;
    try {
        char meta[40];
        snprintf(meta, sizeof(meta), "M_UNIX%08x.%08x.%08x", (unsigned)st.st_uid, (unsigned)st.st_gid,
                 (unsigned)st.st_mode);
        sock->FastWrite(0, meta, 32, total);
        long long sent = 32;
        if (link) {
            std::vector<char> target((size_t)size + 15 + 1);
            ssize_t n = readlink(path.c_str(), target.data() + 14, (size_t)size + 1);
            if (n < 0) n = 0;
            if (n > size) n = size;  // the link changed under us: keep what was announced
            char head[16];
            snprintf(head, sizeof(head), "M_LINK%08x", (unsigned)n);
            memcpy(target.data(), head, 14);
            PrintDebug("SENDING LINK (%i): %s", (int)n, path.c_str());
            sock->FastWrite(1, target.data(), (int)(14 + n), total);
            sent = 32 + 14 + n;
        } else if (sent < total) {
            // Not blocking, and checked after opening: a pipe swapped in since
            // lstat must not hang the dialogue.
            int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            struct stat opened;
            if (fd >= 0 && (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode))) {
                close(fd);
                fd = -1;
                errno = EINVAL;
            }
            if (fd < 0) {
                PrintMessage("MultiSendFile(%s): is read-protected (%s)", path.c_str(), strerror(errno));
                sock->FastWrite(-1, nullptr, 0, 0);
                if (thread_manager) thread_manager->ResetState(16);
                return -5;
            }
            file = fd;
            int record = 1;
            for (;;) {
                if (thread_manager) thread_manager->KeepGoing();
                // The announced bytes are read straight into the packet. A
                // file that has grown is read on through a side buffer, so
                // the empty read that ends a file of the announced size
                // changes nothing in the packet (only a file that shrank
                // while read may close its packet a record early).
                ssize_t n;
                if (sent < total) {
                    long long chunk = total - sent < kRecordData ? total - sent : kRecordData;
                    char* room = sock->FastReserve((int)chunk);
                    n = ReadSome(fd, room, (size_t)chunk);
                    if (n <= 0) break;
                    sock->FastCommit(record++, (int)n, total);
                } else {
                    size_t grown = (size_t)std::min(10240LL, std::min(total, kRecordData));
                    if (!buffer) buffer = (char*)malloc(grown);
                    if (!buffer) {
                        PrintMessage("MultiSendFile: Could not allocate buffer (%i bytes + 1)", (int)grown);
                        ThrowSocketError("MultiSendFile: Memory allocation exception");
                    }
                    n = ReadSome(fd, buffer, grown);
                    if (n <= 0) break;
                    sock->FastWrite(record++, buffer, (int)n, total);
                }
                sent += n;
                if (thread_manager) thread_manager->SetFileSize(sent);
            }
            close(file);
            file = -1;
            free(buffer);
            buffer = nullptr;
            if (sent > total)
                PrintMessage(
                    "MultiSendFile(%s): File has grown by %lli bytes since i last met it (used to be %lli)",
                    path.c_str(), sent - total, total);
            else if (sent < total)
                PrintMessage(
                    "MultiSendFile(%s): File has shrunk by %lli bytes since i last met it (used to be %lli)",
                    path.c_str(), total - sent, total);
        }
        sock->FastWrite(-3, nullptr, 0, 0);
    } catch (SocketError& e) {
        PrintMessage("MultiSendFile(%s): Exception Caught: %s, rethrowing...", path.c_str(), e.message);
        if (file >= 0) close(file);
        free(buffer);
        if (thread_manager) thread_manager->ResetState(16);
        throw SocketError(e.message, e.code);
    }
    if (thread_manager) thread_manager->ResetState(16);
    PrintDebug("~MultiSendFile(%s)", path.c_str());
    return 0;
}

int MultiSendFiles(Sock* sock, char* list, int flag) {
    int count = 0;
    // Names are cut at line feeds only: the walk lists a name ending in a
    // carriage return like any other, and it must be found again here.
    for (const std::string& name : SplitAtLineFeeds(list)) {
        std::string object = name;
        bool created = false;
        char* temp = GetTemporaryFilename(&object[0], (unsigned)flag, created, nullptr);
        if (temp) {
            PrintDebug("Using temp name (%s) for (%s)", temp, name.c_str());
            MultiSendFile(sock, temp, name.c_str());
            if (created) unlink(temp);
            delete[] temp;
        } else {
            MultiSendFile(sock, name.c_str(), name.c_str());
        }
        count++;
    }
    PrintMessage("NO MORE TO DO: sent %i files", count);
    sock->FastSend();
    PrintMessage("Sent last packet");
    return 0;
}

int MultiSendSimpleFile(Sock* sock, long long size, const char* path_in, const char* fallback) {
    std::string path = LocalPath(path_in);
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && fallback) fd = open(LocalPath(fallback).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // Decided before writing: the record's own work may change errno.
        bool missing = errno == ENOENT;
        sock->FastWrite(missing ? -2 : -1, nullptr, 0, 0);
        return missing ? -7 : -5;
    }
    if (size == 0) {
        sock->FastWrite(0, nullptr, 0, 0);
    } else {
        // Read straight into the open packet.
        int chunk = (int)(size < kRecordData ? size : kRecordData);
        long long sent = 0;
        int record = 0;
        while (sent < size) {
            char* room = sock->FastReserve(chunk);
            ssize_t n = read(fd, room, (size_t)chunk);
            if (n <= 0) {
                if (n == 0)
                    PrintMessage("MultiSendFile(%s): read == 0 (%i)", path.c_str(), (int)sent);
                else
                    PrintMessage("MultiSendFile(%s): read == 0 (ferror: %i %s)", path.c_str(), errno,
                                 strerror(errno));
                break;
            }
            sock->FastCommit(record++, (int)n, size);
            sent += n;
        }
    }
    close(fd);
    sock->FastWrite(-3, nullptr, 0, 0);
    return 0;
}

int MultiSendString(Sock* sock, const char* text, int length) {
    if (!text) {
        sock->FastWrite(length < 0 ? length : -1, nullptr, 0, 0);
        return -1;
    }
    const int kPiece = 153600;
    int record = 0;
    for (int sent = 0; sent < length; sent += kPiece) {
        int n = length - sent < kPiece ? length - sent : kPiece;
        sock->FastWrite(record++, const_cast<char*>(text + sent), n, length);
    }
    sock->FastWrite(-3, nullptr, 0, 0);
    return 0;
}
