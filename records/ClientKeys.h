// The key file of a backup set: the set's AES key, encrypted for each party
// that may open the set, one line per party, in "<conf>/<base_id>/key".
//
// Threads: any thread; files are not locked against each other. RSA work
// goes through RSACrypt ("mutex_rsa").
#pragma once

#include <stddef.h>

class Client;

// Writes the backup set's file "<conf>/<base_id>/key": the set's AES key
// encrypted for the set's name, for "zelgui_<id>", for "zelgui_admin" and,
// when that public key exists, for "zelgui_<server_name>", one per line. A
// missing public key leaves its line in clear. 1 when written.
int WritePrivateKey(const char* aesKey, Client* client);
// Copies into `out` (`size` bytes) the line of the set's key file meant for
// `forName`. 1 on success; 0 when the file is missing, has fewer than three
// lines, or the line does not fit. A set of another box whose clear "AES"
// file is found gets its key encrypted for "zelgui_admin"; when that RSA
// step is refused (no such key, a key too small) the result is 0 and `out`
// is cleared: the key is never handed out in clear.
int ReadPrivateKey(char* out, size_t size, Client* client, const char* forName);
