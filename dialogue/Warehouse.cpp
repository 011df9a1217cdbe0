#include "dialogue/Warehouse.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "crypto/Container.h"
#include "crypto/Zip.h"
#include "dialogue/FileStreams.h"
#include "dialogue/SingleFileTransfer.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "records/Client.h"
#include "records/Config.h"
#include "foundation/FileOps.h"
#include "selection/VersionFiles.h"
#include "selection/VersionNode.h"
#include "transport/Sock.h"

namespace {

const long long kReadStep = 1500000;
const int kPatchTimeout = 7200;

// Streams the plain bytes of a container as numbered data records after
// the metadata record.
class StreamSink : public ContainerSink {
  public:
    StreamSink(Sock* sock, const struct stat& stored, long long total)
        : sock_(sock), stored_(stored), total_(total) {}
    bool Begin() override {
        char meta[40];
        snprintf(meta, sizeof(meta), "M_UNIX%08x.%08x.%08x", (unsigned)stored_.st_uid, (unsigned)stored_.st_gid,
                 (unsigned)(S_IFREG | (stored_.st_mode & 07777)));
        sock_->FastWrite(0, meta, 32, total_);
        begun_ = true;
        return true;
    }
    bool Write(const char* data, size_t length) override {
        if (thread_manager) thread_manager->KeepGoing();
        sock_->FastWrite(record_++, const_cast<char*>(data), (int)length, total_);
        sent_ += (long long)length;
        if (thread_manager) thread_manager->SetFileSize(32 + sent_);
        return true;
    }
    bool begun_ = false;

  private:
    Sock* sock_;
    struct stat stored_;
    long long total_;
    int record_ = 1;
    long long sent_ = 0;
};

// The first word(s) of a warehouse command about `client`'s versions.
std::string Target(const Client* client) {
    if (config && !strcmp(client->box_name, config->name)) return "backupdb";
    return std::string("mirror ") + client->box_name;
}

std::string StoredPath(const Client* client, const VersionNode* version) {
    char path[400];
    GetServerPath(path, client, version, nullptr, sizeof(path));
    return path;
}

// Puts the socket's time-out back on every exit.
class TimeoutScope {
  public:
    TimeoutScope(Sock* sock, int seconds) : sock_(sock), old_(sock->SetTimeout(seconds)) {}
    ~TimeoutScope() { sock_->SetTimeout(old_); }

  private:
    Sock* sock_;
    int old_;
};

}  // namespace

int MultiSendCryptedFile(Sock* sock, const char* path, const char* name, long long size, const char* key) {
    struct stat stored;
    std::string first = path;
    if (IsDir(path)) first += "/000";
    if (stat(first.c_str(), &stored) != 0) {
        sock->FastWrite(-2, nullptr, 0, 0);
        return -7;
    }
    const long long total = size + 32;
    if (thread_manager) {
        thread_manager->SetState(16);
        thread_manager->SetFilename(name ? name : path);
        thread_manager->SetTotalFileSize(total);
    }
    StreamSink sink(sock, stored, total);
    ContainerFault fault;
    int result = 0;
    try {
        if (ReadContainer(path, key, sink, fault)) {
            sock->FastWrite(-3, nullptr, 0, 0);
        } else if (sink.begun_) {
            PrintMessage("MultiSendCryptedFile(%s): aborting decryption, corrupted file !!!", path);
            sock->FastWrite(-4, nullptr, 0, 0);
            result = -4;
        } else {
            if (fault.kind == ContainerFault::kType)
                PrintMessage("MultiSendCryptedFile(%s): Unknown file type (%s)", path, fault.text.c_str());
            else if (fault.kind == ContainerFault::kKey)
                PrintMessage("MultiSendCryptedFile(%s): Invalid key %s/%s", path, key ? key : "", fault.text.c_str());
            else
                PrintMessage("MultiSendFile(%s): is read-protected (%s)", path, strerror(fault.error));
            sock->FastWrite(-1, nullptr, 0, 0);
            result = -5;
        }
    } catch (SocketError& e) {
        PrintMessage("MultiSendCryptedFile(%s): Exception Caught: %s, rethrowing...", path, e.message);
        if (thread_manager) thread_manager->ResetState(16);
        throw SocketError(e.message, e.code);
    }
    if (thread_manager) thread_manager->ResetState(16);
    return result;
}

int MultiReadFile(Sock*, const char* path, const VersionNode* version) {
    FILE* f = path ? fopen(path, "rbe") : nullptr;
    if (!f) return -5;
    for (long long at = 0; version && at < version->size; at += kReadStep)
        if (thread_manager) thread_manager->KeepGoing();
    fclose(f);
    return 0;
}

bool TellWarehouseSaveConfig(Sock* sock) {
    char archive[410];
    snprintf(archive, sizeof(archive) - 4, "%sconf.tar", res ? res->conf_dir : "");
    const std::string plain = archive;
    if (!Zip(archive, true)) return false;
    int sent;
    try {
        sock->Write("save_config");
        sent = SendFile(sock, archive, nullptr, nullptr);
    } catch (SocketError&) {
        DeZip(archive, true);
        throw;
    }
    // The archive stays as it was sent, for the next difference.
    if (DeZipFile(archive, (plain + ".old").c_str())) Unlink(archive);
    return sent == 0;
}

bool TellWarehousePatchConfig(Sock* sock) {
    char difference[410];
    snprintf(difference, sizeof(difference) - 4, "%sconf.tar.diff", res ? res->conf_dir : "");
    if (!VerifyFileExists(difference) || !Zip(difference, true)) return false;
    bool patched = false;
    try {
        sock->Write("patch_config");
        if (SendFile(sock, difference, nullptr, nullptr) != 0)
            PrintMessage("TellWarehousePatchConfig: Old config not on warehouse");
        else
            patched = sock->ReadCompare("SUCCESS");
    } catch (SocketError&) {
        Unlink(difference);
        throw;
    }
    Unlink(difference);
    return patched;
}

bool TellWarehouseSaveFile(Sock* sock, const Client* client, const VersionNode* version, long long& bytes) {
    std::string path = StoredPath(client, version);
    if (!VerifyFileExists(path.c_str())) {
        PrintMessage("404 File Not Found: %s", path.c_str());
        return false;
    }
    sock->FormatWrite("%s save %s %s %u", Target(client).c_str(), client->base_id,
                      version->hash_name ? version->hash_name : "", (unsigned)version->backup_date);
    if (SendFile(sock, path.c_str(), version->full_name, nullptr) != 0) return false;
    bytes += GetFileSize(path.c_str());
    return true;
}

bool TellWarehousePatchFile(Sock* sock, const Client* client, const VersionNode* version, long long& bytes,
                            bool& full) {
    TimeoutScope scope(sock, kPatchTimeout);
    // The difference lies beside the stored version, for own and mirrored
    // sets alike.
    std::string path = StoredPath(client, version) + ".dif";
    full = false;
    sock->FormatWrite("%s patch %s %s %u %u", Target(client).c_str(), client->base_id,
                      version->hash_name ? version->hash_name : "", (unsigned)version->backup_date,
                      version->diff_date);
    if (SendFile(sock, path.c_str(), version->full_name, nullptr) != 0) return false;
    bytes += GetFileSize(path.c_str());
    if (!sock->ReadCompare("SUCCESS")) {
        full = true;
        return false;
    }
    PrintMessage("Diff file saved (%s) ;)", path.c_str());
    return true;
}

bool TellWarehouseEraseFile(Sock* sock, const Client* client, const VersionNode* version) {
    sock->FormatWrite("%s erase %s %s %u", Target(client).c_str(), client->base_id,
                      version->hash_name ? version->hash_name : "", (unsigned)version->backup_date);
    return sock->ReadCompare("SUCCESS");
}

bool TellWarehouseRestoreFile(Sock* sock, const Client* client, const VersionNode* version) {
    sock->FormatWrite("backupdb restore %s %s %u", client->base_id, version->hash_name ? version->hash_name : "",
                      (unsigned)version->backup_date);
    return GetFile(sock, StoredPath(client, version).c_str(), version->full_name, nullptr, "wb") == 0;
}
