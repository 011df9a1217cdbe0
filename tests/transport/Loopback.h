// Two connected Socks over 127.0.0.1 for the transport tests, and the check
// that a SocketError arrived with "mutex_exception" held.
#pragma once

#include <errno.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>

#include <functional>
#include <memory>
#include <string>

#include "core/Globals.h"
#include "transport/Sock.h"

// A listener on 127.0.0.1 at a port chosen by the system, one client
// connected to it and the accepted server side, both taken as past the
// handshake unless `authenticated` is false. Every wait is bounded by
// `timeout` seconds.
struct LoopbackPair {
    explicit LoopbackPair(int timeout = 5, bool authenticated = true) {
        listener.reset(new Sock(AF_INET, SOCK_STREAM, 0));
        EXPECT_TRUE(listener->Bind(0, "127.0.0.1"));
        EXPECT_TRUE(listener->Listen());
        client.reset(new Sock(AF_INET, SOCK_STREAM, 0));
        EXPECT_TRUE(client->Connect("127.0.0.1", listener->port));
        server.reset(listener->Accept());
        EXPECT_TRUE(server != nullptr);
        for (Sock* s : {client.get(), server.get()})
            if (s) s->SetTimeout(timeout), s->quiet = true, s->authenticated |= authenticated;  // a new Sock is not
    }
    std::unique_ptr<Sock> listener, client, server;
};

// Runs `action`, which must throw a SocketError whose text is `expected`;
// checks that the error came with "mutex_exception" held, then releases it
// as a final catcher does and checks it is free again.
inline void ExpectSocketError(const std::function<void()>& action, const std::string& expected) {
    bool thrown = false;
    try {
        action();
    } catch (SocketError& e) {
        thrown = true;
        EXPECT_EQ(expected, e.message);
        EXPECT_EQ(1, e.code);
        if (mutex) { EXPECT_EQ(EBUSY, pthread_mutex_trylock(&mutex->mutex_exception)) << "thrown without the lock"; }
        ReleaseSocketError();
        if (mutex) {
            EXPECT_EQ(0, pthread_mutex_trylock(&mutex->mutex_exception)) << "lock not released";
            pthread_mutex_unlock(&mutex->mutex_exception);
        }
    }
    EXPECT_TRUE(thrown) << "no SocketError, expected \"" << expected << "\"";
}
