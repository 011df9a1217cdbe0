#include "dialogue/Listener.h"

#include <stdlib.h>
#include <sys/socket.h>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "dialogue/Dispatcher.h"
#include "foundation/Log.h"
#include "foundation/Threads.h"
#include "records/Config.h"
#include "transport/Sock.h"

std::atomic<Sock*> listen_server{nullptr};

namespace {

void GiveUp(int port) {
    PrintMessage("Impossible d'ecouter sur le port %i", port);
    PrintMessage("%s Client Will now QUIT!", appname);
    set_kill(1);
}

// The registration goes only once the socket is closed: whoever waits for
// it (the teardown, a restart that binds the port again) finds the port free.
void Leave(Sock* sock) {
    delete sock;
    listen_server = nullptr;
    if (thread_manager) thread_manager->RemoveThread();
}

}  // namespace

void* ListenToPort(void* argument) {
    PrintDebug("ListenToPort");
    if (thread_manager) thread_manager->SetState(2);
    int configured = config ? config->local_port : 6666;
    // Lets a test or a second instance on one machine listen elsewhere
    // without touching the configuration file.
    if (const char* forced = getenv("ZELAGENT_LISTEN_PORT")) {
        if (atoi(forced) > 0) configured = atoi(forced);
    }
    int port = argument ? *static_cast<int*>(argument) : configured;
    Sock* sock = new Sock(AF_INET, SOCK_STREAM, 0, 0, nullptr);
    listen_server = sock;
    int failures = 0;
    while (!sock->Bind(port)) {
        if (get_kill()) {
            Leave(sock);
            return nullptr;
        }
        if (++failures > 100) {
            GiveUp(configured);
            Leave(sock);
            return nullptr;
        }
        Wait(0.5);
    }
    if (!sock->Listen()) {
        GiveUp(configured);
        Leave(sock);
        return nullptr;
    }
    PrintMessage("Waiting for connection at port %i...", (int)sock->port);
    while (!get_kill()) {
        // A bounded wait keeps the stop flag noticed without a new client.
        if (!sock->IsReadable(1, 0, true)) continue;
        Sock* client = sock->Accept(false);
        if (!client) continue;
        PrintMessage("ACCEPTED");
        if (!StartThread(ReceiveMessages, client)) delete client;
    }
    Leave(sock);
    return nullptr;
}
