// Streams of files in fast packets: the backup direction (the agent sends
// each file as typed records) and the restore direction (the agent writes
// what arrives, then applies owner, mode and modification time).
//
// Records of one file: type 0 "M_UNIX<uid>.<gid>.<mode>" (value: the bytes
// the stream carries for the file), type 1 "M_LINK<len><target>" for a
// symbolic link, numbered data records of at most 4 MiB, then -3 (end), or
// -1 (cannot read), -2 (missing), -4 (corrupted).
//
// All functions run in the thread that owns the connection and throw
// SocketError when it fails, after closing and removing their local files.
#pragma once

class Sock;
class MD5;

// Sends every file of a newline-separated list; objects that stand for a
// local snapshot file are mapped with `flag`. Flushes the last packet. 0.
int MultiSendFiles(Sock* sock, char* list, int flag);
// 0, -5 (cannot open), -7 (missing).
int MultiSendFile(Sock* sock, const char* path, const char* fallback);
// Receives every file of a list of "name\tmtime" lines, in place or, with
// `relocate`, under `directory` (the restore folder when null). 0.
int MultiGetFiles(Sock* sock, char* list, int relocate, const char* directory);
// Receives one file. The data bytes received, or -1 (sender could not read),
// -3 (sender has no such file), -4 (corrupted), -6 (could not write here).
// A regular file is written under a temporary name beside `path` and only
// renamed over it after its end record, so a broken stream never destroys
// the previous file. Metadata never follows a symbolic link.
long long MultiGetFile(Sock* sock, const char* path, const char* display, MD5* md5, unsigned metadata,
                       unsigned mtime);
// A plain data stream of `size` bytes, records numbered from 0.
int MultiSendSimpleFile(Sock* sock, long long size, const char* path, const char* fallback);
// A text in records of at most 153600 bytes; null sends -1.
int MultiSendString(Sock* sock, const char* text, int length);
