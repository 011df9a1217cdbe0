#include "foundation/SocketOwner.h"

#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include <sstream>
#include <string>

namespace {

const char* const kEstablished = "01";
// An IPv4 address as tcp6 shows it: ::ffff:a.b.c.d, in four host-order words.
const char* const kMappedPrefix = "0000000000000000FFFF0000";

// "ADDRESS:PORT" of one row against an IPv4 address and port.
bool EndMatches(const std::string& field, uint32_t address, unsigned port) {
    size_t colon = field.find(':');
    if (colon == std::string::npos) return false;
    std::string hex = field.substr(0, colon);
    if (hex.size() == 32) {
        if (hex.compare(0, 24, kMappedPrefix) != 0) return false;
        hex.erase(0, 24);
    }
    if (hex.size() != 8) return false;
    char* end = nullptr;
    unsigned long a = strtoul(hex.c_str(), &end, 16);
    if (*end) return false;
    unsigned long p = strtoul(field.c_str() + colon + 1, &end, 16);
    if (*end || end == field.c_str() + colon + 1) return false;
    return (uint32_t)a == address && p == port;
}

}  // namespace

bool FindSocketOwner(const char* table, uint32_t localAddress, unsigned localPort, uint32_t remoteAddress,
                     unsigned remotePort, unsigned& uid) {
    std::istringstream in(table ? table : "");
    std::string line;
    std::getline(in, line);  // the column titles
    while (std::getline(in, line)) {
        // sl local remote st queues timer retransmits uid ...
        std::istringstream row(line);
        std::string sl, local, remote, state, queues, timer, retransmits;
        unsigned long owner = 0;
        if (!(row >> sl >> local >> remote >> state >> queues >> timer >> retransmits >> owner)) continue;
        if (state != kEstablished) continue;
        if (EndMatches(local, localAddress, localPort) && EndMatches(remote, remoteAddress, remotePort)) {
            uid = (unsigned)owner;
            return true;
        }
    }
    return false;
}

long PeerSocketOwner(int fd) {
    sockaddr_in mine, peer;
    socklen_t n = sizeof(mine), m = sizeof(peer);
    if (getsockname(fd, (sockaddr*)&mine, &n) != 0 || getpeername(fd, (sockaddr*)&peer, &m) != 0 ||
        mine.sin_family != AF_INET || peer.sin_family != AF_INET)
        return -1;
    for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::string text;
        FILE* file = fopen(path, "re");
        char block[4096];
        size_t got;
        while (file && (got = fread(block, 1, sizeof(block), file)) > 0) text.append(block, got);
        if (file) fclose(file);
        unsigned uid = 0;
        // The peer's row: its end is local there, ours remote.
        if (FindSocketOwner(text.c_str(), peer.sin_addr.s_addr, ntohs(peer.sin_port), mine.sin_addr.s_addr,
                            ntohs(mine.sin_port), uid))
            return (long)uid;
    }
    return -1;
}
