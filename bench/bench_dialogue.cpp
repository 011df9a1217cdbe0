// Single-file transfer and connection set-up over loopback, in one process:
// the agent's listener serves a client that runs the server's side.
// The client connects as a remote server does: from 127.0.0.2, through the
// challenge, encrypted. The figure: "get" with crypt 1 against crypt 0, five
// alternated runs; a raw TCP copy of the same bytes is printed for scale.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "BenchServer.h"
#include "BenchSupport.h"
#include "agent/Lifecycle.h"
#include "core/Globals.h"
#include "dialogue/Listener.h"
#include "dialogue/SingleFileTransfer.h"
#include "foundation/Threads.h"
#include "records/Config.h"
#include "transport/Sock.h"

namespace {

// MB/s of a plain TCP stream of `bytes` over loopback; with `from` and
// `to`, the sender reads the file and the receiver writes it, as a file
// transfer has to.
double RawCopy(size_t bytes, const char* from = nullptr, const char* to = nullptr) {
    int port = FreePort();
    int lfd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    int one = 1;
    setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    bind(lfd, (sockaddr*)&a, sizeof(a));
    listen(lfd, 1);
    double start = Now();
    std::thread reader([&] {
        int fd = accept(lfd, nullptr, nullptr);
        FILE* out = to ? fopen(to, "wb") : nullptr;
        std::vector<char> buf(1 << 20);
        size_t got = 0;
        while (got < bytes) {
            ssize_t n = recv(fd, buf.data(), buf.size(), 0);
            if (n <= 0) break;
            if (out) fwrite(buf.data(), 1, (size_t)n, out);
            got += n;
        }
        if (out) fclose(out);
        close(fd);
    });
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    connect(fd, (sockaddr*)&a, sizeof(a));
    std::vector<char> buf(1 << 20, 'x');
    FILE* in = from ? fopen(from, "rb") : nullptr;
    size_t sent = 0;
    while (sent < bytes) {
        size_t want = std::min(buf.size(), bytes - sent);
        if (in && fread(buf.data(), 1, want, in) != want) break;
        size_t off = 0;
        while (off < want) {
            ssize_t n = send(fd, buf.data() + off, want - off, 0);
            if (n <= 0) break;
            off += (size_t)n;
        }
        sent += want;
    }
    if (in) fclose(in);
    reader.join();
    close(fd);
    close(lfd);
    return bytes / (Now() - start) / 1e6;
}

}  // namespace

int main() {
    // The figures go to the real standard output; the agent's log lines
    // (several per command) are silenced.
    FILE* out = fdopen(dup(1), "w");
    if (!out || !freopen("/dev/null", "w", stdout)) return 1;
    char tmpl[] = "/tmp/zelbench.XXXXXX";
    std::string home = mkdtemp(tmpl);
    std::string program = home + "/zelagent";
    char* argv[] = {&program[0], const_cast<char*>("--bench"), nullptr};
    InitVariables(2, argv);
    snprintf(config->name, sizeof(config->name), "bench-agent");
    int port = FreePort();
    config->local_port = port;
    StartThread(ListenToPort, nullptr);
    Wait(0.5);

    const size_t bytes = (QuickRun() ? 64u : 256u) << 20;
    std::string source = home + "/source";
    {
        FILE* f = fopen(source.c_str(), "wb");
        std::vector<char> block(1 << 20);
        for (size_t i = 0; i < block.size(); i++) block[i] = (char)(i * 131);
        for (size_t i = 0; i < bytes / block.size(); i++) fwrite(block.data(), 1, block.size(), f);
        fclose(f);
    }
    double socket_only = RawCopy(bytes);
    std::string copy = home + "/rawcopy";
    double raw = RawCopy(bytes, source.c_str(), copy.c_str());
    unlink(copy.c_str());
    fprintf(out, "raw loopback stream of %zu MiB: %.0f MB/s; reading and writing the files too: %.0f MB/s\n",
           bytes >> 20, socket_only, raw);
    Sock sock(AF_INET, SOCK_STREAM, 0);
    if (!ConnectAsServer(sock, port)) {
        fprintf(out, "could not connect through the challenge\n");
        return 1;
    }
    std::string target = home + "/target";
    std::vector<double> rates[2];
    for (int run = 0; run < kFigureRuns; run++) {
        for (int crypt : {0, 1}) {
            config->crypt = crypt;
            double start = Now();
            sock.FormatWrite("get %s", target.c_str());
            SendFile(&sock, source.c_str(), nullptr, nullptr);
            sock.Write("echo done");
            sock.Read();
            rates[crypt].push_back(bytes / (Now() - start) / 1e6);
        }
    }
    sock.CloseConnection();
    fprintf(out, "single-file get, encrypted connection: crypt 1 %.0f MB/s, crypt 0 %.0f MB/s (%.2f of the raw file "
           "copy)\n",
           Median(rates[1]), Median(rates[0]), Median(rates[0]) / raw);
    Figure("get_crypt1_vs_crypt0", rates[1], "MB/s", rates[0], out);
    const int n = QuickRun() ? 20 : 40;
    double start = Now();
    for (int i = 0; i < n; i++) {
        Sock s(AF_INET, SOCK_STREAM, 0);
        if (!ConnectAsServer(s, port)) break;
        s.Write("echo x");
        s.Read();
        s.CloseConnection();
    }
    double per = (Now() - start) / n;
    fprintf(out, "connect from 127.0.0.2 + challenge + echo + close: %.1f per second (%.2f ms each)\n", 1 / per,
           per * 1000);
    set_kill(1);
    Wait(1.5);
    std::string rm = "rm -rf " + home;
    if (system(rm.c_str()) != 0) return 1;
    return 0;
}
