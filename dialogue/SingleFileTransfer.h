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
// write here). A "wb" file replaces its target through ReplacementFile: a
// target that cannot be replaced (a folder, a file this process could not
// open for writing) is answered "ERROR_OPEN_FILE" before any data moves; a
// broken transfer never destroys the previous file; a replaced file keeps
// its owner, group and mode; a symbolic link at the target is replaced, not
// written through. An "ab" file grows in place (never through a link).
int GetFile(Sock* sock, const char* path, const char* display, MD5* md5, const char* mode);
// Brings `local` in step with the peer's `remote`. 0 (differs; replaced
// when `apply`), -1 (nothing remote), -2 (download differs from announce),
// -3 (cannot replace local), -4 (already equal).
int SynchroniseFile(Sock* sock, const char* local, const char* remote, int apply);
