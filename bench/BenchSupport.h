// Small helpers shared by the benchmark programs.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

// Seconds on the monotonic clock.
inline double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// A free TCP port on the loopback interface (bound, read back, released).
inline int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (sockaddr*)&a, sizeof(a));
    socklen_t len = sizeof(a);
    getsockname(fd, (sockaddr*)&a, &len);
    close(fd);
    return ntohs(a.sin_port);
}

// ---- the summary figures ---------------------------------------------------
// ./bench.sh --quick sets ZEL_BENCH_QUICK=1: the same figures on smaller
// inputs, for a run of a couple of minutes.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

inline bool QuickRun() {
    const char* quick = getenv("ZEL_BENCH_QUICK");
    return quick && quick[0] == '1';
}

// Every figure is the median of this many runs, alternated with its
// reference so that both see the same load on a shared machine.
const int kFigureRuns = 5;

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One line of the summary table ./bench.sh gathers, in a fixed form scripts
// read: "figure NAME VALUE UNIT ref REFERENCE ratio VALUE/REFERENCE", then
// the spread (lowest..highest run) of the value and of the reference.
inline void Figure(const char* name, const std::vector<double>& values, const char* unit,
                   const std::vector<double>& refs, FILE* out = stdout) {
    if (values.empty() || refs.empty()) return;
    double value = Median(values), ref = Median(refs);
    auto low = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    auto high = [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); };
    fprintf(out, "figure %s %.3f %s ref %.3f ratio %.3f spread %.3f..%.3f ref_spread %.3f..%.3f runs %zu\n",
            name, value, unit, ref, ref != 0 ? value / ref : 0.0, low(values), high(values), low(refs),
            high(refs), values.size());
    fflush(out);
}
