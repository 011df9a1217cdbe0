// The one class through which the agent talks on the network: a socket
// descriptor with growable read and write buffers, the peer's identity and
// an optional connection cipher. Three levels of exchange sit on it:
//   - raw messages (Send/Receive), used by the handshake and a few probes;
//   - framed packets (Write/Read and friends, Framing.cpp): a 32-byte text
//     header, the payload, and a 32-byte footer sent back by the reader;
//   - fast packets (FastPacket.cpp), many small records in one framed packet.
//
// Ownership and threads: a Sock belongs to exactly one thread at a time and
// has no lock of its own. Descriptor creation and Close hold
// "mutex_socket". Every failure on the wire is thrown as a SocketError with
// "mutex_exception" held (see SocketError.h); the final catcher releases it.
#pragma once

#include <netinet/in.h>
#include <time.h>

#include <atomic>
#include <vector>

#include "transport/SocketError.h"

class aes_cipher_vetrak;

// Live Sock objects; updated without a lock (diagnostics only).
extern std::atomic<int> sock_count;

class Sock {
  public:
    // A packet header, a footer and a fast record header are 32 bytes each.
    static constexpr int kHeaderBytes = 32;
    // The largest payload of a framed packet: what an int-sized buffer with
    // its spare bytes holds, and what the 32-byte header text can announce.
    static constexpr unsigned kMaxPacketBytes = 0x7fffffffu - 64;
    // The largest payload read from a peer that has not yet proved who it is.
    static constexpr unsigned kMaxPacketBeforeHandshake = 64 * 1024;

    // A non-zero `descriptor` is adopted (-1 counts as a failure); otherwise
    // socket(domain, type, protocol) is created under "mutex_socket".
    // Failure sets `failed`; the object is still valid and must be deleted.
    // `address`, when given, is copied into `address`.
    Sock(int domain, int type, int protocol, int descriptor = 0, sockaddr_in* address = nullptr);
    ~Sock();
    Sock(const Sock&) = delete;
    Sock& operator=(const Sock&) = delete;

    void Close();

    // Socket options: true on success; a failure is logged and gives false.
    bool SetTcpNodelay(bool on);
    bool SetSendBuffer(int size);
    bool SetRecvBuffer(int size);
    bool SetKeepAlive(bool on);
    bool SetBroadcast(bool on);
    bool SetReuseAddress(bool on);
    bool SetNoSigpipe(bool on);  // nothing to do here; always true
    int GetKeepAlive();
    int GetRecvBuffer();
    int GetSendBuffer();
    int GetTcpNodelay();  // always 0
    // Returns the previous timeout (seconds).
    int SetTimeout(int seconds);
    bool SetNonblocking();
    bool ResetFlags();

    // Buffers only grow: a larger request reallocates (contents lost), a
    // smaller one changes nothing. The allocation is size + 10 bytes.
    void SetReadBufferSize(int n);
    void SetWriteBufferSize(int n);
    // Ensure room, copy n bytes, NUL after them.
    void SetReadBuffer(const char* data, int n);
    void SetWriteBuffer(const char* data, int n);

    // Connection set-up. Bind listens on every interface unless `local`
    // (a dotted quad) narrows it; `port` then holds the port actually bound,
    // so Bind(0) picks a free one.
    bool Bind(int port, const char* local = nullptr);
    bool Listen();
    // A new Sock owned by the caller, or null. With `nonblocking`, gives up
    // after 10 seconds without a client. The second argument is ignored.
    Sock* Accept(bool nonblocking = false, int unused = 0);
    bool Connect(const char* host, int port, bool nonblocking = false, int seconds = 0, int microseconds = 0);
    // Connect without the debug line and without touching `connected`.
    bool ConnectLite(const char* host, int port, bool nonblocking = false, int seconds = 0,
                     int microseconds = 0);

    // Waiting. seconds == -1 waits without limit.
    bool IsReadable(int seconds, int microseconds, bool quiet = false);
    bool IsWritable(int seconds, int microseconds);
    // Connected means writable and not readable (no pending data, no EOF).
    bool IsConnected(int seconds, int microseconds);

    // Raw exchange. Send(text) sends the text without its NUL; Send(length)
    // sends the first `length` bytes of the write buffer. Receive fills the
    // read buffer (NUL-terminated) with exactly `length` bytes, or with what
    // a single recv delivers when `length` is 0. All throw SocketError.
    int Send(const char* text);
    int Send(int length, int verbose = 0);
    int Receive(int length, int nowait = 0);

    // Framed exchange (all throw SocketError).
    // length 0 means strlen(data). `encrypt` asks for the payload to be
    // encrypted when there is a connection cipher. Returns `length`.
    unsigned Write(const char* data, unsigned length = 0, unsigned unused = 0, unsigned encrypt = 1);
    unsigned Write(int value);
    // One packet holding the concatenated texts (null entries skipped).
    unsigned WriteVector(std::vector<char*>* parts, unsigned unused = 0, unsigned encrypt = 1);
    // Formats into 410 bytes (cut to 409 characters) and writes, encrypted.
    unsigned FormatWrite(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Receives one packet into the read buffer; returns its length field.
    // Before the handshake has completed a packet may carry at most
    // kMaxPacketBeforeHandshake bytes, afterwards kMaxPacketBytes; a header
    // announcing more throws "incorrect header". The buffer grows as the
    // bytes arrive, never on the word of a header alone.
    unsigned Read();
    unsigned Echo();
    unsigned ReadEcho();
    bool ReadCompare(const char* expected);
    bool WriteAndCheck(const char* text, int length = 0);
    // Sends "close" unless the socket is dead.
    void CloseConnection();
    // Discards everything already waiting to be read.
    void Flush();

    // Fast packets (FastPacket.cpp).
    int FastWrite(int type, char* data, int length, long long value);
    int FastSend();
    int FastRead(char*& data, int& length, long long& value);
    bool FastPaquetIsOK(char* packet, int size);
    // Room for a record's data straight in the open packet (opened, or sent
    // and reopened, as FastWrite would for `most` bytes): the caller reads
    // up to `most` bytes there, then FastCommit queues the record with the
    // `length` actually placed. Saves copying file data through a buffer.
    // Null when `most` is beyond a record's limit.
    char* FastReserve(int most);
    int FastCommit(int type, int length, long long value);

    // The record header text of FastWrite ("%i %i %lli" by default) and
    // its reading in FastRead, without the cost of printf and scanf for
    // the default format; the same bytes and the same results as snprintf
    // and sscanf with `format`. Format returns the text's length (-1 when
    // it does not fit in `size`), Parse the number of fields read.
    static int FormatFastHeader(char* out, size_t size, const char* format, int type, int length,
                                long long value);
    static int ParseFastHeader(const char* header, const char* format, int& type, int& length,
                               long long& value);

    // Challenge handshake (implemented with the RSA keys, Handshake.cpp).
    bool Identify();
    bool AnswerChallenge();
    bool Authenticate();
    bool SendChallenge();

    // Broadcast discovery (datagram sockets).
    int SendBroadcast(int port, const char* data, int length = 0);
    int ReadBroadcast(int port);

    // Fields, in the order the agent has always kept them.
    aes_cipher_vetrak* aes;  // connection cipher, owned; null until a handshake installs one
    char* read_buffer;
    int read_buffer_size;  // usable size; allocation is +10
    char* write_buffer;
    int write_buffer_size;
    bool failed;          // creating or adopting the descriptor failed
    char ip[20];          // peer address, dotted quad
    char name[51];        // peer name from the handshake, at most 50 characters
    unsigned short port;  // last bound / connected / accepted peer port
    int type;             // SOCK_STREAM or SOCK_DGRAM, as given to the constructor
    sockaddr_in address;
    bool anonymous;  // handshake used password-derived keys
    bool dead;       // a send or receive failed; Write refuses from now on
    long start;      // Clock() at construction
    bool gui;        // peer is the administration GUI
    bool quiet;      // no per-call debug lines
    int timeout;     // seconds, for every Send and Receive
    bool connected;
    int fast_read_position;
    int fast_read_size;
    int fast_write_fill;  // bytes queued incl. the 32-byte packet header; 0 = no open packet
    char fast_header_format[20];
    int fast_count;  // records in the open outgoing packet
    time_t last_fast_send;
    int max_receive;  // largest single recv request
    int acknowledge;  // 1: every framed packet is answered with a footer
    int sock;         // the descriptor
    bool authenticated;  // the handshake completed (either side, or a trusted local peer)

  private:
    // Sends the open packet when `carried` more data bytes would not fit
    // or it has waited too long, and opens one when none is.
    void FastMakeRoom(int carried);
    // Marks the socket dead and throws `text` with "mutex_exception" held.
    [[noreturn]] void Fail(const char* text);
    // "%u %u %u %u " in a zeroed kHeaderBytes area. Every packet header and
    // footer is made here. False when the text does not fit (only an
    // encrypt flag of many digits beside lengths of many digits can do it).
    static bool FormatHeader(char* area, unsigned length, unsigned size, unsigned third, unsigned encrypt);
    // Makes room for `request` more bytes after the `kept` first ones of the
    // read buffer, keeping them; at least doubles what is kept (up to `goal`)
    // so a large packet arriving in pieces is copied only a few times.
    // Throws "Could not allocate buffer".
    void GrowReadBuffer(int kept, int request, int goal);
    // Sends the framed packet whose `length` payload bytes are already in
    // the write buffer after kHeaderBytes of room (Write and WriteVector).
    void SendPacket(unsigned length, unsigned encrypt);
    bool WaitOn(bool read, bool write, int seconds, int microseconds, bool& readable, bool& writable,
                int& result, double& waited);
};
