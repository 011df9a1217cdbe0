#include "dialogue/Connections.h"

#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>

#include <string>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "foundation/Log.h"
#include "foundation/Threads.h"
#include "records/Config.h"
#include "transport/Sock.h"

namespace {

double Seconds() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

Client* ServerEntry() { return config ? config->GetClientFromName("null") : nullptr; }

}  // namespace

Sock* OpenConnection(const char* address, int port, int attempts, bool nonblocking, int seconds, int microseconds) {
    if (!address) {
        PrintMessage("OpenConnection: ip is null");
        return nullptr;
    }
    if (strcmp(address, "127.0.0.1") == 0 && config) port = config->local_port;
    PrintMessage("opening connection with server %s at port %i...", address, port);
    const double spacing = seconds + microseconds / 1000000.0;
    for (int attempt = 0; attempt < attempts; attempt++) {
        Sock* sock = new Sock(AF_INET, SOCK_STREAM, 0, 0, nullptr);
        if (sock->failed) {
            PrintMessage("OpenConnection(): Sock Creation Error");
            delete sock;
            return nullptr;
        }
        double began = Seconds();
        try {
            if (sock->Connect(address, port, nonblocking, seconds, microseconds)) {
                if (!sock->Identify()) {
                    delete sock;
                    return nullptr;
                }
                PrintMessage("Connected to %s @ %s", sock->name, sock->ip);
                if (thread_manager) {
                    thread_manager->SetState(4);
                    thread_manager->SetConnection(sock->ip, sock->name);
                }
                return sock;
            }
            delete sock;
            double elapsed = Seconds() - began;
            if (nonblocking && attempt + 1 < attempts && elapsed < spacing) Wait(spacing - elapsed);
        } catch (SocketError& e) {
            PrintMessage("OpenConnection(): Socket Exception Caught: %s", e.message);
            ReleaseSocketError();
            delete sock;
        }
    }
    return nullptr;
}

Sock* OpenWarehouseConnection(int passes) {
    if (!config || strcmp(config->server_name, "null") == 0) {
        PrintMessage("OpenWarehouseConnection impossible : zelbox not configured");
        return nullptr;
    }
    for (int i = 0; i < passes; i++) {
        PrintMessage("Attempt %i to connect to bunker...", i);
        Sock* sock = OpenConnection(config->server_address, config->server_port, 5, true, 10, 0);
        if (sock) {
            if (Client* server = ServerEntry()) server->ResetState(0x100);
            return sock;
        }
    }
    if (Client* server = ServerEntry()) server->SetState(0x100);
    return nullptr;
}

Sock* OpenClientConnection(Client* client, int attempts, bool nonblocking, int seconds, int microseconds) {
    if (!client || !config) return nullptr;
    Sock* sock = OpenConnection(client->ip, config->client_port, attempts, nonblocking, seconds, microseconds);
    if (!sock) {
        PrintMessage("Client %s (%s) @ %s DOES NOT ANSWER...", client->name, client->id, client->ip);
        if (!(client->state & 1)) {
            PrintMessage("Client %s (%s) @ %s IS NOT CONNECTED ANYMORE...", client->name, client->id, client->ip);
            client->SetState(1);
        }
        return nullptr;
    }
    if (client->state & 1) {
        PrintMessage("Machine %s is now connected...", client->ip);
        if (strcmp(sock->name, client->base_id) == 0 || strcmp(sock->name, client->name) == 0) {
            PrintMessage("Client %s (%s) @ %s IS RECONNECTED", client->name, client->id, client->ip);
            client->ResetState(1);
        }
    }
    return sock;
}

bool VerifyClientExists(const char* address, const char* expected, int seconds, int port) {
    if (!address || !config) return false;
    Sock* sock = new Sock(AF_INET, SOCK_STREAM, 0, 0, nullptr);
    sock->quiet = true;
    if (port == -1) port = strcmp(address, "127.0.0.1") == 0 ? config->local_port : config->client_port;
    bool result = false;
    try {
        if (!sock->failed && sock->ConnectLite(address, port, true, seconds, 0)) {
            sock->Send("hello");
            if (!sock->IsReadable(10, 0, true)) {
                PrintMessage("Client doesn't want to talk...");
            } else {
                sock->Receive(0);
                sock->Send(config->name);
                sock->Receive(0);
                std::string peer(sock->read_buffer);
                sock->Send("close");
                result = (expected && peer == expected) || strcmp(sock->ip, "127.0.0.1") == 0 ||
                         strcmp(address, "127.0.0.1") == 0;
            }
        }
    } catch (SocketError& e) {
        ReleaseSocketError();
        PrintMessage("VerifyClientExists(%s): Socket Exception Caught: %s", address, e.message);
    }
    delete sock;
    return result;
}

bool VerifyWarehouseExists() {
    if (!config) return false;
    // No server configured: nothing to look up (the word "null" would go to
    // the name service).
    bool configured = strcmp(config->server_name, "null") != 0 && strcmp(config->server_address, "null") != 0;
    if (configured && VerifyClientExists(config->server_address, config->server_name, 10, config->server_port))
        return true;
    PrintEvent("ERROR", "Connection au Centre de Sauvegarde (%s @ %s) impossible (V\xe9rifier les connections)",
               config->server_name, config->server_address);
    return false;
}

bool TestIP(const char* address) {
    Sock sock(AF_INET, SOCK_STREAM, 0, 0, nullptr);
    bool ok = !sock.failed && sock.ConnectLite(address, 80, true, 10, 0);
    if (!ok) PrintMessage("TestIP(%s) failed", address);
    return ok;
}

void SendMessages(Sock* sock) {
    if (!sock) return;
    static char line[40001];
    try {
        for (;;) {
            PrintScreen("%s->", sock->name);
            if (!fgets(line, sizeof(line), stdin)) {
                PrintMessage("Error in input : %s", "end of input");
                return;
            }
            line[strcspn(line, "\n")] = 0;
            PrintMessage("input is %s", line);
            if (strcmp(line, "close") == 0) {
                sock->CloseConnection();
                return;
            }
            if (strcmp(line, "terminate") == 0) {
                sock->Write(line);
                return;
            }
            if (strcmp(line, "check") == 0) {
                PrintMessage(sock->IsConnected(0, 0) ? "Connexion is good" : "Connexion is broken...");
                continue;
            }
            if (strncmp(line, "execute", 7) == 0) {
                sock->Write(line);
                sock->Read();
                while (strcmp(sock->read_buffer, "RUNNING") == 0) {
                    PrintMessage("Execute is still running...");
                    sock->Read();
                }
                PrintMessage("Read: %s", sock->read_buffer);
                continue;
            }
            if (strcmp(line, "boulegue") == 0) {
                sock->Write(line);
                for (;;) sock->Receive(4194304);
            }
            if (strcmp(line, "bouleguefast") == 0) {
                sock->Write(line);
                for (;;) {
                    char* data;
                    int length;
                    long long value;
                    sock->FastRead(data, length, value);
                }
            }
            if (!line[0]) {
                if (sock->IsReadable(0, 1, true)) {
                    sock->Read();
                    PrintMessage("Read: %s", sock->read_buffer);
                }
                continue;
            }
            sock->Write(line);
            sock->Read();
            PrintMessage("Read: %s", sock->read_buffer);
        }
    } catch (SocketError& e) {
        ReleaseSocketError();
        PrintMessage("SendMessages: Socket Exception Caught: %s", e.message);
    }
}

void* sock_in_thread(void*) {
    Sock* sock = new Sock(AF_INET, SOCK_STREAM, 0, 0, nullptr);
    if (sock->failed) PrintMessage("sock_in_thread(): Sock Creation Failed");
    delete sock;
    return nullptr;
}
