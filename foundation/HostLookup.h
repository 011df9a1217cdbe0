// Host name resolution for outgoing connections.
#pragma once

#include <netinet/in.h>

// Resolves `name` (a host name or a dotted quad) to its first IPv4 address,
// holding "mutex_resolve" (skipped before the start-up hands it over).
// 0 on success with `*out` set; -1 when the name does not resolve.
int GetHostByName(const char* name, in_addr* out);
