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
