// The listener thread: accepts server connections on the local port and
// serves each in a thread of its own.
#pragma once

#include <atomic>

class Sock;

// The listening socket while the listener runs, else null. Read by the main
// thread at shutdown, hence atomic.
extern std::atomic<Sock*> listen_server;

// Thread body. `port` is null (the configured local port) or points to an
// int. Returns when the stop flag is set; stops the agent (flag 1) when the
// port cannot be bound for about 50 seconds.
void* ListenToPort(void* port);
