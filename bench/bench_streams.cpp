// Backup streams over loopback, in one process: the agent's listener serves
// a client that runs the server's side of "list_files_to_save" and
// "send_fast". Each figure stands beside a reference measured in the same
// run on the same data, warm cache, five alternated runs. The client
// connects as a remote server does (from 127.0.0.2, through the challenge,
// encrypted):
//   - listing a generated tree: files per second, against
//     find DIR -printf '%p %s %T@\n';
//   - "send_fast" of one large file: MB/s against a raw socket copy that
//     reads the same file;
//   - "send_fast" of many 1 KiB files: files per second against
//     tar -cf - DIR | cat > /dev/null;
//   - "get_fast" of those files in place, each replacing the file that is
//     there: files per second against tar -xf of the same tree over it.
// Generated trees are removed at the end.
//
// Usage: bench_streams [list files] [big MiB] [small files]
//        (default 200000, 256, 20000; 20000, 64, 3000 when quick)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BenchServer.h"
#include "BenchSupport.h"
#include "agent/Lifecycle.h"
#include "core/Globals.h"
#include "dialogue/Listener.h"
#include "foundation/Threads.h"
#include "records/Config.h"
#include "transport/Sock.h"

namespace {

std::string Bar(std::string s) {
    std::replace(s.begin(), s.end(), '/', '|');
    return s;
}

long PeakKiB() {
    FILE* f = fopen("/proc/self/status", "r");
    char line[256];
    long kib = -1;
    while (f && fgets(line, sizeof(line), f))
        if (!strncmp(line, "VmHWM:", 6)) kib = atol(line + 6);
    if (f) fclose(f);
    return kib;
}

void WriteFile(const std::string& path, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    std::vector<char> block(std::min(size, (size_t)1 << 20));
    for (size_t i = 0; i < block.size(); i++) block[i] = (char)(i * 131 + size);
    for (size_t done = 0; done < size;) {
        size_t n = std::min(block.size(), size - done);
        if (write(fd, block.data(), n) != (ssize_t)n) break;
        done += n;
    }
    close(fd);
}

// `files` files of `size` bytes spread over `folders` folders under `root`;
// returns their paths.
std::vector<std::string> MakeTree(const std::string& root, int files, int folders, size_t size) {
    std::vector<std::string> paths;
    mkdir(root.c_str(), 0755);
    for (int f = 0; f < folders; f++) mkdir((root + "/folder" + std::to_string(f)).c_str(), 0755);
    for (int i = 0; i < files; i++) {
        std::string p =
            root + "/folder" + std::to_string(i % folders) + "/file-" + std::to_string(i) + ".dat";
        WriteFile(p, size ? size : (size_t)(i % 200));
        paths.push_back(p);
    }
    return paths;
}

// Raw TCP copy of a file over loopback: the sender reads it, the receiver
// drops it, as the server side below drops the records. MB/s.
double RawCopy(const std::string& from, size_t bytes) {
    int lfd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(lfd, (sockaddr*)&a, sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(lfd, (sockaddr*)&a, &len);
    listen(lfd, 1);
    double start = Now();
    std::thread reader([&] {
        int fd = accept(lfd, nullptr, nullptr);
        std::vector<char> buf(1 << 20);
        size_t got = 0;
        while (got < bytes) {
            ssize_t n = recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0) break;
            got += (size_t)n;
        }
        close(fd);
    });
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    connect(fd, (sockaddr*)&a, sizeof(a));
    std::vector<char> buf(4 << 20);
    int in = open(from.c_str(), O_RDONLY);
    for (;;) {
        ssize_t n = read(in, buf.data(), buf.size());
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            ssize_t s = send(fd, buf.data() + off, (size_t)(n - off), 0);
            if (s <= 0) break;
            off += s;
        }
    }
    close(in);
    close(fd);
    reader.join();
    close(lfd);
    return bytes / (Now() - start) / 1e6;
}

// The server's side of one listing; the number of catalogue lines.
size_t ListOverTheWire(Sock& sock, const std::string& rules) {
    sock.Write("list_files_to_save 1");
    sock.Read();
    sock.Write(rules.c_str());
    size_t lines = 0;
    for (;;) {
        unsigned n = sock.Read();
        if (n == 9 && !memcmp(sock.read_buffer, "LIST_DONE", 9)) return lines;
        lines += (size_t)std::count(sock.read_buffer, sock.read_buffer + n, '\n');
    }
}

// The server's side of one "send_fast"; the data bytes received.
long long SendFast(Sock& sock, const std::string& list, size_t files) {
    sock.Write("send_fast 1");
    sock.Read();
    sock.Write(list.data(), (unsigned)list.size());
    long long bytes = 0;
    for (size_t done = 0; done < files;) {
        char* data;
        int length;
        long long value;
        int type = sock.FastRead(data, length, value);
        if (type > 0) bytes += length;
        if (type == -3 || type == -2 || type == -1) done++;
    }
    return bytes;
}

// The server's side of one "get_fast normal": every file of `paths` gets
// `content` with mode 0644; true when the agent answers the echo after it.
bool GetFast(Sock& sock, const std::vector<std::string>& paths, std::string content) {
    sock.Write("get_fast normal");
    sock.Read();
    std::string list;
    for (const std::string& p : paths) list += Bar(p) + "\t0\n";
    sock.Write(list.data(), (unsigned)list.size());
    char unix_text[40];
    snprintf(unix_text, sizeof(unix_text), "M_UNIX%08x.%08x.%08x", 0u, 0u, 0100644u);
    long long total = (long long)content.size() + 32;
    for (size_t i = 0; i < paths.size(); i++) {
        sock.FastWrite(0, unix_text, 32, total);
        sock.FastWrite(1, &content[0], (int)content.size(), total);
        sock.FastWrite(-3, nullptr, 0, 0);
    }
    sock.FastSend();
    sock.Write("echo restored");
    sock.Read();
    return strcmp(sock.read_buffer, "restored") == 0;
}

int Run(const std::string& shell) {
    return system(shell.c_str());
}

// Runs `value` and `reference` alternately kFigureRuns times; each returns
// its seconds, `amount / seconds` is the rate recorded.
void Alternate(double amount, std::vector<double>& values, std::vector<double>& refs,
               const std::function<double()>& value, const std::function<double()>& reference) {
    for (int run = 0; run < kFigureRuns; run++) {
        refs.push_back(amount / reference());
        values.push_back(amount / value());
    }
}

double Seconds(const std::function<void()>& body) {
    double start = Now();
    body();
    return Now() - start;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = QuickRun();
    int list_files = argc > 1 ? atoi(argv[1]) : quick ? 20000 : 200000;
    int big_mib = argc > 2 ? atoi(argv[2]) : quick ? 64 : 256;
    int small_files = argc > 3 ? atoi(argv[3]) : quick ? 3000 : 20000;
    if (list_files <= 0 || big_mib <= 0 || small_files <= 0) return 2;
    char tmpl[] = "/tmp/zelbench.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string home = tmpl;
    std::string program = home + "/zelagent";
    char* args[] = {&program[0], const_cast<char*>("--bench"), nullptr};
    InitVariables(2, args);
    snprintf(config->name, sizeof(config->name), "bench-agent");
    int port = FreePort();
    config->local_port = port;
    StartThread(ListenToPort, nullptr);

    // The agent logs every block and file; keep that off the terminal.
    fflush(stdout);
    int terminal = dup(1);
    int null_fd = open("/dev/null", O_WRONLY);
    auto quiet = [&] {
        fflush(stdout);
        dup2(null_fd, 1);
    };
    Sock sock(AF_INET, SOCK_STREAM, 0);
    // An echo first: the agent has finished logging the previous command.
    auto loud = [&] {
        sock.Write("echo sync");
        sock.Read();
        fflush(stdout);
        dup2(terminal, 1);
    };

    quiet();
    if (!ConnectAsServer(sock, port)) {
        fprintf(stderr, "could not connect through the challenge\n");
        return 1;
    }
    loud();

    // 1. Listing.
    std::string tree = home + "/tree";
    double t = Now();
    MakeTree(tree, list_files, std::max(1, list_files / 100), 0);
    fprintf(stderr, "listing tree: %d files in %d folders, built in %.1fs\n", list_files,
            std::max(1, list_files / 100), Now() - t);
    std::string find = "find '" + tree + "' -printf '%p %s %T@\\n' > /dev/null";
    Run(find);  // warms the cache
    size_t wire_lines = 0;
    long peak_before = PeakKiB();
    std::vector<double> wire, finds;
    quiet();
    Alternate(list_files, wire, finds,
              [&] { return Seconds([&] { wire_lines = ListOverTheWire(sock, "include dir \"" + Bar(tree) + "|\""); }); },
              [&] { return Seconds([&] { Run(find); }); });
    long peak_after = PeakKiB();
    loud();
    printf("list_files_to_save of %d files (%zu lines), encrypted: %.0f files/s; find -printf %.0f files/s\n",
           list_files, wire_lines, Median(wire), Median(finds));
    printf("  process peak memory %ld KiB before the wire listings, %ld KiB after\n", peak_before, peak_after);
    Figure("list_wire_vs_find", wire, "files/s", finds);
    Run("rm -rf '" + tree + "'");

    // 2. One large file.
    const size_t bytes = (size_t)big_mib << 20;
    std::string big = home + "/big";
    WriteFile(big, bytes);
    RawCopy(big, bytes);  // warms the cache
    long long got = 0;
    std::vector<double> fast, raw;
    quiet();
    Alternate(bytes / 1e6, fast, raw, [&] { return Seconds([&] { got = SendFast(sock, Bar(big), 1); }); },
              [&] { return bytes / 1e6 / RawCopy(big, bytes); });
    loud();
    printf("send_fast of one %d MiB file (%lld bytes): %.0f MB/s; raw socket copy of the file %.0f MB/s\n",
           big_mib, got, Median(fast), Median(raw));
    Figure("send_fast_big_vs_raw", fast, "MB/s", raw);
    unlink(big.c_str());

    // 3. Many small files.
    std::string small = home + "/small";
    std::vector<std::string> paths = MakeTree(small, small_files, std::max(1, small_files / 100), 1024);
    std::string list;
    for (const std::string& p : paths) list += Bar(p) + "\n";
    std::string tar = "cd '" + home + "' && tar -cf - small | cat > /dev/null";
    Run(tar);  // warms the cache
    std::vector<double> smalls, tars;
    quiet();
    Alternate(small_files, smalls, tars,
              [&] { return Seconds([&] { got = SendFast(sock, list, paths.size()); }); },
              [&] { return Seconds([&] { Run(tar); }); });
    loud();
    printf("send_fast of %d files of 1 KiB (%lld bytes): %.0f files/s; tar | cat %.0f files/s\n", small_files,
           got, Median(smalls), Median(tars));
    Figure("send_fast_small_vs_tar", smalls, "files/s", tars);

    // 4. The same files restored in place over themselves.
    std::string archive = home + "/small.tar";
    Run("cd '" + home + "' && tar -cf small.tar small");
    std::string untar = "cd '" + home + "' && tar -xf small.tar";
    bool restored = true;
    std::vector<double> restores, untars;
    quiet();
    Alternate(small_files, restores, untars,
              [&] { return Seconds([&] { restored = GetFast(sock, paths, std::string(1024, 'r')) && restored; }); },
              [&] { return Seconds([&] { Run(untar); }); });
    loud();
    printf("get_fast in place of %d files of 1 KiB%s: %.0f files/s; tar -x over them %.0f files/s\n",
           small_files, restored ? "" : " (NOT ALL RESTORED)", Median(restores), Median(untars));
    Figure("get_fast_small_vs_untar", restores, "files/s", untars);
    unlink(archive.c_str());

    sock.CloseConnection();
    set_kill(1);
    Wait(1.5);
    return Run("rm -rf '" + home + "'") == 0 ? 0 : 1;
}
