// The restore direction: records received, files written under temporary
// names and renamed when complete, owner, mode and time applied without
// following links.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "crypto/Md5.h"
#include "dialogue/FileStreams.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/ReplacementFile.h"
#include "foundation/Text.h"
#include "transport/Sock.h"

namespace {

// A link target longer than the system accepts cannot be created anyway;
// what a stream announces beyond this is read and dropped.
const long long kMaxLinkTarget = 65536;
// A stream name is one file name component of the system.
const long long kMaxStreamName = 255;

// Receives one file's records and applies them. Owns the temporary files.
class FileReceiver {
  public:
    FileReceiver(Sock* sock, const std::string& path, MD5* md5, bool metadata)
        : sock_(sock), path_(path), md5_(md5), metadata_(metadata), out_(path), rsrc_(path + ".rsrc") {}

    long long Run(unsigned mtime);

  private:
    // Consumes metadata items from the front of one record; returns how many
    // bytes of it were metadata.
    int ConsumeMetadata(const char* data, int length);
    void OpenOutput();
    void Write(const char* data, int length);
    void WriteResource(const char* data, int length);
    // An alternate data stream: written as it comes to "<path>:<name>",
    // which replaces its previous content once the stream is complete.
    void OpenStream(const std::string& name);
    void WriteStream(const char* data, int length);
    void CloseStream();
    long long Finish(unsigned mtime);
    long long FinishLink(bool perms, unsigned uid, unsigned gid, unsigned mtime);
    void MakeLink();

    Sock* sock_;
    std::string path_;
    MD5* md5_;
    bool metadata_;
    ReplacementFile out_;
    ReplacementFile rsrc_;
    std::unique_ptr<ReplacementFile> stream_;  // the alternate data stream being received
    bool in_data_ = false;
    bool write_failed_ = false;  // no output for this file; its data is dropped
    bool rsrc_failed_ = false;
    bool empty_ = false;
    bool have_unix_ = false;
    char unix_[27] = "";
    bool is_link_ = false;
    std::string link_target_;
    long long link_left_ = 0;  // target bytes still expected
    long long rsrc_left_ = 0;  // resource-fork bytes still expected
    long long stream_left_ = 0;  // alternate-stream bytes still expected
    long long received_ = 0;
};

int FileReceiver::ConsumeMetadata(const char* data, int length) {
    int pos = 0;
    while (pos < length) {
        const char* p = data + pos;
        int left = length - pos;
        if (link_left_ > 0) {
            int take = (int)(left < link_left_ ? left : link_left_);
            long long room = kMaxLinkTarget - (long long)link_target_.size();
            if (room > 0) link_target_.append(p, (size_t)(take < room ? take : room));
            link_left_ -= take;
            pos += take;
            continue;
        }
        if (rsrc_left_ > 0) {
            int take = (int)(left < rsrc_left_ ? left : rsrc_left_);
            WriteResource(p, take);
            rsrc_left_ -= take;
            pos += take;
            continue;
        }
        if (stream_left_ > 0) {
            int take = (int)(left < stream_left_ ? left : stream_left_);
            WriteStream(p, take);
            stream_left_ -= take;
            pos += take;
            if (stream_left_ == 0) CloseStream();
            continue;
        }
        if (left < 6) break;
        // Eight hexadecimal digits at `at` in this record.
        auto hex8 = [&](long long& out, long long at = 6) -> bool {
            if (left < at + 8) return false;
            char digits[9];
            memcpy(digits, p + at, 8);
            digits[8] = 0;
            char* end = nullptr;
            out = (long long)strtoul(digits, &end, 16);
            return end == digits + 8;
        };
        if (!strncmp(p, "M_UNIX", 6) && left >= 32) {
            memcpy(unix_, p + 6, 26);
            unix_[26] = 0;
            have_unix_ = true;
            pos += 32;
        } else if (!strncmp(p, "M_LINK", 6)) {
            long long n;
            if (!hex8(n)) break;
            is_link_ = true;
            link_left_ = n;
            pos += 14;
        } else if (!strncmp(p, "M_WFAT", 6) && left >= 14) {
            pos += 14;
        } else if (!strncmp(p, "M_FIFO", 6) && left >= 42) {
            pos += 42;
        } else if (!strncmp(p, "M_XRSC", 6)) {
            long long n;
            if (!hex8(n)) break;
            rsrc_left_ = n;
            pos += 14;
        } else if (!strncmp(p, "M_WADS", 6)) {
            // The name's length, the name and the data's length, all in this
            // record; the data follows, possibly over the next records.
            long long n = 0, d = 0;
            if (!hex8(n) || n > kMaxStreamName || !hex8(d, 14 + n)) {
                pos = length;  // not understood: the rest of the record is the stream's
                continue;
            }
            OpenStream(std::string(p + 14, (size_t)n));
            stream_left_ = d;
            pos += 22 + (int)n;
            if (stream_left_ == 0) CloseStream();
        } else if (!strncmp(p, "M_WACL", 6)) {
            // An access list has no meaning here: the rest of the record is
            // its and is not applied.
            pos = length;
        } else {
            break;
        }
    }
    return pos;
}

void FileReceiver::OpenOutput() {
    // After a failure the file stays without output: opening again would
    // let the rest of the data through and rename a file with a hole.
    if (out_.IsOpen() || write_failed_) return;
    if (!out_.Open(0666, true)) {
        PrintMessage("MultiGetFile(%s) : Could not open file for writing, no output [%s]", path_.c_str(),
                     strerror(errno));
        write_failed_ = true;
    }
}

void FileReceiver::Write(const char* data, int length) {
    if (length <= 0) return;
    received_ += length;
    if (md5_) md5_->Process(data, length);
    if (thread_manager) thread_manager->SetFileSize(received_);
    if (write_failed_ || !out_.IsOpen()) return;
    if (!out_.Write(data, (size_t)length)) {
        if (errno == ENOSPC)
            PrintMessage("MultiGetFile(%s) : Disk is full", path_.c_str());
        else
            PrintMessage("MultiGetFile(%s) : fwrite returns 0 (%i / %s)", path_.c_str(), errno,
                         strerror(errno));
        // The rest of this file is received and dropped; the previous file
        // stays as it was.
        write_failed_ = true;
        out_.Discard();
    }
}

void FileReceiver::WriteResource(const char* data, int length) {
    if (rsrc_failed_ || length <= 0) return;
    if (!rsrc_.IsOpen() && !rsrc_.Open(0666, true)) {
        PrintMessage("Could not open rsrc for writing (%s)", path_.c_str());
        rsrc_failed_ = true;
        return;
    }
    if (!rsrc_.Write(data, (size_t)length)) {
        PrintMessage("Could not open rsrc for writing (%s)", path_.c_str());
        rsrc_failed_ = true;
        rsrc_.Discard();
    }
}

void FileReceiver::OpenStream(const std::string& name) {
    stream_.reset();
    std::string target = path_ + ":" + name;
    // The name must stay one component beside the file.
    if (!IsSafePathComponent(name.c_str()) || name.size() != strlen(name.c_str())) {
        PrintMessage("MultiGetFile(%s) : Could not open file for writing, no output [%s]", target.c_str(),
                     strerror(EINVAL));
        return;
    }
    stream_.reset(new ReplacementFile(target));
    if (!stream_->Open(0666, true)) {
        PrintMessage("MultiGetFile(%s) : Could not open file for writing, no output [%s]", target.c_str(),
                     strerror(errno));
        stream_.reset();
    }
}

void FileReceiver::WriteStream(const char* data, int length) {
    if (!stream_ || length <= 0) return;
    if (!stream_->Write(data, (size_t)length)) {
        PrintMessage("MultiGetFile(%s) : fwrite returns 0 (%i / %s)", stream_->target().c_str(), errno,
                     strerror(errno));
        stream_.reset();  // the stream's previous content stays
    }
}

void FileReceiver::CloseStream() {
    if (stream_ && !stream_->Commit(false))
        PrintMessage("MultiGetFile(%s) : fclose failed", stream_->target().c_str());
    stream_.reset();
}

void FileReceiver::MakeLink() {
    if (symlink(link_target_.c_str(), path_.c_str()) == 0) {
        PrintMessage("LINK(%i) %s to %s", (int)link_target_.size(), path_.c_str(), link_target_.c_str());
        return;
    }
    if (errno == ENOENT) {
        PrintMessage("Link problem, trying to reconstruct directories");
        MakeParentDirectories(path_);
    } else if (errno == EEXIST) {
        PrintMessage("Link(%s) existed already, replacing", path_.c_str());
        // A folder in the way stays: only a file or a link is replaced.
        unlink(path_.c_str());
    }
    if (symlink(link_target_.c_str(), path_.c_str()) == 0)
        PrintMessage("LINK(%i) %s to %s", (int)link_target_.size(), path_.c_str(), link_target_.c_str());
    else
        PrintMessage("LINK FAILED (%s): %s", path_.c_str(), strerror(errno));
}

long long FileReceiver::FinishLink(bool perms, unsigned uid, unsigned gid, unsigned mtime) {
    out_.Discard();
    MakeLink();
    // The link itself, never what it points to: no chmod (a link has no mode
    // of its own), lchown and the link's own times.
    if (perms && lchown(path_.c_str(), uid, gid) != 0)
        PrintMessage("MultiGetFile(%s): lchown: %s", path_.c_str(), strerror(errno));
    if (mtime) SetFileModifyDate(path_.c_str(), mtime);
    return received_;
}

long long FileReceiver::Finish(unsigned mtime) {
    if (thread_manager) thread_manager->ResetState(32);
    unsigned uid = 0, gid = 0, mode = 0;
    bool perms = false;
    if (have_unix_) {
        if (sscanf(unix_, "%08x.%08x.%08x", &uid, &gid, &mode) == 3)
            perms = true;
        else
            PrintMessage("MultiGetFile(%s): unix permissions incorrect (%s)", path_.c_str(), unix_);
    }
    if (is_link_) return FinishLink(perms, uid, gid, mtime);
    if (rsrc_.IsOpen() && !rsrc_.Commit(false))
        PrintMessage("Could not open rsrc for writing (%s)", path_.c_str());
    CloseStream();
    if (!out_.IsOpen() && !write_failed_ && received_ == 0) OpenOutput();  // an empty file
    if (!out_.IsOpen()) {
        PrintMessage("MultiGetFile(%s) : no file out, received %u", path_.c_str(), (unsigned)received_);
        return -6;
    }
    int fd = out_.fd();
    // Without "M_UNIX" the new file keeps the owner and mode of the one it
    // replaces (given at Open). Owner before mode: a chown after chmod would clear set-id bits. Both on
    // the open file, so no link planted at the path can redirect them.
    if (perms) {
        if (fchown(fd, uid, gid) != 0 && geteuid() == 0)
            PrintMessage("MultiGetFile(%s): chown: %s", path_.c_str(), strerror(errno));
        fchmod(fd, mode & 07777);
    }
    if (mtime) {
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = (time_t)mtime;
        times[0].tv_nsec = times[1].tv_nsec = 0;
        futimens(fd, times);
    }
    // No wait for the disk per file: a restore writes millions of them, and
    // one cut by a crash is run again.
    if (!out_.Commit(false)) {
        PrintMessage("MultiGetFile(%s) : fclose failed", path_.c_str());
        return -6;
    }
    return received_;
}

long long FileReceiver::Run(unsigned mtime) {
    if (thread_manager) {
        thread_manager->SetState(32);
        thread_manager->SetFilename(path_.c_str());
    }
    bool first = true;
    for (;;) {
        char* data = nullptr;
        int length = 0;
        long long value = 0;
        int type = sock_->FastRead(data, length, value);
        if (thread_manager) thread_manager->KeepGoing();
        if (type == -3) return Finish(mtime);
        if (type == -1 || type == -2 || type == -4) {
            if (thread_manager) thread_manager->ResetState(32);
            out_.Discard();
            rsrc_.Discard();
            stream_.reset();
            if (type == -1) {
                PrintMessage("Client could not open file for reading...");
                return -1;
            }
            if (type == -2) {
                PrintMessage("Client says file doesn't exist...");
                return -3;
            }
            PrintMessage("Client says file is corrupted");
            return -4;
        }
        if (type < 0) continue;
        if (length < 0) length = 0;
        if (first && type == 0 && value == 0) {
            // A totally empty file (a sender without metadata announces it
            // so): it is created at the end record; whatever comes before
            // that record belongs to this file and is dropped.
            PrintMessage("MultiGetFile(%s) : Dealing with a totally empty file...exiting", path_.c_str());
            empty_ = true;
            first = false;
            continue;
        }
        first = false;
        if (empty_) continue;
        if (type == 0 && thread_manager) thread_manager->SetTotalFileSize(value);
        int consumed = 0;
        if (metadata_ && !in_data_) {
            consumed = ConsumeMetadata(data, length);
            if (consumed < length && link_left_ == 0 && rsrc_left_ == 0 && stream_left_ == 0) in_data_ = true;
        } else {
            in_data_ = true;
        }
        if (is_link_) continue;  // a link carries no content
        if (type == 0 || in_data_) OpenOutput();
        if (in_data_) Write(data + consumed, length - consumed);
    }
}

}  // namespace
long long MultiGetFile(Sock* sock, const char* path, const char* display, MD5* md5, unsigned metadata,
                       unsigned mtime) {
    std::string local = LocalPath(path);
    FileReceiver receiver(sock, local, md5, metadata != 0);
    try {
        return receiver.Run(mtime);
    } catch (SocketError& e) {
        PrintMessage("MultiGetFile(%s): exception caught: %s, rethrowing...", local.c_str(), e.message);
        if (thread_manager) thread_manager->ResetState(32);
        throw SocketError(e.message, e.code);
    }
}

int MultiGetFiles(Sock* sock, char* list, int relocate, const char* directory) {
    std::string dir = directory ? directory : (res ? res->restore_dir : "");
    int count = 0;
    for (const std::string& line : SplitLines(list)) {
        size_t tab = line.find('\t');
        std::string name = line.substr(0, tab);
        unsigned mtime = tab == std::string::npos ? 0 : (unsigned)atol(line.c_str() + tab + 1);
        bool special = name == "SYSTEM_STATE" || name.compare(0, 16, "EXCHANGE|MAILBOX") == 0 ||
                       name.compare(0, 13, "EXCHANGE|FULL") == 0 || name.compare(0, 6, "SHARE|") == 0;
        std::string target;
        if (!relocate && !special) {
            target = name;
        } else {
            std::string n = name;
            if (!n.empty() && n[0] == '|') n.erase(0, 1);
            if (n.size() > 1 && n[1] == ':') n[1] = '_';
            auto field = [&](int index) {
                size_t start = 0;
                for (int i = 0; i < index; i++) {
                    start = n.find('|', start);
                    if (start == std::string::npos) return std::string();
                    start++;
                }
                return n.substr(start, n.find('|', start) - start);
            };
            if (n == "SYSTEM_STATE") {
                target = dir + "system.bkf";
            } else if (n.compare(0, 13, "EXCHANGE|FULL") == 0) {
                target = dir + "EXCHANGE|Exchange_" + field(2) + ".bkf";
            } else if (n.compare(0, 16, "EXCHANGE|MAILBOX") == 0) {
                target = dir + "EXCHANGE|" + field(2) + ".PST";
            } else if (dir.compare(0, 6, "SHARE|") == 0) {
                size_t bar = n.find('|');
                target = std::string(res ? res->app_dir : "") + "share|" + dir.substr(6) +
                         (bar == std::string::npos ? n : n.substr(bar + 1));
            } else {
                target = dir + n;
            }
        }
        MultiGetFile(sock, target.c_str(), name.c_str(), nullptr, 1, mtime);
        count++;
    }
    PrintMessage("NO MORE TO DO: received %i files", count);
    PrintMessage("Got last packet");
    return 0;
}
