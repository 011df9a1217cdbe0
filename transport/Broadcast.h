// Broadcast discovery: an agent that no server knows yet announces itself
// with one UDP datagram, "client", sent to the discovery port. This file
// holds where the announcements go and the reading of raw IPv4 datagrams;
// the two Sock members (SendBroadcast, ReadBroadcast) are built on it.
//
// Threads: the settings are read once (the start-up reads them first) and
// are constant afterwards; the parser works on its arguments only.
#pragma once

#include <stddef.h>

// The discovery port of the announcement and of the broadcast diagnostics.
const int kDiscoveryPort = 9999;

struct BroadcastSettings {
    char address[16];  // dotted quad the datagrams are sent to
    int port;          // their destination port
};

// From the environment, read on first use: ZELAGENT_BROADCAST_ADDRESS (a
// numeric IPv4 address; default the limited broadcast address) and
// ZELAGENT_BROADCAST_PORT (default kDiscoveryPort). A value that does not
// parse is reported and the default kept. Tests and ./run.sh point the
// address at 127.0.0.1 so that nothing leaves the machine.
const BroadcastSettings& broadcast_settings();

// What one raw datagram says about itself.
struct RawDatagram {
    char source[16];       // dotted quad, bytes 12-15 of the IPv4 header
    char destination[16];  // bytes 16-19
    int destination_port;  // UDP header bytes 22-23
};

// A raw IPv4 datagram of `received` bytes in `buffer` (which has room for
// one byte more) as a raw socket delivers it: the 20-byte IPv4 header, the
// 8-byte UDP header, the payload. Datagrams of 28 bytes or less are ignored
// (0). When the UDP length accounts for the whole datagram, or when the
// datagram is a 46-byte minimum frame whose announced payload is present in
// it, the payload is moved to the start of `buffer`, NUL-terminated and its
// length returned; otherwise `buffer` stays as received and `received` is
// returned. `out` is filled whenever the datagram is not ignored.
int ParseRawDatagram(char* buffer, int received, RawDatagram* out);
