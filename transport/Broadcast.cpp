// Announcement datagrams and the reading of raw ones.
#include "transport/Broadcast.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include "foundation/Log.h"
#include "transport/Sock.h"

namespace {

const int kIpHeaderBytes = 20;
const int kUdpHeaderBytes = 8;
const int kHeadersBytes = kIpHeaderBytes + kUdpHeaderBytes;
const int kMinimumFrameBytes = 46;  // a short datagram is padded to this
const int kReadBytes = 1024;

BroadcastSettings ReadSettings() {
    BroadcastSettings s;
    snprintf(s.address, sizeof(s.address), "%s", "255.255.255.255");
    s.port = kDiscoveryPort;
    if (const char* address = getenv("ZELAGENT_BROADCAST_ADDRESS")) {
        in_addr parsed;
        if (inet_pton(AF_INET, address, &parsed) == 1)
            inet_ntop(AF_INET, &parsed, s.address, sizeof(s.address));
        else
            PrintError("ZELAGENT_BROADCAST_ADDRESS: not a numeric IPv4 address: %s", address);
    }
    if (const char* port = getenv("ZELAGENT_BROADCAST_PORT")) {
        char* end = nullptr;
        long value = strtol(port, &end, 10);
        if (end != port && !*end && value > 0 && value < 65536)
            s.port = (int)value;
        else
            PrintError("ZELAGENT_BROADCAST_PORT: not a port number: %s", port);
    }
    return s;
}

void DottedQuad(const unsigned char* b, char* out, size_t size) {
    snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

int BigEndian16(const unsigned char* b) { return (b[0] << 8) | b[1]; }

}  // namespace

const BroadcastSettings& broadcast_settings() {
    static const BroadcastSettings settings = ReadSettings();
    return settings;
}

int ParseRawDatagram(char* buffer, int received, RawDatagram* out) {
    if (received <= kHeadersBytes) return 0;
    const unsigned char* b = (const unsigned char*)buffer;
    DottedQuad(b + 12, out->source, sizeof(out->source));
    DottedQuad(b + 16, out->destination, sizeof(out->destination));
    out->destination_port = BigEndian16(b + 22);
    int payload = BigEndian16(b + 24) - kUdpHeaderBytes;
    bool whole = payload + kHeadersBytes == received;
    // The padded frame carries at most its last 18 bytes of payload; a UDP
    // length that claims more would hand out bytes that never arrived.
    bool padded = received == kMinimumFrameBytes && payload >= 1 && payload <= received - kHeadersBytes;
    if (!whole && !padded) return received;
    memmove(buffer, buffer + kHeadersBytes, (size_t)payload);
    buffer[payload] = 0;
    return payload;
}

int Sock::SendBroadcast(int port_, const char* data, int length) {
    if (sock < 0) ThrowSocketError("SendBroadcast: no socket");
    if (!data) data = "";
    if (length == 0) length = (int)strlen(data);
    SetWriteBuffer(data, length);
    sockaddr_in to;
    memset(&to, 0, sizeof(to));
    to.sin_family = AF_INET;
    to.sin_port = htons((unsigned short)port_);
    inet_pton(AF_INET, broadcast_settings().address, &to.sin_addr);
    ssize_t sent = sendto(sock, write_buffer, (size_t)length, MSG_NOSIGNAL, (sockaddr*)&to, sizeof(to));
    if (sent != length)
        PrintError("SendBroadcast: %s", sent < 0 ? strerror(errno) : "short send");
    else
        PrintMessage("%s was broadcast on the network @ port %i (%i bytes)", write_buffer, port_, (int)sent);
    return (int)sent;
}

int Sock::ReadBroadcast(int port_) {
    SetReadBufferSize(kReadBytes);
    for (;;) {
        ssize_t received = recvfrom(sock, read_buffer, kReadBytes, 0, nullptr, nullptr);
        if (received < 0) {
            if (errno == EINTR) continue;
            // A socket that fails will not deliver later: do not spin on it.
            PrintError("ReadBroadcast: %s", strerror(errno));
            return 0;
        }
        read_buffer[received] = 0;
        RawDatagram d;
        int count = ParseRawDatagram(read_buffer, (int)received, &d);
        if (count == 0) continue;
        snprintf(ip, sizeof(ip), "%s", d.source);
        if (d.destination_port == port_) return count;
    }
}
