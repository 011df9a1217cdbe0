// The server's own configuration archives, kept on the agent in the folder
// named for the server ("<data>/<peer name>/"): a whole archive
// ("save_config"), dated update archives ("save_config_update") and a
// difference applied to the archive ("patch_config"). Each step is logged
// in the peer's log under the tag "SYSTEM".
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <functional>
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
#include "foundation/Spawn.h"
#include "foundation/Text.h"
#include "foundation/Threads.h"
#include "transport/Sock.h"

namespace {

// Reserves a unique temporary name beside `target` (created empty, never
// through a link); empty when none could be made.
std::string ReserveTemporary(const std::string& target) {
    static std::atomic<unsigned> serial{0};
    MakeParentDirectories(target);
    for (int attempt = 0; attempt < 100; attempt++) {
        char suffix[64];
        snprintf(suffix, sizeof(suffix), ".%lu.%u.tmp", GetThreadID(), serial++);
        std::string temp = target + suffix;
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            return temp;
        }
        if (errno != EEXIST) break;
    }
    PrintError("Could not open %s for writing", target.c_str());
    return std::string();
}

// The one writer of the configuration archives. `produce` fills the
// temporary file it is given (a unique name beside `target`) and returns 0
// on success; the file then takes the old archive's owner and mode and is
// renamed over `target`. On any failure, or when `produce` throws, the
// temporary file is removed and `target` stays as it was. Returns the
// result of `produce`, or -6 when no temporary file could be made or the
// rename failed.
int WriteArchive(const std::string& target, const std::function<int(const std::string&)>& produce) {
    std::string temp = ReserveTemporary(target);
    if (temp.empty()) return -6;
    int rc;
    try {
        rc = produce(temp);
    } catch (...) {
        unlink(temp.c_str());
        throw;
    }
    if (rc == 0) {
        struct stat old;
        if (lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
            chmod(temp.c_str(), old.st_mode & 07777);
            if (chown(temp.c_str(), old.st_uid, old.st_gid) != 0) {
                // Only root may give a file away; the mode is kept anyway.
            }
        }
        if (rename(temp.c_str(), target.c_str()) == 0) return 0;
        PrintError("Could not replace %s: %s", target.c_str(), strerror(errno));
        rc = -6;
    }
    unlink(temp.c_str());
    return rc;
}

// The folder of the peer's archives, or empty when the peer's name cannot
// name a folder (it comes from the handshake: "..", "a/b" must not lead
// outside the data folder).
std::string PeerFolder(Sock* sock) {
    if (!IsSafePathComponent(sock->name)) return std::string();
    return std::string(res->data_dir) + sock->name + res->separator;
}

// Declines the single-file transfer that follows the command, keeping the
// dialogue in step: the size line is read and answered "ERROR_OPEN_FILE".
void DeclineTransfer(Sock* sock, const char* command) {
    PrintError("%s: the peer name (%s) cannot name a folder", command, sock->name);
    sock->Read();
    if (strncmp(sock->read_buffer, "ERROR_", 6) != 0) sock->Write("ERROR_OPEN_FILE");
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
    if (folder.empty()) return DeclineTransfer(s.sock, texts.command);
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
        rc = WriteArchive(target, [&](const std::string& temp) {
            return GetFile(s.sock, temp.c_str(), nullptr, nullptr, "wb");
        });
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

// Applies the plain difference `diff` to the archive: the archive is
// unpacked beside it under a name of this call, patched into `result`, and
// the packed result replaces the archive. True when the archive was
// replaced.
bool ApplyDifference(const std::string& archive, const std::string& diff, const std::string& result) {
    // "conf.tar.gz" unpacks to "conf.tar.<thread>".
    char packed[1024];
    snprintf(packed, sizeof(packed), "%.*s.%lu.gz", (int)archive.size() - 3, archive.c_str(), GetThreadID());
    // A second name for the archive, so that unpacking leaves it alone.
    if (link(archive.c_str(), packed) != 0 && !Copy(archive.c_str(), packed)) return false;
    bool replaced = false;
    if (DeZip(packed, true)) {
        std::vector<std::string> argv = SplitWords(external_programs().patch);
        argv.insert(argv.end(), {packed, diff, "-o", result});
        if (RunArgv(argv) == 0 && VerifyFileExists(result.c_str())) {
            replaced = WriteArchive(archive, [&](const std::string& temp) {
                           char zipped[1100];
                           snprintf(zipped, sizeof(zipped), "%s", result.c_str());
                           if (!Zip(zipped, false)) return -1;
                           if (rename(zipped, temp.c_str()) == 0) return 0;
                           unlink(zipped);
                           return -1;
                       }) == 0;
        }
    }
    unlink(packed);  // the unpacked copy (or the second name when unpacking failed)
    unlink(result.c_str());
    return replaced;
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
    if (folder.empty()) return DeclineTransfer(s.sock, "patch_config");
    const char* peer = s.sock->name;
    long start = Clock();
    unsigned long id = GetThreadID();
    std::string archive = folder + "conf.tar.gz";
    char number[32];
    snprintf(number, sizeof(number), "%lu", id);
    std::string packed_diff = folder + "conf.diff." + number + ".gz";
    std::string diff = folder + "conf.diff." + number;
    std::string result = folder + "conf.new." + number + ".gz";
    bool success = false;
    try {
        if (GetFile(s.sock, packed_diff.c_str(), nullptr, nullptr, "wb") != 0) {
            unlink(packed_diff.c_str());
            return PrintLog(peer, "SYSTEM", "Patch Configuration: ...FAILED");
        }
        std::string applied = packed_diff;
        if (VerifyFileExists(archive.c_str())) {
            char name[1024];
            snprintf(name, sizeof(name), "%s", packed_diff.c_str());
            if (DeZip(name, true)) applied = name;
            struct stat st;
            // An empty difference (or one whose size cannot be read) leaves
            // nothing to do.
            if (stat(applied.c_str(), &st) != 0 || st.st_size == 0)
                success = true;
            else
                success = ApplyDifference(archive, applied, result);
        }
        std::string rejects = result + ".rej";
        if (VerifyFileExists(rejects.c_str())) unlink(rejects.c_str());
        std::string diff_size = SizeOf(applied);
        unlink(applied.c_str());
        if (!success) {
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
        unlink(packed_diff.c_str());
        unlink(diff.c_str());
        throw;
    }
}

}  // namespace commands
