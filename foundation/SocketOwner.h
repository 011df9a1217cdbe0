// Who owns the other end of a TCP connection made on this machine: the
// kernel's socket tables (/proc/net/tcp and /proc/net/tcp6) list every
// socket with its addresses, state and owner's user id.
//
// Threads: any thread; nothing is kept between calls.
#pragma once

#include <stdint.h>

// Searches one table's text (the format of /proc/net/tcp or tcp6) for an
// established socket whose local end is `localAddress`:`localPort` and
// whose remote end is `remoteAddress`:`remotePort` (IPv4 addresses as in
// sin_addr.s_addr, ports in host order; a tcp6 row matches through its
// IPv4-mapped form). True with `uid` set when one is found. Sockets in any
// other state (those waiting out a close are listed as root's) never match.
bool FindSocketOwner(const char* table, uint32_t localAddress, unsigned localPort, uint32_t remoteAddress,
                     unsigned remotePort, unsigned& uid);

// The user id owning the socket at the other end of the connected IPv4
// socket `fd`, when that end is on this machine; -1 when it cannot be found.
long PeerSocketOwner(int fd);
