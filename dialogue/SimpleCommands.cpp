// The simple commands of the dispatcher: each answers from local state or
// one local operation.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "core/Globals.h"
#include "crypto/Md5.h"
#include "dialogue/CommandRunner.h"
#include "dialogue/Connections.h"
#include "dialogue/Dispatcher.h"
#include "dialogue/ObjectCounters.h"
#include "foundation/Commands.h"
#include "foundation/Execute.h"
#include "foundation/ExternalPrograms.h"
#include "foundation/FileOps.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "records/Config.h"
#include "selection/Browse.h"
#include "transport/Sock.h"

namespace commands {

namespace {

// Replies the MD5 text of a local file (the digest of no bytes when it is
// missing, as the hash code logs).
void ReplyDigest(Session& s, const std::string& path) {
    MD5 md5;
    md5.HashFile(const_cast<char*>(path.c_str()));
    char digest[33];
    md5.GetHash(digest);
    s.sock->Write(digest);
}

}  // namespace

void Unknown(Session& s, const char* line, const char*) {
    s.sock->Write(line[0] == 'i' ? "UNKNOWN COMMAND" : "UNKNOWN_COMMAND");
}

void Backupdate(Session&, const char*, const char*) {}

void Md5sum(Session& s, const char* line, const char* rest) {
    if (!*rest) return Unknown(s, line, rest);
    ReplyDigest(s, LocalPath(rest));
}

void Md5Ides(Session& s, const char*, const char*) {
    ReplyDigest(s, std::string(res->conf_dir) + "exe/sophos_ides.zip");
}

void Md5Sophos(Session& s, const char* line, const char*) {
    const char* package = strcmp(line, "md5_sophos_amd64") == 0 ? "exe/linux.amd64.glibc.2.3.tar.gz"
                                                                  : "exe/linux.intel.libc6.glibc.2.2.tar.gz";
    ReplyDigest(s, std::string(res->conf_dir) + package);
}

void ClearLogs(Session& s, const char*, const char*) {
    s.sock->Echo();
    FILE* f = GetFILE(res->events_file, "w", false);
    if (!f) return;
    fputs("Journal des Ev\xe8nements\n", f);
    CloseFILE(f);
}

void Cwd(Session& s, const char*, const char*) {
    char dir[400];
    memset(dir, 0, sizeof(dir));
    if (!getcwd(dir, sizeof(dir) - 1)) dir[0] = 0;
    s.sock->Write(dir);
}

void EchoText(Session& s, const char* line, const char* rest) {
    if (!*rest) return Unknown(s, line, rest);
    s.sock->Write(rest);
}

void RunCommand(Session& s, const char*, const char* rest) {
    // The command is what follows the first blank of the line.
    const char* blank = strchr(rest, ' ');
    const char* text = blank ? blank + 1 : "";
    if (!*text) {
        s.sock->Write("OK");
        return;
    }
    Command command(text);
    ThreadExecuteWithSock(&command, s.sock);
    if (command.result == 0)
        s.sock->Write("0");
    else if (!command.error)
        s.sock->FormatWrite("%i", command.result);
    else
        s.sock->FormatWrite("%i %i %s", command.result, command.error_number, command.error);
}

void FilesErased(Session&, const char*, const char*) { set_files_erased(true); }
void FilesRestored(Session&, const char*, const char*) { set_files_restored(true); }

void FilesSaved(Session&, const char* line, const char*) {
    set_files_saved(true);
    // "files_saved <set number> <value>"
    const char* p = strchr(line, ' ');
    if (!p) return;
    while (*p == ' ') p++;
    char* end = nullptr;
    long number = strtol(p, &end, 10);
    if (end == p) return;
    while (*end == ' ') end++;
    if (!*end) return;
    unsigned value = (unsigned)strtoul(end, nullptr, 10);
    bool changed = false;
    {
        // The hourly identification may replace the list meanwhile.
        ClientsLock lock;
        for (Client* c : config->clients) {
            if (c && c->number == number) {
                c->last_save = value;
                changed = true;
            }
        }
    }
    if (changed) config->WriteConfig();
}

void FsMkdir(Session& s, const char* line, const char* rest) {
    if (!*rest) return Unknown(s, line, rest);
    std::string path = LocalPath(rest);
    PrintMessage("Je vais creer le dossier (%s)", path.c_str());
    int rc = MakeDir(path.c_str());
    int error = errno;
    if (rc == 0) {
        s.sock->Write("OK");
    } else if (error == ENOENT) {
        s.sock->Write("ERROR_ENOENT");
    } else if (error == EEXIST) {
        s.sock->Write("ERROR_EEXIST");
    } else {
        s.sock->FormatWrite("ERROR_%s", strerror(error));
    }
}

void FsUnlink(Session& s, const char* line, const char* rest) {
    // "fs_unlink <peer word> <path>"
    const char* p = rest;
    while (*p == ' ') p++;
    const char* blank = strchr(p, ' ');
    std::string who = blank ? std::string(p, blank - p) : std::string(p);
    if (who != "you") {
        s.sock->Write("CONFIG_UNKNOWN_CLIENT");
        return;
    }
    if (!blank || !blank[1]) return Unknown(s, line, rest);
    std::string path = LocalPath(blank + 1);
    s.sock->Write(Unlink(path.c_str()) ? "CONFIG_OK" : "ERROR_UNLINK");
}

void List(Session& s, const char*, const char* rest) {
    // "list <peer word> \"<path>\""
    const char* blank = strchr(rest, ' ');
    std::string who = blank ? std::string(rest, blank - rest) : std::string(rest);
    if (who != "you") {
        s.sock->Write("ERROR_CLIENT_UNKNOWN");
        return;
    }
    const char* open = blank ? strchr(blank, '"') : nullptr;
    std::string path;
    if (open) {
        const char* close = strchr(open + 1, '"');
        path = close ? std::string(open + 1, close - open - 1) : std::string(open + 1);
    }
    if (path.empty()) {
        char* roots = ListRoot();
        s.sock->Write(roots);
        delete[] roots;
        return;
    }
    if (path == "SYSTEM_STATE|") {
        s.sock->Write("0");
        return;
    }
    if (path.back() == '|') {
        char* listing = ListDir(&path[0]);
        s.sock->Write(listing && listing[0] ? listing : "0");
        delete[] listing;
        return;
    }
    std::string local = LocalPath(path.c_str());
    struct stat st;
    if (lstat(local.c_str(), &st) != 0) {
        s.sock->Write("0");
        return;
    }
    std::string wire = local;
    ConvertPath2(&wire[0]);
    std::string reply = "1\nfile " + std::to_string((long long)st.st_size) + " " +
                        std::to_string((unsigned)st.st_mtime) + " \"" + wire + "\"";
    s.sock->Write(reply.c_str(), (unsigned)reply.size());
}

void NoFooter(Session& s, const char*, const char*) {
    s.sock->Write("OK");
    s.sock->acknowledge = 0;
}

void OperatingSystem(Session& s, const char*, const char*) { s.sock->Write(res->system_name); }

void Objects(Session& s, const char*, const char*) {
    LogObjectCounters();
    s.sock->Write("OK");
}

void Query(Session& s, const char*, const char*) { s.sock->Write("0"); }

void Reboot(Session& s, const char*, const char*) {
    s.sock->Echo();
    Execute(external_programs().reboot.c_str(), nullptr, 1);
}

void Shutdown(Session& s, const char*, const char*) {
    s.sock->Echo();
    Execute(external_programs().halt.c_str(), nullptr, 1);
}

void Restart(Session&, const char*, const char*) {
    PrintMessage("MUST RESTART");
    set_kill(2);
}

void Terminate(Session&, const char*, const char*) {
    PrintMessage("MUST DIE");
    set_kill(1);
}

void SystemError(Session&, const char*, const char*) { set_system_error(true); }
void VirusFound(Session&, const char*, const char*) { set_virus_found(true); }

void TestConnection(Session& s, const char*, const char*) {
    s.sock->Echo();
    Sock* server = OpenWarehouseConnection(10);
    if (server) {
        PrintDebug("TestConnection Succesful");
        server->CloseConnection();
        delete server;
        s.sock->Write("TEST_OK");
    } else {
        PrintEvent("ERROR", "Connection au Centre de Sauvegarde impossible (V\xe9rifier les connections)");
        s.sock->Write("TEST_OUT_FAILED");
    }
}

void ThisVersion(Session& s, const char*, const char*) { s.sock->Write(res->version_text); }

void UpdateSoftware(Session& s, const char*, const char*) {
    s.sock->Write("ERROR_OPEN_FILE");
    PrintMessage("ReceiveMessages: update_software: %s unknown client", s.sock->name);
}

void DatabaseVersion(Session& s, const char*, const char*) { s.sock->Write("ERROR_DATABASE"); }

void Winver(Session& s, const char*, const char*) {
    char* release = GetUnixVersion();
    if (release && release[0])
        s.sock->FormatWrite("%s %s", res->system_name, release);
    else
        s.sock->Write(res->system_name);
    delete[] release;
}

}  // namespace commands
