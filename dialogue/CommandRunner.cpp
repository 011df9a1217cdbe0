#include "dialogue/CommandRunner.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>

#include "foundation/Commands.h"
#include "foundation/Log.h"
#include "foundation/Threads.h"
#include "transport/Sock.h"

int keep_alive_interval = 300;

namespace {

// The command the worker runs, shared with the connection thread: whichever
// lets go last frees it. A connection that fails while the command runs
// ("RUNNING" cannot be written) leaves at once; the worker finishes on its
// own copy and never writes into the caller's Command.
struct SharedCommand {
    explicit SharedCommand(const char* line) : command(line) {}
    Command command;
    std::atomic<int> holders{2};
};

void LetGo(SharedCommand* shared) {
    if (--shared->holders == 0) delete shared;
}

void* RunShared(void* argument) {
    SharedCommand* shared = static_cast<SharedCommand*>(argument);
    ThreadExecute(&shared->command);
    LetGo(shared);
    return nullptr;
}

// Lets go of the connection thread's hold on every way out, a SocketError
// included.
class Hold {
public:
    explicit Hold(SharedCommand* shared) : shared_(shared) {}
    ~Hold() { LetGo(shared_); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    SharedCommand* shared_;
};

}  // namespace

int ThreadExecuteWithSock(Command* command, Sock* sock) {
    if (!command) return -1;
    if (!sock) return -2;
    PrintMessage("Executing [%s]", command->command);
    time_t start = time(nullptr);
    SharedCommand* shared = new SharedCommand(command->command);
    if (!StartThread(RunShared, shared)) {
        // Without a worker, run it here: the peer still gets its answer.
        shared->holders--;
        ThreadExecute(&shared->command);
    }
    Hold hold(shared);
    const Command& running = shared->command;
    time_t last = start;
    while (!running.done.load()) {
        Wait(0.05);
        time_t now = time(nullptr);
        if (now - last >= keep_alive_interval) {
            sock->Write("RUNNING");
            last = now;
        }
    }
    command->result = running.result;
    command->error_number = running.error_number;
    free(command->error);
    command->error = running.error ? strdup(running.error) : nullptr;
    command->done = 1;
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
