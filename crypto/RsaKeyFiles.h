// RSA key files.
//
// A key file is "%i %i\n" (lengths of the modulus text and the exponent
// text), then the modulus text and the exponent text with no separator and
// no final newline. In a protected (private) file both texts are encrypted
// with the pass phrase, whole 16-byte blocks only; the lengths stay plain.
//
// Every writer replaces its file in one step (temporary file and rename) and
// creates the missing folders, so a key installed for a new name is kept.
// Private files are readable by the owner only.
//
// Threads: any thread; files are not locked against each other. RSA work
// goes through RSACrypt ("mutex_rsa").
#pragma once

#include <stddef.h>

class RSAKey;

// The pass phrase of private key files written or read without one.
extern const char* const kDefaultKeyPassPhrase;
// Announced text lengths above this are refused as "incorrect file format"
// (a 1024-bit modulus has 256 digits).
const unsigned kMaxKeyTextLength = 4096;

// Writes `key` to `path`, protected when `aesKey` (32 hexadecimal digits) is
// given. 1 when written, 0 otherwise.
int WriteKey(const char* path, RSAKey* key, const char* aesKey);
// Reads `path` into `key`; 1 when a key was set, 0 otherwise (the key is then
// unchanged). A missing file is silent; a malformed one is "incorrect file
// format"; a protected one read with the wrong pass phrase is "BAD KEY".
int ReadKey(const char* path, RSAKey* key, const char* aesKey);

// The "priv" file of `name` (null or empty: the agent's own), protected with
// `passPhrase` or the default one. 1 when written, 0 otherwise.
int WritePrivKey(RSAKey* key, const char* name, const char* passPhrase);
// The "pub" file of `name`, unprotected. 1 when written, 0 otherwise.
int WritePubKey(RSAKey* key, const char* name);
// 1 when read; a missing private file is logged, a missing public one is not.
int ReadPrivKey(RSAKey* key, const char* name, const char* passPhrase);
int ReadPubKey(RSAKey* key, const char* name);
