// Running a local command for the server while keeping its connection alive,
// and the per-set lock check that answers on the connection.
#pragma once

class Sock;
class Client;
class Command;

// Seconds between two "RUNNING" lines while a command runs. A variable so
// that tests can shorten it.
extern int keep_alive_interval;

// Runs `command` in a worker thread and writes "RUNNING" on `sock` every
// keep_alive_interval seconds until it is done, then copies the result, the
// error number and text into `command` and sets its done flag. -1 for a
// null command, -2 for a null socket, else 0. A failed "RUNNING" throws its
// SocketError at once; the worker runs on its own copy of the command and
// never touches `command` afterwards.
int ThreadExecuteWithSock(Command* command, Sock* sock);

// The per-set lock check; always 0 in this agent (no set is ever locked).
int CheckLocks(Client* client, bool verbose);
// Writes the reply of a negative lock code and returns false; true for 0.
bool CheckLocks(Sock* sock, Client* client, bool verbose);
