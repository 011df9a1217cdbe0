// What every fuzz target shares: a throw-away agent home made once per
// process, byte feeds for the parsers that read from a Sock or from a file,
// and the replay program of the ordinary build (FuzzReplay.cpp), which runs
// each corpus file through the target once.
//
// A target defines LLVMFuzzerTestOneInput only; the home is made by
// LLVMFuzzerInitialize here. Every input must leave the process as it found
// it: no descriptor, no allocation and no held lock survives it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "transport/Sock.h"

// The fuzz home, ending with '/'; its "work/" folder is emptied by
// FreshWorkDir.
const std::string& FuzzDir();
// Empties FuzzDir() + "work/" and returns its path (ending with '/').
std::string FreshWorkDir();

// A Sock that reads `size` bytes already sent by its peer, which then shut
// its sending half: the parser meets the end of the connection after them.
// Replies the parser sends are kept by the system unread (the send buffers
// are made large enough for what a capped input can make it say).
class FedSock {
  public:
    FedSock(const uint8_t* data, size_t size);
    // Message boundaries kept (SOCK_SEQPACKET): one recv, one message.
    explicit FedSock(const std::vector<std::string>& messages);
    ~FedSock();
    FedSock(const FedSock&) = delete;
    FedSock& operator=(const FedSock&) = delete;
    Sock* operator->() { return sock_; }
    Sock* get() { return sock_; }

  private:
    void Adopt(int type);
    Sock* sock_ = nullptr;
    int peer_ = -1;
};

// The largest input a socket target passes on; longer ones are cut.
const size_t kMaxFedBytes = 65536;

// Writes the bytes to `path` (replacing it).
void WriteBytes(const std::string& path, const uint8_t* data, size_t size);

// Runs `parse`; a SocketError ends it as a connection's final catcher does.
template <class Parse>
void CatchSocketError(Parse parse) {
    try {
        parse();
    } catch (SocketError&) {
        ReleaseSocketError();
    }
}

// Splits at '\n' (kept), cutting lines longer than `longest` - 1 bytes as
// fgets with a buffer of `longest` bytes would.
std::vector<std::string> SplitLines(const uint8_t* data, size_t size, size_t longest);
