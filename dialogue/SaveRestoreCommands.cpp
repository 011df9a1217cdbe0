// The save, restore and erase commands that need no walk: single files in
// both directions, the job commands the agent declines, the removal of a
// stored backup folder and the throughput tests.
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "core/Globals.h"
#include "dialogue/Connections.h"
#include "dialogue/Dispatcher.h"
#include "dialogue/SingleFileTransfer.h"
#include "foundation/FileOps.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/Threads.h"
#include "transport/Sock.h"

namespace commands {

namespace {

void StoreIncomingFile(Session& s, const std::string& path, const char* mode) {
    int rc = GetFile(s.sock, path.c_str(), nullptr, nullptr, mode);
    if (rc != 0) PrintError("get %s: (%i) unknown error", path.c_str(), rc);
}

// Times `count` sends of `size` bytes and logs the rate.
template <typename SendOne>
void Measure(int size, long long count, SendOne send) {
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    for (long long i = 0; i < count; i++) send();
    clock_gettime(CLOCK_MONOTONIC, &b);
    double seconds = (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
    long long bytes = count * size;
    PrintMessage("Packet size: %i // %i octets // %2.2fsec // %2.2f Ko/s", size, (int)bytes, seconds,
                 seconds > 0 ? bytes / (seconds * 1024) : 0.0);
}

}  // namespace

void Send(Session& s, const char* line, const char* rest) {
    if (!*rest) return Unknown(s, line, rest);
    SendFile(s.sock, rest, nullptr, nullptr);
}

void Get(Session& s, const char* line, const char* rest) {
    if (!*rest) return Unknown(s, line, rest);
    StoreIncomingFile(s, rest, "wb");
}

void GetAppend(Session& s, const char* line, const char* rest) {
    if (!*rest) return Unknown(s, line, rest);
    StoreIncomingFile(s, rest, "ab");
}

void GetRelative(Session& s, const char* line, const char* rest) {
    if (!*rest) return Unknown(s, line, rest);
    StoreIncomingFile(s, std::string(res->restore_dir) + rest, "wb");
}

void Save(Session&, const char*, const char*) {}

void Supersave(Session& s, const char*, const char*) { s.sock->Write("CONFIG_UNKNOWN_CLIENT"); }

void Erase(Session& s, const char* line, const char*) {
    PrintMessage("%s", line);
    s.sock->Write(VerifyWarehouseExists() ? "ERROR_UNKNOWN_ID" : "ERROR_BUNKER_DOWN");
}

void Restore(Session& s, const char*, const char* rest) {
    // source, target, mode word, file list up to the newline, then the location.
    const char* newline = strchr(rest, '\n');
    if (newline && newline[1]) PrintMessage("Restauration a un emplacement specifique (%s)", newline + 1);
    s.sock->Write("ERROR_UNKNOWN_ID");
}

void EraseClient(Session& s, const char*, const char*) {
    s.sock->Echo();
    s.sock->Read();
    std::string id(s.sock->read_buffer);
    std::string peer(s.sock->name);
    // Names and identifiers come from the network: never let them climb
    // out of the data folder.
    if (IsSafePathComponent(id.c_str()) && IsSafePathComponent(peer.c_str())) {
        char sep = res->separator;
        std::string dir = std::string(res->data_dir) + peer + sep + "backup" + sep + id + sep;
        RemoveDir(dir.c_str());
    }
    s.sock->Write("success");
}

void Boulegue(Session& s, const char*, const char*) {
    s.sock->SetWriteBufferSize(4194304);
    memset(s.sock->write_buffer, 0, 4194304);
    for (int size = 128; size <= 4194304; size *= 2) {
        long long count = 41943040LL / size + 1;
        Measure(size, count, [&] { s.sock->Send(size); });
    }
}

void BoulegueFast(Session& s, const char*, const char*) {
    std::vector<char> zeros(4194304, 0);
    for (int size = 128; size <= 4194304; size *= 2) {
        long long count = 419430400LL / size + 1;
        Measure(size, count, [&] { s.sock->FastWrite(0, zeros.data(), size, 0); });
    }
    s.sock->FastSend();
}

}  // namespace commands
