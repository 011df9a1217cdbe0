#include "dialogue/Identification.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "core/Globals.h"
#include "crypto/Md5.h"
#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "dialogue/Connections.h"
#include "dialogue/SingleFileTransfer.h"
#include "foundation/Execute.h"
#include "foundation/ExternalPrograms.h"
#include "foundation/Log.h"
#include "foundation/Threads.h"
#include "records/ClientManagement.h"
#include "records/Config.h"
#include "records/ServerReset.h"
#include "transport/Sock.h"

namespace {

// strtok over one line with a delimiter set per call; runs of delimiters
// are skipped as strtok does.
class Tokens {
public:
    explicit Tokens(std::string text) : text_(std::move(text)), pos_(0) {}
    bool Next(const char* delimiters, std::string& out) {
        while (pos_ < text_.size() && strchr(delimiters, text_[pos_])) pos_++;
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find_first_of(delimiters, pos_);
        if (end == std::string::npos) end = text_.size();
        out = text_.substr(pos_, end - pos_);
        pos_ = end < text_.size() ? end + 1 : end;
        return true;
    }

private:
    std::string text_;
    size_t pos_;
};

Client* ParseClientLine(const std::string& line, bool v2, const char* server_name) {
    std::string slot[21];
    slot[0] = server_name ? server_name : "";
    Tokens t(line);
    std::string tok, schedule[5];
    if (!t.Next(".", slot[1])) return nullptr;
    t.Next(" ", slot[16]);
    t.Next(" ", slot[3]);
    t.Next("\"", slot[2]);
    t.Next(" ", slot[4]);
    for (int i = 0; i < 5; i++) t.Next(" ", schedule[i]);
    slot[18] = schedule[0] + " " + schedule[1] + " " + schedule[2] + " " + schedule[3] + " " + schedule[4];
    slot[6] = schedule[0];
    slot[5] = schedule[1];
    t.Next(" ", slot[17]);
    t.Next(" ", slot[7]);
    t.Next(" ", slot[8]);
    t.Next(" ", slot[9]);
    t.Next(" ", slot[11]);
    t.Next(" ", tok);
    t.Next(" ", slot[12]);
    t.Next(" ", slot[13]);
    t.Next(" ", slot[14]);
    t.Next(" ", slot[15]);
    t.Next(" ", tok);
    if (v2)
        t.Next(" ", slot[10]);
    else
        slot[10] = slot[9];
    char* row[21];
    for (int i = 0; i < 21; i++) row[i] = &slot[i][0];
    return new Client(row, 18);
}

// The server no longer knows this agent: forget its keys, server and name.
void ResetMyself() {
    PrintMessage("I am resetting myself...");
    ForgetServer();
}

// "9.9.9.0": every backup set goes and the administrator gets new keys.
void RegenerateGuiKeys() {
    // The first set's identifier is copied under the lock: the deletion
    // itself changes the list.
    for (;;) {
        Client* first;
        char id[sizeof(Client::id)];
        {
            ClientsLock lock;
            if (config->clients.empty()) break;
            first = config->clients.front();
            snprintf(id, sizeof(id), "%s", first ? first->id : "");
        }
        int rc = DeleteClient(first ? id : nullptr);
        ClientsLock lock;
        if (rc == -2 || (!config->clients.empty() && config->clients.front() == first)) break;
    }
    PrintMessage("Regenerating GUI keys...");
    RSAKey pub, priv;
    GenerateKeyPair(&pub, &priv);
    MD5 md5;
    md5.HashString(config->name, 0);
    char digest[33];
    md5.GetHash(digest);
    printf("hash == %s\n", digest);
    WritePubKey(&pub, "zelgui_admin");
    WritePrivKey(&priv, "zelgui_admin", digest);
}

// Times and backup sets, for a server of the same or an older version.
void RetrieveSets(Sock* sock) {
    sock->Write("config time retrieve");
    sock->Read();
    int times[2] = {config->time[0], config->time[1]};
    sscanf(sock->read_buffer, "%i %i", &times[0], &times[1]);
    // A connection may be writing the configuration file meanwhile.
    if (mutex) mutex_lock(mutex->mutex_config, "RetrieveSets");
    config->time[0] = times[0];
    config->time[1] = times[1];
    if (mutex) mutex_unlock(mutex->mutex_config, "RetrieveSets");
    sock->FormatWrite("config client getv2 all %s", config->name);
    sock->Read();
    bool v2 = true;
    if (strcmp(sock->read_buffer, "UNKNOWN_COMMAND") == 0) {
        sock->FormatWrite("config client get all %s", config->name);
        sock->Read();
        v2 = false;
    }
    std::vector<Client*> sets;
    int count = ParseClientList(sock->read_buffer, v2, config->server_name, sets);
    PrintMessage("There are %i JDS on my machine", count);
    // Connections may be walking the list ("files_saved"): swap it in one
    // step under the lock, never free records a reader still holds.
    config->ReplaceClients(sets);
    {
        ClientsLock lock;
        for (Client* c : config->clients)
            PrintMessage("ID: %s, JDS: %i, NAME: %s", c->base_id, c->number, c->name);
    }
    config->WriteConfig();
}

}  // namespace

int ParseClientList(const char* reply, bool v2, const char* server_name, std::vector<Client*>& out) {
    if (!reply) return 0;
    const char* newline = strchr(reply, '\n');
    int count = atoi(reply);
    if (count < 0) count = 0;
    const char* p = newline ? newline + 1 : reply + strlen(reply);
    for (int i = 0; i < count && *p; i++) {
        const char* end = strchr(p, '\n');
        std::string line = end ? std::string(p, end - p) : std::string(p);
        p = end ? end + 1 : p + strlen(p);
        if (Client* c = ParseClientLine(line, v2, server_name)) out.push_back(c);
    }
    return count;
}

int IdentifyWithServer(int, int force) {
    PrintMessage("IdentifyWithServer()");
    if (!config || strcmp(config->server_name, "null") == 0) {
        PrintMessage("~IdentifyWithServer(no server configured)");
        return 0;
    }
    Sock* sock = OpenConnection(config->server_address, config->server_port, 1, false, 1, 0);
    if (!sock) {
        PrintMessage("IdentifyWithServer(): Server is not launched, or network is down");
        set_no_box(true);
        PrintMessage("~IdentifyWithServer(server unreachable)");
        return -1;
    }
    bool updated = false;
    try {
        sock->Write("version");
        sock->Read();
        std::string reply(sock->read_buffer);
        PrintMessage("I read %s", reply.c_str());
        if (reply == "ERROR_UNKNOWN_CLIENT") {
            if (!sock->anonymous) ResetMyself();
        } else {
            PrintMessage("Remote version is %s", reply.c_str());
            Version remote(reply.c_str());
            bool maintenance = reply.compare(0, 6, "9.9.9.") == 0;
            if (Version::NewVersion(&remote, nullptr) || force || maintenance) {
                if (reply == "9.9.9.9") {
                    Execute(external_programs().reboot.c_str(), nullptr, 1);
                } else if (reply == "9.9.9.0") {
                    RegenerateGuiKeys();
                } else if (reply == "9.9.9.1") {
                } else {
                    sock->Write("update_software");
                    if (GetFile(sock, res->update_program, nullptr, nullptr, "wb") == 0)
                        updated = true;
                    else
                        PrintMessage("IdentifyWithServer: Update: unknown error");
                }
            } else {
                RetrieveSets(sock);
            }
        }
        sock->CloseConnection();
    } catch (SocketError& e) {
        PrintMessage("IdentifyWithServer(): Socket Exception Caught: %s", e.message);
        ReleaseSocketError();
    }
    delete sock;
    if (updated) {
        char command[460];
        snprintf(command, sizeof(command), "chmod +x \"%s\"", res->update_program);
        PrintMessage("gonna do: %s", command);
        FormatExecute("%s", command);
        set_kill(3);
    }
    PrintMessage("~IdentifyWithServer()");
    return 0;
}
