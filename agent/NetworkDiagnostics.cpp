// Network diagnostics of the command line: identification, file transfers
// with another agent, consoles, connection probes, fast packets, the
// challenge and the broadcast discovery.
#include <errno.h>
#include <gmp.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "agent/CommandLine.h"
#include "agent/Options.h"
#include "core/Globals.h"
#include "crypto/Rsa.h"
#include "dialogue/Connections.h"
#include "dialogue/FileStreams.h"
#include "dialogue/Identification.h"
#include "dialogue/SingleFileTransfer.h"
#include "foundation/Log.h"
#include "foundation/Threads.h"
#include "records/Config.h"
#include "transport/Broadcast.h"
#include "transport/Handshake.h"
#include "transport/Sock.h"

namespace {

const int kFastListNumber = 22;  // the snapshot number sent with "send_fast"
const int kProbePort = 6666;     // --verify always probes the agents' default port
const long kDefaultSpamBytes = 1048576;
const long kMaxSpamBytes = 1L << 30;
const int kFastTestRecordBytes = 100;
const int kFastPacketLimit = 4194336;  // fill the fast writer never passes

double Seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// "host:path" into its two halves; false without a path.
bool SplitHostPath(const char* text, std::string& host, std::string& path) {
    const char* colon = strchr(text, ':');
    host.assign(text, colon ? (size_t)(colon - text) : strlen(text));
    path = colon ? colon + 1 : "";
    return !path.empty();
}

// argv[index] as a port, or `fallback` when absent; -1 when it is not one.
int PortArgument(int argc, char** argv, int index, int fallback) {
    if (argc <= index) return fallback;
    char* end = nullptr;
    long port = strtol(argv[index], &end, 10);
    return end != argv[index] && !*end && port > 0 && port < 65536 ? (int)port : -1;
}

// An identified connection to another agent, or null (the connection
// layer has logged why).
std::unique_ptr<Sock> OpenAgent(const std::string& host, int port) {
    return std::unique_ptr<Sock>(OpenConnection(host.c_str(), port, 1, false, 10, 0));
}

// A wrong argument is a wrong command line: the help, as for a wrong count.
int Usage() {
    PrintHelp();
    return kExitSuccess;
}

// A file on another agent: "host:path" in argv[2], the port at argv[port_index].
struct RemoteFile {
    std::string host, path;
    int port = 0;
    int status = kExitSuccess;  // the exit status when parsing failed
};

// False, with `status` set, when the path (or the local name, when
// `local` is needed in argv[3]) is missing or the port is not one.
bool ParseRemoteFile(int argc, char** argv, int port_index, bool local, RemoteFile& remote) {
    if (!SplitHostPath(argv[2], remote.host, remote.path) || (local && argc < 4)) {
        PrintMessage("You must specify a file to download");
        remote.status = kExitFailure;
        return false;
    }
    remote.port = PortArgument(argc, argv, port_index, config->client_port);
    if (remote.port > 0) return true;
    remote.status = Usage();
    return false;
}

// Asks the agent for `remote` in fast records ("send_fast", "SEND_OK", the
// one-line list); null when it cannot connect or refuses.
std::unique_ptr<Sock> OpenFastTransfer(const RemoteFile& remote) {
    std::unique_ptr<Sock> sock = OpenAgent(remote.host, remote.port);
    if (!sock) return nullptr;
    sock->FormatWrite("send_fast %i", kFastListNumber);
    sock->Read();
    if (strcmp(sock->read_buffer, "SEND_OK") != 0) {
        PrintMessage("Client answered: %s", sock->read_buffer);
        return nullptr;
    }
    sock->Write(remote.path.c_str());
    return sock;
}

}  // namespace

int OptionIdentify(int, char**) { return IdentifyWithServer(0, 0) == 0 ? kExitSuccess : kExitFailure; }

int OptionGet(int argc, char** argv) {
    RemoteFile remote;
    if (!ParseRemoteFile(argc, argv, 4, true, remote)) return remote.status;
    std::unique_ptr<Sock> sock = OpenAgent(remote.host, remote.port);
    if (!sock) return kExitFailure;
    sock->Write(("send " + remote.path).c_str());
    int rc = GetFile(sock.get(), argv[3], remote.path.c_str(), nullptr, "wb");
    sock->CloseConnection();
    return rc == 0 ? kExitSuccess : kExitFailure;
}

int OptionGetFast(int argc, char** argv) {
    RemoteFile remote;
    if (!ParseRemoteFile(argc, argv, 4, true, remote)) return remote.status;
    std::unique_ptr<Sock> sock = OpenFastTransfer(remote);
    if (!sock) return kExitFailure;
    long long rc = MultiGetFile(sock.get(), argv[3], remote.path.c_str(), nullptr, 1, 0);
    sock->CloseConnection();
    return rc >= 0 ? kExitSuccess : kExitFailure;
}

int OptionAckBug(int argc, char** argv) {
    RemoteFile remote;
    if (!ParseRemoteFile(argc, argv, 3, false, remote)) return remote.status;
    std::unique_ptr<Sock> sock = OpenFastTransfer(remote);
    if (!sock) return kExitFailure;
    // Reads one record a second: the sender waits on every acknowledgement.
    for (;;) {
        char* data;
        int length;
        long long value;
        int type = sock->FastRead(data, length, value);
        PrintMessage("FastRead: record %i, %i bytes", type, length);
        if (type < 0 || get_kill()) break;
        Wait(1);
    }
    sock->CloseConnection();
    return kExitSuccess;
}

int OptionSend(int argc, char** argv) {
    std::string host, target;
    if (!SplitHostPath(argv[3], host, target)) return Usage();
    int port = PortArgument(argc, argv, 4, config->client_port);
    if (port < 0) return Usage();
    std::unique_ptr<Sock> sock = OpenAgent(host, port);
    if (!sock) return kExitFailure;
    sock->Write(("get " + target).c_str());
    int rc = SendFile(sock.get(), argv[2], argv[2], nullptr);
    sock->CloseConnection();
    return rc == 0 ? kExitSuccess : kExitFailure;
}

int OptionOpen(int argc, char** argv) {
    int port = PortArgument(argc, argv, 3, config->client_port);
    if (port < 0) return Usage();
    std::unique_ptr<Sock> sock = OpenAgent(argv[2], port);
    if (!sock) return kExitFailure;
    if (argc < 5) {
        SendMessages(sock.get());
        return kExitSuccess;
    }
    sock->Write(argv[4]);
    sock->Read();
    PrintMessage("Read: %s", sock->read_buffer);
    sock->CloseConnection();
    return kExitSuccess;
}

int OptionRawConsole(int argc, char** argv) {
    int port = PortArgument(argc, argv, 3, -1);
    if (port < 0) return Usage();
    Sock sock(AF_INET, SOCK_STREAM, 0);
    if (sock.failed || !sock.Connect(argv[2], port)) return kExitFailure;
    PrintMessage("connected to %s", argv[2]);
    std::vector<char> line(40001);
    bool receive = true;
    for (;;) {
        if (receive) {
            sock.Receive(0);
            PrintMessage("<- %s", sock.read_buffer);
        }
        if (!fgets(line.data(), (int)line.size(), stdin)) break;
        line[strcspn(line.data(), "\n")] = 0;
        sock.Send(line.data());
        PrintScreen("input is %s. Do you want a receipt 'y'", line.data());
        char answer[16];
        if (!fgets(answer, sizeof(answer), stdin)) break;
        receive = answer[0] == 'y';
    }
    return kExitSuccess;
}

int OptionContinuous(int argc, char** argv) {
    int port = PortArgument(argc, argv, 3, config->client_port);
    if (port < 0) return Usage();
    while (!get_kill()) {
        std::unique_ptr<Sock> sock = OpenAgent(argv[2], port);
        if (sock) sock->CloseConnection();
    }
    return kExitSuccess;
}

int OptionVerify(int argc, char** argv) {
    double pause = 1;
    if (argc > 3) {
        char* end = nullptr;
        pause = strtod(argv[3], &end);
        if (end == argv[3] || *end || pause < 0) return Usage();
    }
    int count = 0;
    while (!get_kill()) {
        std::unique_ptr<Sock> sock(OpenConnection(argv[2], kProbePort, 1, false, 10, 0));
        if (sock) {
            count++;
            sock->CloseConnection();
        }
        sock.reset();
        Wait(pause);
        PrintScreen("connection count: %i\n", count);
    }
    return kExitSuccess;
}

int OptionVerify2(int, char** argv) {
    int count = 0;
    while (!get_kill()) {
        if (VerifyClientExists(argv[2], argv[3], 10, -1)) {
            count++;
            PrintProgress("Counts: %i", count);
        } else {
            PrintMessage("Chie @ %i", count);
        }
        Wait(0.1);
    }
    return kExitSuccess;
}

int OptionSpam(int argc, char** argv) {
    long size = kDefaultSpamBytes;
    if (argc > 3) {
        char* end = nullptr;
        size = strtol(argv[3], &end, 10);
        if (end == argv[3] || *end || size <= 0 || size > kMaxSpamBytes) return Usage();
    }
    std::unique_ptr<Sock> sock = OpenAgent(argv[2], config->client_port);
    if (!sock) return kExitFailure;
    PrintMessage("Gonna spam client with big paquet (%li)", size);
    std::string line((size_t)size, 'a');
    sock->Write(line.c_str(), (unsigned)line.size());
    sock->Read();
    PrintMessage("Read: %s", sock->read_buffer);
    sock->CloseConnection();
    return kExitSuccess;
}

int OptionFastTest(int argc, char** argv) {
    long count = 100000;
    if (argc > 3) {
        char* end = nullptr;
        count = strtol(argv[3], &end, 10);
        if (end == argv[3] || *end || count <= 0) return Usage();
    }
    // The packets are filled by the connection's own writer on a socket that
    // never sends, then checked as a reader would check them.
    Sock sock(AF_INET, SOCK_STREAM, 0);
    char record[kFastTestRecordBytes];
    memset(record, 'z', sizeof(record));
    std::vector<std::vector<char>> packets;
    double began = Seconds();
    for (long i = 0; i < count; i++) {
        if (sock.fast_write_fill + 2 * Sock::kHeaderBytes + kFastTestRecordBytes > kFastPacketLimit) {
            packets.emplace_back(sock.write_buffer + Sock::kHeaderBytes, sock.write_buffer + sock.fast_write_fill);
            sock.fast_write_fill = 0;
        }
        sock.FastWrite(0, record, kFastTestRecordBytes, i);
    }
    if (sock.fast_write_fill > 0)
        packets.emplace_back(sock.write_buffer + Sock::kHeaderBytes, sock.write_buffer + sock.fast_write_fill);
    sock.fast_write_fill = 0;
    PrintMessage("Done filling buffer (%2.2f secondes)", Seconds() - began);
    began = Seconds();
    bool ok = true;
    for (std::vector<char>& p : packets) ok = sock.FastPaquetIsOK(p.data(), (int)p.size()) && ok;
    PrintMessage("Done checking (%2.2f secondes)", Seconds() - began);
    return ok ? kExitSuccess : kExitFailure;
}

int OptionChallenge(int, char**) {
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, (unsigned long)time(nullptr));
    mpz_t r;
    mpz_init(r);
    mpz_urandomb(r, state, kChallengeBits);
    PrintMessage("Challenge is %s", IntegerToHex(r).c_str());
    mpz_clear(r);
    gmp_randclear(state);
    return kExitSuccess;
}

int OptionDetect(int, char**) {
    const BroadcastSettings& where = broadcast_settings();
    PrintMessage("Detection de ZelBox, accrochez vous");
    Sock sock(AF_INET, SOCK_DGRAM, 0);
    if (sock.failed || !sock.SetBroadcast(true)) {
        PrintError("Could not create broadcast");
        return kExitFailure;
    }
    if (!sock.Bind(where.port)) {
        PrintError("Impossible de Bind sur le port %i", where.port);
        return kExitFailure;
    }
    sock.SendBroadcast(where.port, "client", 0);
    // An answer is one datagram on the discovery port; a bounded wait keeps
    // the diagnostic from hanging on a network without a server.
    if (!sock.IsReadable(10, 0, true)) {
        PrintError("Impossible d'ecouter sur le port %i", where.port);
        return kExitFailure;
    }
    sock.SetReadBufferSize(1024);
    sockaddr_in from;
    socklen_t size = sizeof(from);
    ssize_t n = recvfrom(sock.sock, sock.read_buffer, 1024, 0, (sockaddr*)&from, &size);
    if (n < 0) {
        PrintError("Impossible d'ecouter sur le port %i", where.port);
        return kExitFailure;
    }
    sock.read_buffer[n] = 0;
    PrintMessage("read %i bytes: %s", (int)n, sock.read_buffer);
    return kExitSuccess;
}

int OptionReadBroadcast(int, char**) {
    // The agent only announces; it never opens a socket to hear others.
    PrintMessage("listen_broadcast n'est pas cree");
    return kExitFailure;
}

int OptionBroadcast(int, char**) {
    Sock sock(AF_INET, SOCK_DGRAM, 0);
    if (sock.failed || !sock.SetBroadcast(true)) {
        PrintError("Could not create broadcast");
        return kExitFailure;
    }
    const char* text = "coucou como va la?";
    return sock.SendBroadcast(broadcast_settings().port, text, 0) == (int)strlen(text) ? kExitSuccess
                                                                                        : kExitFailure;
}
