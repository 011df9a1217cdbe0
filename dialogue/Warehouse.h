// The agent's side of a warehouse (a box that keeps other machines' stored
// versions): sending a stored encrypted file in clear, and telling the
// warehouse to save, patch, erase or restore stored versions and the
// configuration archive.
//
// All routines run in the thread that owns the connection and throw
// SocketError when it fails, after closing their local files.
#pragma once

class Client;
class Sock;
class VersionNode;

// Sends the stored container `path` (a file or a directory of parts)
// decrypted with `key` as one file stream: record 0 "M_UNIX" with the
// stored file's owner and mode, numbered data records, then -3. `size` is
// the plain size the catalogue announces (the stream's total is size + 32);
// `name` is what the activity registry shows. Returns 0; -7 (no such file,
// record -2), -5 (unreadable, unknown type or wrong key, record -1), -4 (a
// chunk turned out corrupt after data went out: record -4 tells the
// receiver to drop what it has).
int MultiSendCryptedFile(Sock* sock, const char* path, const char* name, long long size, const char* key);

// Opens and closes the stored file of `version`, calling the keep-going
// check once per 1,500,000 bytes of its size; sends nothing. 0, or -5 when
// the file cannot be opened.
int MultiReadFile(Sock* sock, const char* path, const VersionNode* version);

// "save_config": the configuration archive "conf.tar" of conf_dir goes out
// compressed and is then kept as "conf.tar.old". True when sent.
bool TellWarehouseSaveConfig(Sock* sock);
// "patch_config" with "conf.tar.diff" compressed, when there is one; true
// when the warehouse answers "SUCCESS". The difference is removed.
bool TellWarehousePatchConfig(Sock* sock);
// "<target> save <set> <hash name> <backup date>", then the stored file.
// <target> is "backupdb" for this agent's own sets, "mirror <box>" for the
// others. Adds the bytes sent to `bytes`; true when sent.
bool TellWarehouseSaveFile(Sock* sock, const Client* client, const VersionNode* version, long long& bytes);
// "<target> patch <set> <hash name> <backup date> <diff date>", then the
// stored ".dif" file, with a 7,200-second time-out for the call. True when
// the warehouse answers "SUCCESS"; `full` is set when it answered anything
// else, so the whole file must be saved instead.
bool TellWarehousePatchFile(Sock* sock, const Client* client, const VersionNode* version, long long& bytes,
                            bool& full);
// "<target> erase <set> <hash name> <backup date>"; true on "SUCCESS".
bool TellWarehouseEraseFile(Sock* sock, const Client* client, const VersionNode* version);
// "backupdb restore <set> <hash name> <backup date>", then the file arrives
// at its storage path. True when it arrived whole.
bool TellWarehouseRestoreFile(Sock* sock, const Client* client, const VersionNode* version);
