// Descriptor life cycle, options, connection set-up, waiting and the raw
// byte exchange of Sock. Framing lives in Framing.cpp, fast packets in
// FastPacket.cpp.
#include "transport/Sock.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <new>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "crypto/AesVetrak.h"
#include "foundation/Formatting.h"
#include "foundation/HostLookup.h"
#include "foundation/Log.h"
#include "foundation/Threads.h"
#include "records/Config.h"

std::atomic<int> sock_count{0};

namespace {

const int kSocketBufferBytes = 1048575;  // 0xFFFFF, both directions
const int kMaxReceiveChunk = 4194304;    // largest single recv request
const int kAnyLengthChunk = 10240;       // Receive(0): whatever one recv brings
const int kDefaultTimeout = 1200;        // seconds, before a configuration exists

// The two settings the socket takes from the configuration; defaults apply
// while no configuration object exists (start-up, tests).
// A configured time-out beyond what an int holds (2^31 s and more, some
// 68 years) means no limit: -1.
int ConfiguredTimeout() {
    if (!config) return kDefaultTimeout;
    return config->timeout > (unsigned)INT_MAX ? -1 : (int)config->timeout;
}
int ConfiguredMaxSendSize() {
    return config ? config->max_send_size : 0;
}

double MonotonicSeconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

void DottedQuad(in_addr a, char* out, size_t size) {
    const unsigned char* b = (const unsigned char*)&a.s_addr;
    snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

// Grows a buffer that is `size` usable bytes plus 10 spare ones.
void GrowBuffer(char*& buffer, int& size, int wanted) {
    if (wanted <= size) return;
    free(buffer);
    buffer = (char*)malloc((size_t)wanted + 10);
    if (!buffer) {
        size = 0;
        throw std::bad_alloc();
    }
    size = wanted;
}

}  // namespace

Sock::Sock(int domain, int type_, int protocol, int descriptor, sockaddr_in* address_)
    : aes(nullptr),
      read_buffer(nullptr),
      read_buffer_size(0),
      write_buffer(nullptr),
      write_buffer_size(0),
      failed(false),
      port(0),
      type(type_),
      anonymous(true),
      dead(false),
      start(Clock()),
      gui(false),
      quiet(false),
      timeout(kDefaultTimeout),
      connected(false),
      fast_read_position(0),
      fast_read_size(0),
      fast_write_fill(0),
      fast_count(0),
      last_fast_send(0),
      max_receive(kMaxReceiveChunk),
      acknowledge(1),
      sock(-1),
      authenticated(false) {
    memset(ip, 0, sizeof(ip));
    memset(name, 0, sizeof(name));
    memset(&address, 0, sizeof(address));
    memset(fast_header_format, 0, sizeof(fast_header_format));
    if (address_) memcpy(&address, address_, sizeof(address));
    sock_count++;

    if (descriptor != 0) {
        sock = descriptor;
        if (descriptor == -1) {
            errno = EBADF;
            failed = true;
        }
    } else {
        if (mutex) mutex_lock(mutex->mutex_socket, "Sock()");
        // Close-on-exec: a command the agent runs must not keep a connection
        // open, nor the listening port bound after the agent has gone.
        sock = socket(domain, type_ | SOCK_CLOEXEC, protocol);
        int saved = errno;
        if (mutex) mutex_unlock(mutex->mutex_socket, "Sock()");
        errno = saved;
        if (sock < 0) failed = true;
    }
    if (failed) {
        PrintError("Sock(): %s", strerror(errno));
        sock = -1;
        return;
    }
    if (type == SOCK_STREAM) SetTcpNodelay(true);
    SetRecvBuffer(kSocketBufferBytes);
    SetSendBuffer(kSocketBufferBytes);
    timeout = ConfiguredTimeout();
    snprintf(fast_header_format, sizeof(fast_header_format), "%%i %%i %%lli");
}

Sock::~Sock() {
    if (connected) {
        if (!name[0]) snprintf(name, sizeof(name), "NOBODY");
        char elapsed[kTimeTextLength];
        PrintTime(start, Clock(), elapsed, sizeof(elapsed));
        PrintMessage("Terminating connection with %s @ %s (time: %s)...au revoir :)", name, ip, elapsed);
        if (thread_manager) thread_manager->ResetState(4);
    }
    Close();
    delete aes;
    aes = nullptr;
    free(read_buffer);
    free(write_buffer);
    sock_count--;
}

// The descriptor is forgotten once closed: a second Close (the destructor
// after an explicit one) must not close a number another thread now owns.
void Sock::Close() {
    if (sock < 0) return;
    if (mutex) mutex_lock(mutex->mutex_socket, "Sock::Close");
    int rc = close(sock);
    int saved = errno;
    sock = -1;
    if (mutex) mutex_unlock(mutex->mutex_socket, "Sock::Close");
    if (rc != 0) PrintError("Sock::Close ERROR: %s", strerror(saved));
}

// ---- options -------------------------------------------------------------

namespace {

bool SetOption(int fd, int level, int option, int value, const char* message) {
    if (setsockopt(fd, level, option, &value, sizeof(value)) == 0) return true;
    PrintError(message, value, strerror(errno));
    return false;
}

int GetOption(int fd, int level, int option) {
    int value = 0;
    socklen_t size = sizeof(value);
    if (getsockopt(fd, level, option, &value, &size) != 0) return 0;
    return value;
}

}  // namespace

bool Sock::SetTcpNodelay(bool on) {
    return SetOption(sock, IPPROTO_TCP, TCP_NODELAY, on, "Sock::SetTcpNodelay(%i): %s");
}
bool Sock::SetSendBuffer(int size) {
    return SetOption(sock, SOL_SOCKET, SO_SNDBUF, size, "Sock::SetSendBuffer(%i): %s");
}
bool Sock::SetRecvBuffer(int size) {
    return SetOption(sock, SOL_SOCKET, SO_RCVBUF, size, "Sock::SetRecvBuffer(%i): %s");
}
bool Sock::SetKeepAlive(bool on) {
    return SetOption(sock, SOL_SOCKET, SO_KEEPALIVE, on, "Sock::SetKeepAlive(%i): %s");
}
bool Sock::SetBroadcast(bool on) {
    return SetOption(sock, SOL_SOCKET, SO_BROADCAST, on, "Sock::SetBroadcast(%i): %s");
}
bool Sock::SetReuseAddress(bool on) {
    return SetOption(sock, SOL_SOCKET, SO_REUSEADDR, on, "Sock::SetReuseAddress(%i): %s");
}
bool Sock::SetNoSigpipe(bool) {
    return true;
}

int Sock::GetKeepAlive() {
    return GetOption(sock, SOL_SOCKET, SO_KEEPALIVE);
}
int Sock::GetRecvBuffer() {
    return GetOption(sock, SOL_SOCKET, SO_RCVBUF);
}
int Sock::GetSendBuffer() {
    return GetOption(sock, SOL_SOCKET, SO_SNDBUF);
}
int Sock::GetTcpNodelay() {
    return 0;
}

int Sock::SetTimeout(int seconds) {
    int previous = timeout;
    timeout = seconds;
    return previous;
}

bool Sock::SetNonblocking() {
    return fcntl(sock, F_SETFL, O_NONBLOCK) == 0;
}
bool Sock::ResetFlags() {
    return fcntl(sock, F_SETFL, 0) == 0;
}

void Sock::SetReadBufferSize(int n) {
    GrowBuffer(read_buffer, read_buffer_size, n);
}
void Sock::SetWriteBufferSize(int n) {
    GrowBuffer(write_buffer, write_buffer_size, n);
}

void Sock::SetReadBuffer(const char* data, int n) {
    if (n < 0) n = 0;
    SetReadBufferSize(n);
    if (!read_buffer) SetReadBufferSize(1);  // room for the NUL of an empty text
    if (n > 0) memmove(read_buffer, data, n);
    read_buffer[n] = 0;
}

void Sock::SetWriteBuffer(const char* data, int n) {
    if (n < 0) n = 0;
    SetWriteBufferSize(n);
    if (!write_buffer) SetWriteBufferSize(1);
    if (n > 0) memmove(write_buffer, data, n);
    write_buffer[n] = 0;
}

// ---- connection set-up ---------------------------------------------------

bool Sock::Bind(int port_, const char* local) {
    SetReuseAddress(true);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (local && inet_pton(AF_INET, local, &address.sin_addr) != 1) {
        PrintError("Bind(%i): %s", port_, strerror(EINVAL));
        return false;
    }
    address.sin_port = htons((unsigned short)port_);
    port = (unsigned short)port_;
    if (bind(sock, (sockaddr*)&address, sizeof(address)) != 0) {
        PrintError("Bind(%i): %s", port_, strerror(errno));
        return false;
    }
    sockaddr_in bound;
    socklen_t size = sizeof(bound);
    if (getsockname(sock, (sockaddr*)&bound, &size) == 0) port = ntohs(bound.sin_port);
    return true;
}

bool Sock::Listen() {
    if (listen(sock, 10) != 0) {
        PrintError("Listen: %s", strerror(errno));
        return false;
    }
    return true;
}

Sock* Sock::Accept(bool nonblocking, int) {
    if (nonblocking) {
        SetNonblocking();
        if (!IsReadable(10, 0, false)) {
            ResetFlags();
            return nullptr;
        }
    }
    sockaddr_in peer;
    int fd;
    for (;;) {
        socklen_t size = sizeof(peer);
        memset(&peer, 0, sizeof(peer));
        fd = accept4(sock, (sockaddr*)&peer, &size, SOCK_CLOEXEC);
        if (fd >= 0) {
            if (file_message) PrintMessage("accepted sock %x", fd);
            break;
        }
        int saved = errno;
        if (file_error) PrintError("accept(): %s", strerror(saved));
        if (saved != EINTR) {
            if (nonblocking) ResetFlags();
            return nullptr;
        }
    }
    if (nonblocking) ResetFlags();
    Sock* accepted = new Sock(AF_INET, SOCK_STREAM, 0, fd, &peer);
    DottedQuad(peer.sin_addr, accepted->ip, sizeof(accepted->ip));
    accepted->port = ntohs(peer.sin_port);
    if (strcmp(accepted->ip, "0.0.0.0") == 0 && accepted->port == 0) {
        delete accepted;
        PrintError("Bad socket, would CRASH...");
        return nullptr;
    }
    return accepted;
}

namespace {

int GetSocketError(int fd) {
    int error = 0;
    socklen_t size = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
}

// The steps Connect and ConnectLite share; `lite` only changes the logging.
bool ConnectSteps(Sock& s, const char* host, int port, bool nonblocking, int seconds, int microseconds,
                  bool lite) {
    if (nonblocking) s.SetNonblocking();
    s.address.sin_family = AF_INET;
    in_addr resolved;
    if (GetHostByName(host, &resolved) != 0) {
        PrintError(lite ? "ConnectLite: gethostbyname(%s): %s" : "Connect: gethostbyname(%s): %s",
                   host ? host : "", strerror(errno));
        if (nonblocking) s.ResetFlags();
        return false;
    }
    s.address.sin_addr = resolved;
    s.address.sin_port = htons((unsigned short)port);
    s.port = (unsigned short)port;
    DottedQuad(resolved, s.ip, sizeof(s.ip));
    bool up = false;
    int rc = connect(s.sock, (sockaddr*)&s.address, sizeof(s.address));
    if (!nonblocking) {
        if (rc == 0)
            up = true;
        else if (!lite)
            PrintError("Connect(%s): %s", host, strerror(errno));
        return up;
    }
    if (rc == 0) {
        up = true;
    } else if (errno != EINPROGRESS) {
        // Refused at once: nothing is pending, so waiting would only find
        // the socket "writable" and take the failure for a connection.
        PrintError("Connect(%s): %s", host, strerror(errno));
    } else if (s.IsWritable(seconds, microseconds)) {
        int error = GetSocketError(s.sock);
        if (error == 0)
            up = true;
        else
            PrintError("Connect(%s): %s", host, strerror(error));
    }
    s.ResetFlags();
    return up;
}

}  // namespace

bool Sock::Connect(const char* host, int port_, bool nonblocking, int seconds, int microseconds) {
    if (!quiet)
        PrintDebug("Sock::Connect(%s,%i,%i,%i,%i)", host ? host : "", port_, nonblocking, seconds,
                   microseconds);
    connected = false;
    connected = ConnectSteps(*this, host, port_, nonblocking, seconds, microseconds, false);
    return connected;
}

bool Sock::ConnectLite(const char* host, int port_, bool nonblocking, int seconds, int microseconds) {
    connected = false;
    return ConnectSteps(*this, host, port_, nonblocking, seconds, microseconds, true);
}

// ---- waiting -------------------------------------------------------------

// One wait on the descriptor. poll rather than select: a descriptor number
// above FD_SETSIZE must not write outside an fd_set. The readiness rules are
// those of select (an error or end of stream counts as readable, an error
// as writable). seconds == -1 (and microseconds == -1 for the write side)
// waits without limit. Returns false when the wait itself failed.
bool Sock::WaitOn(bool read, bool write, int seconds, int microseconds, bool& readable, bool& writable,
                  int& result, double& waited) {
    readable = writable = false;
    if (sock < 0) {  // poll would skip it and wait the whole timeout
        errno = EBADF;
        result = -1;
        waited = 0;
        return false;
    }
    int ms;
    if (seconds == -1 && (read && !write ? true : microseconds == -1)) {
        ms = -1;
    } else {
        long long total = (long long)seconds * 1000 + microseconds / 1000;
        if (total < 0) total = 0;
        ms = total > INT_MAX ? INT_MAX : (int)total;
    }
    pollfd p;
    p.fd = sock;
    p.events = (short)((read ? POLLIN : 0) | (write ? POLLOUT : 0));
    p.revents = 0;
    double began = MonotonicSeconds();
    result = poll(&p, 1, ms);
    waited = MonotonicSeconds() - began;
    if (result <= 0) return result == 0;
    if (read && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) readable = true;
    if (write && (p.revents & (POLLOUT | POLLERR | POLLNVAL))) writable = true;
    return true;
}

bool Sock::IsReadable(int seconds, int microseconds, bool quiet_) {
    bool readable, writable;
    int result;
    double waited;
    for (;;) {
        WaitOn(true, false, seconds, microseconds, readable, writable, result, waited);
        if (result < 0 && errno == EINTR) {
            PrintError("IsReadable: select: Interrupted System Call");
            continue;
        }
        break;
    }
    if (readable) return true;
    if (!quiet_)
        PrintError("IsReadable(%i,%i): [RETVAL %i] [WRITE %i] [READ %i] [TIME %2.2fs] [LASTERROR %s]",
                   seconds, microseconds, result, 0, readable ? 1 : 0, waited, strerror(errno));
    return false;
}

bool Sock::IsWritable(int seconds, int microseconds) {
    bool readable, writable;
    int result;
    double waited;
    for (;;) {
        WaitOn(false, true, seconds, microseconds, readable, writable, result, waited);
        if (result < 0 && errno == EINTR) {
            PrintError("IsWritable: select: Interrupted System Call");
            continue;
        }
        break;
    }
    if (writable) return true;
    PrintError("IsWritable(%i,%i): [RETVAL %i] [WRITE %i] [READ %i] [LASTERROR %s]", seconds, microseconds,
               result, writable ? 1 : 0, 0, strerror(errno));
    return false;
}

bool Sock::IsConnected(int seconds, int microseconds) {
    bool readable, writable;
    int result;
    double waited;
    for (;;) {
        WaitOn(true, true, seconds, microseconds, readable, writable, result, waited);
        if (result < 0 && errno == EINTR) {
            PrintError("IsConnected: select: Interrupted System Call");
            continue;
        }
        break;
    }
    return writable && !readable;
}

// ---- raw exchange --------------------------------------------------------

void Sock::Fail(const char* text) {
    dead = true;
    ThrowSocketError(text);
}

int Sock::Send(const char* text) {
    int length = text ? (int)strlen(text) : 0;
    SetWriteBuffer(text, length);
    return Send(length);
}

int Sock::Send(int length, int verbose) {
    // Never read past the write buffer, whatever a caller asks for.
    if (length > write_buffer_size) length = write_buffer_size;
    int sent = 0;
    while (sent < length) {
        if (verbose) PrintMessage("Sock::Send(%i): checking writability", length);
        // A negative time-out waits without limit (both arguments -1).
        if (!IsWritable(timeout, timeout < 0 ? -1 : 0)) {
            dead = true;
            PrintError("Sock::Send(%i): IsWritable: Socket Exception Thrown", length);
            Fail("Connection Reset by Peer");
        }
        if (verbose) PrintMessage("Sock::Send(%i): is writable", length);
        int chunk = length - sent;
        int limit = ConfiguredMaxSendSize();
        if (limit > 0 && limit < chunk) chunk = limit;
        if (verbose) PrintMessage("Sock::Send(%i): sending %i bytes", length, chunk);
        // MSG_NOSIGNAL: a peer that has gone must end in a SocketError, not
        // in a SIGPIPE that kills the whole agent.
        ssize_t result = send(sock, write_buffer + sent, (size_t)chunk, MSG_NOSIGNAL);
        if (verbose) PrintMessage("Sock::Send(%i): sent %i bytes (%i)", length, (int)result, sent);
        if (result == -1) {
            if (errno == EINTR) {
                PrintError("Sock::Send(%i/%i): Interrupted system call, continuing", sent, length);
                errno = 0;
                continue;
            }
            char text[100];
            snprintf(text, sizeof(text), "%s (%i)", strerror(errno), errno);
            PrintError("Sock::Send(%i/%i): %s", sent, length, text);
            PrintError("Sock::Send(%i): sent only %i: %s", length, sent, text);
            Fail(text);
        }
        if (result == 0) {
            PrintError("Sock::Send(%i/%i): returned 0 instead of %i", sent, length, chunk);
            continue;
        }
        sent += (int)result;
    }
    return sent;
}

void Sock::GrowReadBuffer(int kept, int request, int goal) {
    long long needed = (long long)kept + request;
    if (needed <= read_buffer_size) return;
    long long size = (long long)kept * 2;
    if (size > goal) size = goal;
    if (size < needed) size = needed;
    char* grown = (char*)realloc(read_buffer, (size_t)size + 10);
    if (!grown) {
        PrintError("Sock::Receive: could not allocate %lli bytes", size);
        Fail("Could not allocate buffer");
    }
    read_buffer = grown;
    read_buffer_size = (int)size;
}

int Sock::Receive(int length, int nowait) {
    if (length < 0) length = 0;
    int got = 0;
    for (;;) {
        if (length > 0 && got >= length) {
            read_buffer[got] = 0;
            return got;
        }
        if (!nowait && !IsReadable(timeout, 0, false)) {
            PrintError("Sock::Receive(%i): IsReadable: Socket exception Thrown", length);
            Fail("Connection timed out");
        }
        int request = length > 0 ? length - got : kAnyLengthChunk;
        int cap = max_receive > 0 ? max_receive : kMaxReceiveChunk;
        if (request > cap) request = cap;
        // Room only for what this recv may bring: a length announced by the
        // peer reserves nothing before its bytes come.
        GrowReadBuffer(got, request, length > 0 ? length : got + request);
        ssize_t result = recv(sock, read_buffer + got, (size_t)request, 0);
        if (result == -1) {
            if (errno == EINTR) {
                PrintError("Sock::Receive(%i): Interrupted system call, continuing", length);
                continue;
            }
            char text[100];
            int saved = errno;
            snprintf(text, sizeof(text), "retval=%i / error=%i / %s", -1, saved, strerror(saved));
            PrintError("Sock::Receive: recv(%i/%i): Socket Exception Thrown (%s)", got, length, text);
            Fail(text);
        }
        if (result == 0) {
            PrintError("Sock::Receive: recv: Socket exception Thrown : Connection Closed");
            Fail("Connection Closed");
        }
        if (result > request) PrintError("Sock::Receive: retval > toread (%i / %i)", (int)result, request);
        got += (int)result;
        if (length == 0) {
            read_buffer[got] = 0;
            return got;
        }
    }
}
