#include "agent/SaveRequest.h"

#include <string.h>
#include <time.h>

#include <string>

#include "core/Globals.h"
#include "dialogue/Connections.h"
#include "foundation/Log.h"
#include "records/Config.h"
#include "transport/Sock.h"

int SaveThis(const char* backup_set) {
    if (!config || strcmp(config->server_name, "null") == 0) return 1;
    PrintMessage("C'est mon heure de sauvegarde");
    set_thinking(true);
    int status = 1;
    Sock* sock = OpenConnection(config->server_address, config->server_port, 1, false, 1, 0);
    if (!sock) {
        set_no_box(true);
        PrintError("SaveThis(): Connexion to Cube failed, backup aborted");
    } else {
        try {
            sock->FormatWrite("save %s", backup_set ? backup_set : "");
            sock->Read();
            std::string reply(sock->read_buffer);
            if (reply == "SAVE_OK") {
                sock->Write("all");
                config->backup = (unsigned)time(nullptr);
                if (config->WriteConfig()) status = 0;
            } else {
                PrintError("Sauvegarde annulee: %s", reply.c_str());
                sock->CloseConnection();
            }
        } catch (SocketError& e) {
            // The server went away mid-request: the backup was not asked for.
            ReleaseSocketError();
            PrintError("SaveThis(): Socket Exception Caught: %s", e.message);
        }
        delete sock;
    }
    set_thinking(false);
    return status;
}
