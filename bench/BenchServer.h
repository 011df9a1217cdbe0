// The server's side of a benchmark connection to the agent.
#pragma once

#include "foundation/Threads.h"
#include "transport/Sock.h"

// Connects `sock` to the agent listening on `port` as a remote server does:
// from 127.0.0.2 (never the trusted local path, which skips the challenge and
// the cipher), through the challenge, encrypted. Waits up to 5 s for the
// listener. False when a step fails or the connection has no cipher.
inline bool ConnectAsServer(Sock& sock, int port) {
    bool up = false;
    for (int attempt = 0; attempt < 50 && !up; attempt++) {
        Sock probe(AF_INET, SOCK_STREAM, 0);
        up = probe.ConnectLite("127.0.0.2", port);
        if (!up) Wait(0.1);
    }
    sock.SetTimeout(60);
    return up && sock.Bind(0, "127.0.0.2") && sock.Connect("127.0.0.2", port) && sock.Identify() &&
           sock.aes != nullptr;
}
