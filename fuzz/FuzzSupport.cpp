#include "fuzz/FuzzSupport.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/Log.h"
#include "foundation/ProcessLayout.h"
#include "support/TestHome.h"

namespace {

TestHome* home = nullptr;
std::string home_dir;
ProcessFolders quiet_folders;

void TearDown() {
    delete home;
    home = nullptr;
}

// Millions of inputs would fill the disk with log lines: the log files and
// the console go to a null device of the home's own, when one can be made.
void SilenceLogs() {
    if (getenv("ZEL_FUZZ_VERBOSE")) return;
    std::string sink = home_dir + "null";
    if (!MakeMemoryDevice(sink, false)) return;
    int fd = open(sink.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    fflush(stdout);
    dup2(fd, STDOUT_FILENO);
    close(fd);
    static std::string path;
    path = sink;
    quiet_folders = *process_folders();
    quiet_folders.messages_file = quiet_folders.errors_file = path.c_str();
    quiet_folders.events_file = quiet_folders.debug_file = path.c_str();
    SetProcessFolders(&quiet_folders);
    CloseFILE(file_message);
    CloseFILE(file_error);
    CloseFILE(file_event);
}

void Grow(int fd) {
    int size = 8 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof(size)) != 0)
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (home) return 0;
    home = new TestHome();
    home_dir = home->dir() + "/";
    SilenceLogs();
    atexit(TearDown);
    return 0;
}

const std::string& FuzzDir() { return home_dir; }

std::string FreshWorkDir() {
    std::string work = home_dir + "work";
    // Inputs may leave folders without permissions behind.
    chmod(work.c_str(), 0700);
    RemoveTree(work);
    mkdir(work.c_str(), 0700);
    return work + "/";
}

void FedSock::Adopt(int type) {
    int fds[2];
    if (socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, fds) != 0) abort();
    Grow(fds[0]);
    Grow(fds[1]);
    peer_ = fds[1];
    sock_ = new Sock(AF_UNIX, type, 0, fds[0]);
    sock_->quiet = true;
    sock_->authenticated = true;
    sock_->SetTimeout(1);
}

FedSock::FedSock(const uint8_t* data, size_t size) {
    Adopt(SOCK_STREAM);
    if (size > kMaxFedBytes) size = kMaxFedBytes;
    while (size > 0) {
        ssize_t n = write(peer_, data, size);
        if (n <= 0) abort();
        data += n;
        size -= (size_t)n;
    }
    shutdown(peer_, SHUT_WR);
}

FedSock::FedSock(const std::vector<std::string>& messages) {
    Adopt(SOCK_SEQPACKET);
    for (const std::string& m : messages)
        if (send(peer_, m.data(), m.size(), 0) != (ssize_t)m.size()) abort();
    shutdown(peer_, SHUT_WR);
}

FedSock::~FedSock() {
    delete sock_;
    close(peer_);
}

void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) abort();
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) abort();
        data += n;
        size -= (size_t)n;
    }
    close(fd);
}

std::vector<std::string> SplitLines(const uint8_t* data, size_t size, size_t longest) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < size; i++) {
        line += (char)data[i];
        if (data[i] == '\n' || line.size() + 1 >= longest) {
            lines.push_back(line);
            line.clear();
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}
