// Loopback throughput of the framed and fast packet protocols, beside a raw
// socket stream of the same bytes measured in the same run: five alternated
// runs on fresh connections, the medians make the figures. The connections
// are past a handshake without a cipher: these figures are the framing's own
// cost (the dialogue benchmarks measure encrypted connections).
#include <arpa/inet.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "transport/Sock.h"

namespace {

const long long kTotal = (QuickRun() ? 256LL : 1024LL) << 20;  // bytes per measurement

struct Pair {
    Pair() {
        listener.reset(new Sock(AF_INET, SOCK_STREAM, 0));
        listener->Bind(0, "127.0.0.1");
        listener->Listen();
        client.reset(new Sock(AF_INET, SOCK_STREAM, 0));
        client->Connect("127.0.0.1", listener->port);
        server.reset(listener->Accept());
        client->quiet = server->quiet = true;
        client->authenticated = server->authenticated = true;  // as past a handshake
        client->SetTimeout(30);
        server->SetTimeout(30);
    }
    std::unique_ptr<Sock> listener, client, server;
};

// Runs the reader in a thread and the writer here on a fresh connection;
// MB/s of kTotal bytes.
template <typename W, typename R>
double Measure(W writer, R reader) {
    Pair pair;
    double t0 = Now();
    std::thread r([&] { reader(*pair.server); });
    writer(*pair.client);
    r.join();
    return kTotal / 1e6 / (Now() - t0);
}

double RawStream() {
    const size_t chunk = 4 << 20;
    std::vector<char> out(chunk, 'r');
    return Measure(
        [&](Sock& s) {
            for (long long sent = 0; sent < kTotal;) {
                ssize_t n = send(s.sock, out.data(), chunk, 0);
                if (n <= 0) return;
                sent += n;
            }
        },
        [&](Sock& s) {
            std::vector<char> in(chunk);
            for (long long got = 0; got < kTotal;) {
                ssize_t n = recv(s.sock, in.data(), chunk, 0);
                if (n <= 0) return;
                got += n;
            }
        });
}

double FastPackets(int record) {
    std::vector<char> data(record, 'f');
    long long records = kTotal / record;
    return Measure(
        [&](Sock& s) {
            for (long long i = 0; i < records; i++) s.FastWrite(1, data.data(), record, i);
            s.FastSend();
        },
        [&](Sock& s) {
            char* p;
            int length;
            long long value;
            for (long long i = 0; i < records; i++) s.FastRead(p, length, value);
        });
}

double Framed(unsigned size) {
    std::vector<char> data(size, 'w');
    long long packets = kTotal / size;
    return Measure(
        [&](Sock& s) {
            for (long long i = 0; i < packets; i++) s.Write(data.data(), size, 0, 0);
        },
        [&](Sock& s) {
            for (long long i = 0; i < packets; i++) s.Read();
        });
}

}  // namespace

int main() {
    try {
        std::vector<double> raw, fast, fast_small, framed;
        for (int run = 0; run < kFigureRuns; run++) {
            raw.push_back(RawStream());
            fast.push_back(FastPackets(64 * 1024));
            fast_small.push_back(FastPackets(4096));
            framed.push_back(Framed(1500000));
        }
        printf("raw socket stream over loopback (reference):        %8.1f MB/s\n", Median(raw));
        printf("fast packets, 64 KiB records, 4 MiB packets, acked: %8.1f MB/s\n", Median(fast));
        printf("fast packets, 4 KiB records, 4 MiB packets, acked:  %8.1f MB/s\n", Median(fast_small));
        printf("framed 1.5 MB packets, acked:                       %8.1f MB/s\n", Median(framed));
        Figure("fast_64k_vs_raw", fast, "MB/s", raw);
        Figure("fast_4k_vs_raw", fast_small, "MB/s", raw);
        Figure("framed_1500k_vs_raw", framed, "MB/s", raw);
    } catch (SocketError& e) {
        printf("transport failure: %s\n", e.message);
        return 1;
    }
    return 0;
}
