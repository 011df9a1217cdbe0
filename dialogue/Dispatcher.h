// The command dispatcher: serves one accepted connection, one command line
// at a time, until the peer closes, sends "close" or the process stops.
#pragma once

#include "records/PendingConfig.h"

class Sock;

// Per-connection state, local to one ReceiveMessages call.
struct Session {
    Sock* sock = nullptr;          // owned by ReceiveMessages
    bool network_changed = false;  // a configuration change touched the network
    PendingConfig pending;         // changes waiting for "config test"; dropped with the connection
    bool verbose = false;          // the command was logged with "CMD: "
};

// A command handler: `line` is the whole command line; `rest` is the text
// after the matched keyword.
typedef void (*CommandHandler)(Session& session, const char* line, const char* rest);

// Thread body; `socket` is the accepted Sock*, whose ownership passes here.
void* ReceiveMessages(void* socket);

// Finds and runs the handler of `line` (or answers "UNKNOWN_COMMAND").
void DispatchCommand(Session& session, const char* line);

// Handlers, grouped by the files that implement them.
namespace commands {
// Simple commands.
void Backupdate(Session&, const char*, const char*);
void Md5sum(Session&, const char*, const char*);
void Md5Ides(Session&, const char*, const char*);
void Md5Sophos(Session&, const char*, const char*);
void ClearLogs(Session&, const char*, const char*);
void Cwd(Session&, const char*, const char*);
void EchoText(Session&, const char*, const char*);
void RunCommand(Session&, const char*, const char*);
void FilesErased(Session&, const char*, const char*);
void FilesRestored(Session&, const char*, const char*);
void FilesSaved(Session&, const char*, const char*);
void FsMkdir(Session&, const char*, const char*);
void FsUnlink(Session&, const char*, const char*);
void List(Session&, const char*, const char*);
void NoFooter(Session&, const char*, const char*);
void OperatingSystem(Session&, const char*, const char*);
void Objects(Session&, const char*, const char*);
void Query(Session&, const char*, const char*);
void Reboot(Session&, const char*, const char*);
void Restart(Session&, const char*, const char*);
void Shutdown(Session&, const char*, const char*);
void SystemError(Session&, const char*, const char*);
void Terminate(Session&, const char*, const char*);
void TestConnection(Session&, const char*, const char*);
void ThisVersion(Session&, const char*, const char*);
void UpdateSoftware(Session&, const char*, const char*);
void DatabaseVersion(Session&, const char*, const char*);
void VirusFound(Session&, const char*, const char*);
void Winver(Session&, const char*, const char*);
void Unknown(Session&, const char*, const char*);
// Save, restore and erase commands.
void Send(Session&, const char*, const char*);
void Get(Session&, const char*, const char*);
void GetAppend(Session&, const char*, const char*);
void GetRelative(Session&, const char*, const char*);
void Save(Session&, const char*, const char*);
void Supersave(Session&, const char*, const char*);
void Erase(Session&, const char*, const char*);
void EraseClient(Session&, const char*, const char*);
void Restore(Session&, const char*, const char*);
void Boulegue(Session&, const char*, const char*);
// Backup and restore streams.
void ListFilesToSave(Session&, const char*, const char*);
void SendFast(Session&, const char*, const char*);
void GetFast(Session&, const char*, const char*);
void BoulegueFast(Session&, const char*, const char*);
// Configuration commands ("config <category> <verb> <values>").
void Configure(Session&, const char*, const char*);
// Configuration archives kept for the server.
void SaveConfig(Session&, const char*, const char*);
void SaveConfigUpdate(Session&, const char*, const char*);
void PatchConfig(Session&, const char*, const char*);
// Key and password commands.
void SetPassword(Session&, const char*, const char*);
void SetPrivKey(Session&, const char*, const char*);
void SetPubKey(Session&, const char*, const char*);
void GetKey(Session&, const char*, const char*);
}  // namespace commands
