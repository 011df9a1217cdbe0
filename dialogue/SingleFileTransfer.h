// The single-file dialogue in framed packets: a size line, an
// open/exists/resume handshake, then the data in blocks of up to 1536000
// bytes. It carries single files asked for by the server, configuration
// archives and program updates.
//
// All functions run in the thread that owns the connection and throw
// SocketError when the connection fails (after closing their local files).
#pragma once

class Sock;
class MD5;

// Largest data block of the single-file dialogue.
const int kSingleFileBlock = 1536000;

// Sends `path` (a plain file, or a folder of numbered pieces "000", "001"...)
// to the peer. 0, -2 (peer cannot write), -5 (cannot read), -7 (missing).
int SendFile(Sock* sock, const char* path, const char* display, MD5* md5);
// Receives one file (or a set of pieces) into `path` with `mode` ("wb" or
// "ab"). 0, -1 (peer cannot read), -3 (peer has no such file), -6 (cannot
// write here). A "wb" file is written under a temporary name beside the
// target and renamed over it only once complete, so a broken transfer never
// destroys the previous file.
int GetFile(Sock* sock, const char* path, const char* display, MD5* md5, const char* mode);
// Brings `local` in step with the peer's `remote`. 0 (differs; replaced
// when `apply`), -1 (nothing remote), -2 (download differs from announce),
// -3 (cannot replace local), -4 (already equal).
int SynchroniseFile(Sock* sock, const char* local, const char* remote, int apply);
