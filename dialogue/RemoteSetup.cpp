#include "dialogue/RemoteSetup.h"

#include <stdlib.h>
#include <string.h>

#include <string>

#include "core/Globals.h"
#include "crypto/AesKeys.h"
#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "dialogue/Connections.h"
#include "foundation/Log.h"
#include "records/Client.h"
#include "records/ClientKeys.h"
#include "records/Config.h"
#include "transport/Sock.h"

const char* const kRepairPassPhrase = "a7c31e904bd25f68e0197cd4b3a65f02";

bool AskOperatingSystem(const char* ip, int port, char* os, size_t size) {
    Sock* sock = OpenConnection(ip, port, 1, false, 5, 0);
    if (!sock) return false;
    bool ok = false;
    try {
        sock->Write("operating_system");
        sock->Read();
        snprintf(os, size, "%s", sock->read_buffer);
        sock->CloseConnection();
        ok = true;
    } catch (SocketError& e) {
        PrintMessage("AddClient: Socket Exception Caught: %s", e.message);
        ReleaseSocketError();
    }
    delete sock;
    return ok;
}

namespace {

// One command, one reply line that is read and not examined.
void Say(Sock* sock, const std::string& line) {
    sock->Write(line.c_str(), (unsigned)line.size());
}

void SendKey(Sock* sock, const std::string& command, const RSAKey& key) {
    Say(sock, command);
    Say(sock, key.ModuloText());
    Say(sock, key.ExponentText());
    sock->Read();
}

}  // namespace

int FixBrokenAesKey(Client* client) {
    if (!client || !config) return 0;
    PrintMessage("FixBrokenAesKey(%s, %s)", client->base_id, client->name);
    Sock* sock = OpenConnection(client->ip, config->client_port, 1, false, 5, 0);
    if (!sock) return 0;
    int result = 0;
    try {
        RSAKey pub, priv;
        GenerateKeyPair(&pub, &priv);
        WritePubKey(&pub, client->name);
        std::string gui = std::string("zelgui_") + client->name;
        WritePubKey(&pub, gui.c_str());
        WritePrivKey(&priv, gui.c_str(), kRepairPassPhrase);
        char* aes = GetRandomAESKey();
        if (aes) {
            WritePrivateKey(aes, client);
            free(aes);
        }
        Say(sock, std::string("config name set ") + client->base_id);
        sock->Read();
        Say(sock, std::string("config server set ") + config->network[0] + " " + config->name);
        sock->Read();
        SendKey(sock, "set_pub_key \"\"", pub);
        SendKey(sock, "set_priv_key \"\"", priv);
        RSAKey own;
        ReadPubKey(&own, nullptr);
        SendKey(sock, std::string("set_pub_key \"") + config->name + "\"", own);
        sock->CloseConnection();
        result = 1;
    } catch (SocketError& e) {
        PrintMessage("AddClient: Socket Exception Caught: %s", e.message);
        ReleaseSocketError();
    }
    delete sock;
    return result;
}
