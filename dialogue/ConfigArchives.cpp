// The server's own configuration archives, kept on the agent in the folder
// named for the server ("<data>/<peer name>/"): a whole archive
// ("save_config"), dated update archives ("save_config_update") and a
// difference applied to the archive ("patch_config"). Each step is logged
// in the peer's log under the tag "SYSTEM".
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/Globals.h"
#include "crypto/Zip.h"
#include "dialogue/Dispatcher.h"
#include "dialogue/SingleFileTransfer.h"
#include "foundation/ExternalPrograms.h"
#include "foundation/FileOps.h"
#include "foundation/Formatting.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/ReplacementFile.h"
#include "foundation/Spawn.h"
#include "foundation/Text.h"
#include "foundation/Threads.h"
#include "transport/Sock.h"

namespace {

// The folder of the peer's archives, or empty when the peer's name cannot
// name a folder (it comes from the handshake: "..", "a/b" must not lead
// outside the data folder).
std::string PeerFolder(Sock* sock) {
    if (!IsSafePathComponent(sock->name)) return std::string();
    return std::string(res->data_dir) + sock->name + res->separator;
}

// Declines the single-file transfer that follows the command, keeping the
// dialogue in step: the size line is read and answered "ERROR_OPEN_FILE".
void DeclineTransfer(Sock* sock) {
    sock->Read();
    if (strncmp(sock->read_buffer, "ERROR_", 6) != 0) sock->Write("ERROR_OPEN_FILE");
}

void DeclineForPeerName(Sock* sock, const char* command) {
    PrintError("%s: the peer name (%s) cannot name a folder", command, sock->name);
    DeclineTransfer(sock);
}

// The update archives ("conf_update_*") of the peer's folder, removed
// in-process. Folders are left alone.
void RemoveUpdateArchives(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (struct dirent* entry = readdir(dir)) {
        if (strncmp(entry->d_name, "conf_update_", 12) != 0) continue;
        std::string path = folder + entry->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) unlink(path.c_str());
    }
    closedir(dir);
}

// The storage script of the scripts folder, in the background, with the
// peer's name as its one argument.
void LaunchStorageScript(const char* peer) {
    PrintLog(peer, "SYSTEM", "launching calcul storage...");
    std::vector<std::string> argv = SplitWords(external_programs().storage_script);
    if (argv.empty()) return;
    if (argv[0].find('/') == std::string::npos) argv[0] = res->scripts_dir + argv[0];
    argv.push_back(peer);
    StartArgv(argv);
}

std::string Elapsed(long start) {
    char text[kTimeTextLength];
    PrintTime(start, Clock(), text);
    return text;
}

std::string SizeOf(const std::string& path) {
    char text[kSizeTextLength];
    PrintSize(path.c_str(), text);
    return text;
}

// The texts of the two archive commands.
struct ArchiveTexts {
    const char* command;
    const char* told;
    const char* success;
    const char* failed;
};

const ArchiveTexts kSave = {"save_config", "on m'a dit save config", "Save configuration Success",
                            "Save Configuration: ... FAILED"};
const ArchiveTexts kUpdate = {"save_config_update", "on m'a dit save config_update",
                              "Update configuration Success", "Update Configuration: ... FAILED"};

void ReceiveArchive(Session& s, const ArchiveTexts& texts, bool update) {
    std::string folder = PeerFolder(s.sock);
    if (folder.empty()) return DeclineForPeerName(s.sock, texts.command);
    const char* peer = s.sock->name;
    PrintLog(peer, "SYSTEM", "%s", texts.told);
    long start = Clock();
    std::string name = "conf.tar.gz";
    if (update) {
        time_t now = time(nullptr);
        struct tm t;
        localtime_r(&now, &t);
        char dated[64];
        snprintf(dated, sizeof(dated), "conf_update_%04i_%02i_%02i_%02i_%02i_%02i.tar.gz", t.tm_year + 1900,
                 t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
        name = dated;
    }
    std::string target = folder + name;
    int rc;
    try {
        // The old archive stays until the new one has arrived whole.
        rc = GetFile(s.sock, target.c_str(), nullptr, nullptr, "wb");
    } catch (SocketError& e) {
        PrintError("%s: Exception Caught: %s, rethrowing...", texts.command, e.message);
        PrintLog(peer, "SYSTEM", "%s (%s)", texts.failed, e.message);
        throw;
    }
    if (rc != 0) return PrintLog(peer, "SYSTEM", "%s", texts.failed);
    PrintLog(peer, "SYSTEM", "%s", texts.success);
    PrintLog(peer, "SYSTEM", "Save Configuration: (%s / %s) ... success", SizeOf(target).c_str(),
             Elapsed(start).c_str());
    if (!update) RemoveUpdateArchives(folder);
    LaunchStorageScript(peer);
}

// The working files of one "patch_config" (the difference, the unpacked
// archive, the patched result and its rejects), in a folder of their own
// beside the archive, removed whole on every way out.
class WorkFolder {
  public:
    explicit WorkFolder(const std::string& archive) {
        MakeParentDirectories(archive);
        path_ = MakeTemporaryFolder(archive);
    }
    ~WorkFolder() {
        if (!path_.empty()) RemoveDir(path_.c_str());
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    bool made() const { return !path_.empty(); }
    std::string path(const char* name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Applies the plain difference `diff` to the archive: the archive is
// unpacked into the working folder and patched there, and the packed result
// replaces the archive. True when the archive was replaced.
bool ApplyDifference(const std::string& archive, const char* diff, const WorkFolder& work) {
    const std::string plain = work.path("conf.tar"), result = work.path("conf.new");
    if (!DeZipFile(archive.c_str(), plain.c_str())) return false;
    std::vector<std::string> argv = SplitWords(external_programs().patch);
    argv.insert(argv.end(), {plain, diff, "-o", result});
    return RunArgv(argv) == 0 && VerifyFileExists(result.c_str()) && ZipFile(result.c_str(), archive.c_str());
}

// Receives the difference of "patch_config" into a working folder and
// applies it to the archive; the working files are gone on return, before
// the server hears the outcome. -1 when no difference arrived, 1 when the
// archive is as the difference wants it, 0 when it could not be patched.
int ReceiveDifference(Sock* sock, const std::string& archive, std::string& diff_size) {
    WorkFolder work(archive);
    if (!work.made()) {
        PrintError("patch_config: no working folder beside %s: %s", archive.c_str(), strerror(errno));
        DeclineTransfer(sock);
        return -1;
    }
    // Unpacked, the difference drops the ".gz" of its name.
    char diff[1024];
    snprintf(diff, sizeof(diff), "%s", work.path("conf.diff.gz").c_str());
    if (GetFile(sock, diff, nullptr, nullptr, "wb") != 0) return -1;
    bool success = false;
    if (VerifyFileExists(archive.c_str())) {
        DeZip(diff, true);
        struct stat st;
        // An empty difference (or one whose size cannot be read) leaves
        // nothing to do.
        if (stat(diff, &st) != 0 || st.st_size == 0)
            success = true;
        else
            success = ApplyDifference(archive, diff, work);
    }
    diff_size = SizeOf(diff);
    return success ? 1 : 0;
}

}  // namespace

namespace commands {

void SaveConfig(Session& s, const char*, const char*) {
    ReceiveArchive(s, kSave, false);
}

void SaveConfigUpdate(Session& s, const char*, const char*) {
    ReceiveArchive(s, kUpdate, true);
}

void PatchConfig(Session& s, const char*, const char*) {
    std::string folder = PeerFolder(s.sock);
    if (folder.empty()) return DeclineForPeerName(s.sock, "patch_config");
    const char* peer = s.sock->name;
    long start = Clock();
    std::string archive = folder + "conf.tar.gz";
    try {
        std::string diff_size;
        int applied = ReceiveDifference(s.sock, archive, diff_size);
        if (applied < 0) return PrintLog(peer, "SYSTEM", "Patch Configuration: ...FAILED");
        if (applied == 0) {
            s.sock->Write("PATCH_FAILED");
            return PrintLog(peer, "SYSTEM", "Patch Configuration: ...FAILED");
        }
        s.sock->Write("SUCCESS");
        RemoveUpdateArchives(folder);
        LaunchStorageScript(peer);
        PrintLog(peer, "SYSTEM", "Patch Configuration: (%s / %s / %s) ... success", diff_size.c_str(),
                 SizeOf(archive).c_str(), Elapsed(start).c_str());
    } catch (SocketError& e) {
        PrintError("patch_config: Exception Caught: %s, rethrowing...", e.message);
        PrintLog(peer, "SYSTEM", "Patch Configuration: ... FAILED (%s)", e.message);
        throw;
    }
}

}  // namespace commands
