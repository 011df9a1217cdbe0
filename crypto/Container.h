// The encrypted file container: a backed-up file kept encrypted with its
// backup set's AES key and, optionally, compressed chunk by chunk.
//
// Layout (numbers in lowercase hexadecimal, no leading zeros):
//   "aes %x " or "aes_zip %x "      type word and number of chunks N
//   32 bytes                         the key text encrypted with itself
//   per chunk: " %x " (plain length S) or " %lx %x " (compressed length D,
//   then S); the L = S or D bytes followed by L % 16 zero bytes, of which
//   the whole 16-byte blocks are AES-ECB encrypted and the rest stored as it
//   is; then, for every chunk but the last, the next source byte in clear.
// Past 10 MiB the output becomes a directory named like the container with
// parts "000", "001"... whose concatenation is the layout above; parts end
// only after a chunk's clear byte (or after the last chunk).
//
// Threads: every function works on its arguments and files only; the
// activity registry is updated for the calling thread.
#pragma once

#include <stddef.h>

#include <string>

class MD5;

// Tuning of the writer (the values every reader of this format expects).
const unsigned kChunkMinimum = 8192;          // a newline cuts a chunk only this far from its start
const long long kChunkForcedCut = 1048576;    // a run without newlines is cut after this
const unsigned kChunkLargest = 1048576 + 1023;  // no chunk is ever longer
const long long kContainerPartSize = 10485760;  // an output part is closed once it grows past this

// True when `path` can be read and starts with "aes".
bool IsAES(const char* path);

// The chunk lengths of `path` cut at `separator` (at least `minimum` bytes
// from the chunk's start) and after every run of more than 1 MiB without
// one, in a new array freed with free(); `count` receives the number of
// lengths. When the file cannot be opened the array is still returned and
// `count` is left as it was. The chunks, each followed by one clear byte but
// the last, cover the file exactly.
unsigned int* CreateHeader(const char* path, char separator, unsigned int& count, unsigned int minimum);

// Encrypts `path` into "<path>.aes" with the 32-digit `key`, compressing the
// chunks when `compress` is set and a sample of the file shows it is worth
// it. `digest`, when given, receives every stored byte but the type field,
// the key block and the chunk headers. `displayName` is what the activity
// registry shows (the path when null). On success `path` (which needs room
// for 4 more characters) becomes the container's name and, with
// `removeSource`, the source is deleted. The container replaces the target
// through ReplacementFile (a split one is built in a temporary folder beside
// it and renamed when complete), so a failed run never costs an existing
// "<path>.aes" and leaves nothing behind. A device or a pipe at the target
// is written into, never replaced, and takes the container unsplit.
bool CryptAES(char* path, const char* key, bool removeSource, bool compress, MD5* digest,
              const char* displayName);
// The same with the container's name chosen by the caller; the source stays.
bool CryptAESTo(const char* source, const char* target, const char* key, bool compress, MD5* digest,
                const char* displayName);

// Writes the plain file `target` from the container `source` (a file or a
// directory of parts). A wrong key is found before anything is written; the
// plain file replaces `target` through ReplacementFile only once every chunk
// decrypted, so a corrupt container never leaves a half file (a device or a
// pipe at `target` is written into). The last two arguments are accepted
// and ignored.
bool DecryptAES(const char* source, const char* target, const char* key, bool removeSource, bool = false,
                char* = nullptr);

// Why a container could not be read, for the caller's own message.
struct ContainerFault {
    enum Kind { kNone, kOpen, kType, kKey, kPart, kCorrupt, kInflate, kSink };
    Kind kind = kNone;
    std::string name;        // the file or part concerned (kOpen, kPart)
    int error = 0;           // errno (kOpen)
    std::string text;        // the type word (kType) or the decrypted key block (kKey)
    unsigned chunk = 0;      // chunk index (kCorrupt, kInflate)
    unsigned count = 0;      // number of chunks announced
    int zlib = 0;            // zlib result (kInflate)
    unsigned stored = 0;     // compressed length (kInflate)
    unsigned long produced = 0;  // bytes the chunk inflated to (kInflate)
    int padding = 0;         // zero bytes after the compressed bytes (kInflate)
};

// Receives the plain bytes of a container in file order.
class ContainerSink {
  public:
    virtual ~ContainerSink() {}
    // Once the type and the key have proved good, before any byte.
    virtual bool Begin() { return true; }
    // False stops the reading (kSink); the sink reports its own failure.
    virtual bool Write(const char* data, size_t length) = 0;
};

// Reads the container `source` (a file or a directory of parts) with `key`.
// True when every chunk reached `sink`; otherwise `fault` tells why. Chunk
// lengths beyond what a writer produces are refused before they size any
// buffer, and no chunk is read across the end of a part.
bool ReadContainer(const char* source, const char* key, ContainerSink& sink, ContainerFault& fault);
