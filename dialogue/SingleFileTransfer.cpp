#include "dialogue/SingleFileTransfer.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "crypto/Md5.h"
#include "foundation/FileOps.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/ReplacementFile.h"
#include "records/Config.h"
#include "transport/Sock.h"

namespace {

const char* const kZeroDigest = "00000000000000000000000000000000";
// A split file never has more pieces than its three-digit names allow.
const int kMaxPieces = 1000;

// Restores the socket's quiet flag and the activity state on every exit.
class TransferScope {
public:
    TransferScope(Sock* sock, unsigned state, const char* display) : sock_(sock), state_(state) {
        old_quiet_ = sock->quiet;
        sock->quiet = true;
        if (thread_manager) {
            thread_manager->SetState(state_);
            thread_manager->SetFilename(display);
        }
    }
    ~TransferScope() {
        sock_->quiet = old_quiet_;
        if (thread_manager) thread_manager->ResetState(state_);
    }

private:
    Sock* sock_;
    unsigned state_;
    bool old_quiet_;
};

void Progress(long long done) {
    if (!thread_manager) return;
    thread_manager->SetFileSize(done);
    thread_manager->KeepGoing();
}

std::string PiecePath(const std::string& dir, int index) {
    char suffix[16];
    snprintf(suffix, sizeof(suffix), "%c%03i", res ? res->separator : '/', index);
    return dir + suffix;
}

int EncryptFlag() { return config ? config->crypt : 1; }

}  // namespace

int SendFile(Sock* sock, const char* path_in, const char* display, MD5* md5) {
    std::string path;
    bool generated = false;
    if (path_in && strcmp(path_in, "SYSTEM_STATE") == 0) {
        path = std::string(res ? res->data_dir : "") + "system.bkf";
        generated = true;
    } else {
        path = LocalPath(path_in);
    }
    TransferScope scope(sock, 16, display ? display : path.c_str());

    int pieces = IsDir(path.c_str()) ? GetFileCount(path.c_str(), 0) : 0;
    long long total = 0;
    if (pieces > 0) {
        for (int i = 0; i < pieces; i++) {
            struct stat st;
            if (stat(PiecePath(path, i).c_str(), &st) == 0) total += st.st_size;
        }
    } else {
        struct stat st;
        if (stat(path.c_str(), &st) == 0) total = st.st_size;
    }
    if (thread_manager) thread_manager->SetTotalFileSize(total);

    long long done_total = 0;
    char* buffer = nullptr;
    FILE* f = nullptr;
    try {
        for (int index = 0; index < (pieces > 0 ? pieces : 1); index++) {
            std::string piece = pieces > 0 ? PiecePath(path, index) : path;
            f = fopen64(piece.c_str(), "rbe");
            if (!f) {
                if (!VerifyFileExists(piece.c_str())) {
                    sock->Write("ERROR_FILE_DOES_NOT_EXIST");
                    PrintMessage("SendFile: (%s) does not exist", piece.c_str());
                    free(buffer);
                    return -7;
                }
                PrintMessage("SendFile: (%s) is read-protected", piece.c_str());
                sock->Write("ERROR_OPEN_FILE");
                free(buffer);
                return -5;
            }
            struct stat st;
            long long size = fstat(fileno(f), &st) == 0 ? (long long)st.st_size : 0;
            sock->FormatWrite("%lli %i %i %lli %s", size, index, pieces, total, kZeroDigest);
            sock->Read();
            long long offset = 0;
            if (strncmp(sock->read_buffer, "FILE_RESUME_PARTIAL", 19) == 0) {
                long long n = -1;
                char digest[64] = "";
                if (sscanf(sock->read_buffer, "FILE_RESUME_PARTIAL %lli %63s", &n, digest) == 2 && n >= 0 &&
                    n <= size) {
                    MD5 partial;
                    partial.PartialHashFile(piece.c_str(), n);
                    char local[33];
                    partial.GetHash(local);
                    if (strcmp(local, digest) == 0) {
                        PrintMessage("Continuing file transfert @ offset %i: %s", (int)n, piece.c_str());
                        sock->Write("FILE_RESUME_OK");
                        offset = n;
                    } else {
                        PrintMessage("Bad FILE_RESUME: %s != %s @ %i", local, digest, (int)n);
                        sock->Write("FILE_RESUME_ERROR");
                    }
                } else {
                    sock->Write("FILE_RESUME_ERROR");
                    PrintMessage("Bad FILE_RESUME command: %s", sock->read_buffer);
                }
                sock->Read();
            }
            if (strcmp(sock->read_buffer, "FILE_EXISTS") == 0) {
                PrintMessage("%s already backed up", piece.c_str());
                done_total += size;
                Progress(done_total);
                fclose(f);
                f = nullptr;
                continue;
            }
            if (strcmp(sock->read_buffer, "FILE_OPEN") != 0) {
                PrintMessage("SendFile: Client %s @ %s could not open file for writing", sock->name, sock->ip);
                fclose(f);
                free(buffer);
                return -2;
            }
            if (offset > 0 && fseeko64(f, offset, SEEK_SET) != 0) offset = 0;
            long long want = size + 1 < kSingleFileBlock ? size + 1 : kSingleFileBlock;
            char* grown = (char*)realloc(buffer, (size_t)want);
            if (!grown) ThrowSocketError("Could not allocate buffer");
            buffer = grown;
            long long sent = offset;
            while (sent < size) {
                long long chunk = size - sent < want ? size - sent : want;
                size_t n = fread(buffer, 1, (size_t)chunk, f);
                if (n == 0) break;
                if (md5) md5->Process(buffer, (int)n);
                sock->Write(buffer, (unsigned)n, 0, EncryptFlag());
                sent += n;
                Progress(done_total + sent);
            }
            if (sent < size) {
                PrintMessage("SendFile: (%s) sent %lli instead of %lli", piece.c_str(), sent, size);
                // The receiver stops at an empty packet: the dialogue stays in step.
                sock->Write("", 0, 0, EncryptFlag());
            } else {
                char extra;
                if (fread(&extra, 1, 1, f) == 1) {
                    struct stat now;
                    long long grown_by = fstat(fileno(f), &now) == 0 ? now.st_size - size : 1;
                    PrintMessage(
                        "SendFile: File %s has grown by %i bytes since i last met it POSSIBLE CORRUPTION (used to "
                        "be %i)",
                        piece.c_str(), (int)grown_by, (int)size);
                }
            }
            done_total += size;
            fclose(f);
            f = nullptr;
        }
    } catch (SocketError& e) {
        PrintMessage("SendFile(%s): Exception Caught: %s, rethrowing...", path.c_str(), e.message);
        if (f) fclose(f);
        free(buffer);
        throw SocketError(e.message, e.code);
    }
    free(buffer);
    if (generated) unlink(path.c_str());
    return 0;
}

namespace {

// The ".MD5" list of a split file: one "%03i digest date size" line per piece.
std::vector<std::string> ReadPieceList(const std::string& file) {
    std::vector<std::string> lines;
    FILE* f = fopen(file.c_str(), "re");
    if (!f) return lines;
    char line[512];
    while (fgets(line, sizeof(line), f)) {
        line[strcspn(line, "\r\n")] = 0;
        if (line[0]) lines.push_back(line);
    }
    fclose(f);
    return lines;
}

void WritePieceList(const std::string& file, const std::vector<std::string>& lines) {
    ReplacementFile list(file);
    FILE* f = list.Open() ? list.stream() : nullptr;
    if (!f) return;
    for (const std::string& l : lines) fprintf(f, "%s\n", l.c_str());
    if (!list.Commit()) PrintError("GetFile: could not write %s: %s", file.c_str(), strerror(errno));
}

// An existing regular file opened for appending (created when missing),
// never through a link; -1 with errno set.
int OpenForAppend(const std::string& target) {
    MakeParentDirectories(target);
    int fd = open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// Receives the data of one piece into `fd` until `size` bytes or an empty
// packet; returns the byte count. A failed write sets `errno_out` and the
// rest is received and dropped, so the dialogue stays in step.
long long ReceiveData(Sock* sock, int fd, long long size, MD5* md5, long long base, int& errno_out) {
    long long got = 0;
    while (got < size) {
        if (thread_manager) thread_manager->KeepGoing();
        unsigned n = sock->Read();
        if (n == 0) break;
        if (!errno_out && !WriteAll(fd, sock->read_buffer, n)) errno_out = errno;
        if (md5) md5->Process(sock->read_buffer, (int)n);
        got += n;
        Progress(base + got);
    }
    return got;
}

// The descriptor of a file being appended to, closed on every way out.
struct AppendFile {
    int fd = -1;
    ~AppendFile() {
        if (fd >= 0) close(fd);
    }
};

// A received file that `accept` turned down: the target stays as it was.
const int kRefused = -2;

// GetFile, with `accept` (when given) asked before a whole single file is
// put in place.
int ReceiveFile(Sock* sock, const char* path_in, const char* display, MD5* md5, const char* mode,
                const std::function<bool()>& accept) {
    std::string path;
    if (path_in && strcmp(path_in, "SYSTEM_STATE") == 0)
        path = std::string(res ? res->restore_dir : "") + "system.bkf";
    else
        path = LocalPath(path_in);
    TransferScope scope(sock, 32, display ? display : path.c_str());
    const bool append = mode && mode[0] == 'a';

    std::vector<std::string> list;
    std::string list_file = path + "/.MD5";
    long long received_total = 0;
    try {
        for (int index = 0;; index++) {
            sock->Read();
            if (strcmp(sock->read_buffer, "ERROR_OPEN_FILE") == 0) {
                PrintMessage("GetFile: client %s @ %s could not open file for reading", sock->name, sock->ip);
                return -1;
            }
            if (strcmp(sock->read_buffer, "ERROR_FILE_DOES_NOT_EXIST") == 0) {
                PrintMessage("GetFile: Remote file does not exist");
                return -3;
            }
            long long size = -1, total = 0;
            int piece = 0, count = 0;
            char digest[64] = "";
            if (sscanf(sock->read_buffer, "%lli %i %i %lli %63s", &size, &piece, &count, &total, digest) < 4 ||
                size < 0 || count < 0 || count > kMaxPieces || (count > 0 && (piece < 0 || piece >= count))) {
                PrintError("GetFile: incorrect size line (%s)", sock->read_buffer);
                sock->Write("ERROR_OPEN_FILE");
                return -6;
            }
            if (thread_manager) thread_manager->SetTotalFileSize(total);
            std::string target = path;
            if (count > 0) {
                if (index == 0) {
                    MakeDirectories(path.c_str());
                    list = ReadPieceList(list_file);
                }
                target = PiecePath(path, piece);
            }
            // Whether the target can be written is settled before the peer
            // is told to send: a folder, or a file this process could not
            // open for writing, is refused here rather than after the data.
            // A replaced file is written under a temporary name and renamed
            // once complete; an append has to grow the file in place.
            ReplacementFile replacement(target);
            AppendFile appended;
            int fd = -1;
            if (append) {
                fd = appended.fd = OpenForAppend(target);
            } else if (replacement.Open(0666, true)) {
                fd = replacement.fd();
            }
            if (fd < 0) {
                int saved = errno;
                sock->Write("ERROR_OPEN_FILE");
                PrintMessage("GetFile: could not open %s for writing: %s", target.c_str(), strerror(saved));
                return -6;
            }
            sock->Write("FILE_OPEN");
            int failure = 0;
            long long got = ReceiveData(sock, fd, size, md5, received_total, failure);
            received_total += got;
            if (got != size) PrintMessage("GetFile: (%s) received %lli instead of %lli", target.c_str(), got, size);
            if (failure) {
                // The temporary file goes with `replacement`: the target stays as it was.
                PrintError("GetFile: could not write %s: %s", target.c_str(), strerror(failure));
                return -6;
            }
            if (accept && count == 0 && !append && !accept()) return kRefused;
            bool closed = append ? close(fd) == 0 : replacement.Commit();
            if (append) appended.fd = -1;
            if (!closed) {
                PrintMessage("GetFile: CloseFILE(%s): %s", target.c_str(), strerror(errno));
                return -6;
            }
            if (count == 0) break;

            MD5 piece_md5;
            piece_md5.HashFile(const_cast<char*>(target.c_str()));
            char hex[33];
            piece_md5.GetHash(hex);
            struct stat st;
            unsigned date = stat(target.c_str(), &st) == 0 ? (unsigned)st.st_mtime : 0;
            long long piece_size = stat(target.c_str(), &st) == 0 ? (long long)st.st_size : 0;
            char line[128];
            snprintf(line, sizeof(line), "%03i %s %u %lli", piece, hex, date, piece_size);
            if (piece < (int)list.size())
                list[piece] = line;
            else if (piece == (int)list.size())
                list.push_back(line);
            else
                PrintMessage(
                    "GetFile: Je viens de faire le hash du fichier, mais la pile md5s n'est pas la bonne taille (%i / "
                    "%i / %s)",
                    piece, (int)list.size(), target.c_str());
            WritePieceList(list_file, list);
            if (piece + 1 >= count) break;
        }
    } catch (SocketError& e) {
        // The file being received goes with its scope: the target stays as it was.
        PrintMessage("GetFile(%s): Socket Exception Caught: %s, rethrowing...", path.c_str(), e.message);
        throw SocketError(e.message, e.code);
    }
    return 0;
}

}  // namespace

int GetFile(Sock* sock, const char* path, const char* display, MD5* md5, const char* mode) {
    return ReceiveFile(sock, path, display, md5, mode, nullptr);
}

int SynchroniseFile(Sock* sock, const char* local, const char* remote, int apply) {
    sock->FormatWrite("md5sum %s", remote);
    sock->Read();
    char announced[64];
    snprintf(announced, sizeof(announced), "%s", sock->read_buffer);
    if (strcmp(announced, "d41d8cd98f00b204e9800998ecf8427e") == 0) return -1;
    MD5 local_md5;
    local_md5.HashFile(const_cast<char*>(local));
    char digest[33];
    local_md5.GetHash(digest);
    if (strcmp(digest, announced) == 0) return -4;
    if (!apply) return 0;
    PrintMessage("SynchroniseFile(%s, %s): must download new version", local, remote);
    sock->FormatWrite("send %s", remote);
    // Only a download with the announced digest replaces the local file.
    MD5 downloaded;
    int received = ReceiveFile(sock, local, nullptr, &downloaded, "wb", [&] {
        char got[33];
        downloaded.GetHash(got);
        return strcmp(got, announced) == 0;
    });
    if (received == 0) {
        PrintMessage("SynchroniseFile(%s, %s): SUCCESS", local, remote);
        return 0;
    }
    if (received == -6) {
        PrintMessage("SynchroniseFile(%s, %s): Copy tmp file into original failed", local, remote);
        return -3;
    }
    PrintMessage("SynchroniseFile(%s, %s): Downloaded version different from remote version", local, remote);
    return -2;
}
