#include "dialogue/CommandRunner.h"

#include <time.h>

#include "foundation/Commands.h"
#include "foundation/Log.h"
#include "foundation/Threads.h"
#include "transport/Sock.h"

int keep_alive_interval = 300;

namespace {

// The command thread only sets `done`; the caller polls it.
void* RunCommand(void* argument) {
    ThreadExecute(argument);
    return nullptr;
}

}  // namespace

int ThreadExecuteWithSock(Command* command, Sock* sock) {
    if (!command) return -1;
    if (!sock) return -2;
    PrintMessage("Executing [%s]", command->command);
    time_t start = time(nullptr);
    if (!StartThread(RunCommand, command)) {
        // Without a worker, run it here: the peer still gets its answer.
        ThreadExecute(command);
    }
    time_t last = start;
    while (!command->done.load()) {
        Wait(0.05);
        time_t now = time(nullptr);
        if (now - last >= keep_alive_interval) {
            sock->Write("RUNNING");
            last = now;
        }
    }
    PrintMessage("Executed [%s] in %i sec", command->command, (int)(time(nullptr) - start));
    return 0;
}

int CheckLocks(Client*, bool) { return 0; }

bool CheckLocks(Sock* sock, Client* client, bool verbose) {
    static const char* const kReplies[] = {"ERROR_CLIENT_SAVE",  "ERROR_CLIENT_RESTORE",   "ERROR_CLIENT_ERASE",
                                           "ERROR_CLIENT_TREAT", "ERROR_WAREHOUSE_SAVE",   "ERROR_DATABASE_UPGRADE",
                                           "ERROR_CLIENT_DOWN"};
    int code = CheckLocks(client, verbose);
    if (code >= 0) return true;
    if (code >= -7 && sock) sock->Write(kReplies[-code - 1]);
    return false;
}
