// Outgoing connections: to the server ("warehouse"), to other agents
// ("clients"), and the probes built on them. Every connection returned is
// identified (handshake done) and owned by the caller.
#pragma once

class Sock;
class Client;

// Tries `attempts` times; "127.0.0.1" always means this agent's own port.
// A failed handshake ends at once. Null when nothing answered.
Sock* OpenConnection(const char* address, int port, int attempts, bool nonblocking, int seconds, int microseconds);
// The configured server, `passes` rounds of 5 spaced attempts; null when the
// server is not configured or does not answer.
Sock* OpenWarehouseConnection(int passes);
// Another agent at the set's address, tracking its reachability bit.
Sock* OpenClientConnection(Client* client, int attempts, bool nonblocking, int seconds, int microseconds);

// True when a peer at `address` answers the greeting with `expected` (or is
// this machine). A port of -1 means the agents' port.
bool VerifyClientExists(const char* address, const char* expected, int seconds, int port);
bool VerifyWarehouseExists();
// True when port 80 of `address` accepts a connection within 10 seconds.
bool TestIP(const char* address);

// Interactive console on an open connection (diagnostics).
void SendMessages(Sock* sock);
// Creates and destroys one socket (diagnostics).
void* sock_in_thread(void* unused);
