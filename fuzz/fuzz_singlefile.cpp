// The receiving side of the single-file dialogue: size lines, pieces and the
// ".MD5" piece list kept beside them. The first byte: bits 0-6 the length of
// a ".MD5" list already in the target folder (taken from the input), bit 7
// appends instead of replacing. The rest is the packets received.
#include "crypto/Md5.h"
#include "dialogue/SingleFileTransfer.h"
#include "fuzz/FuzzSupport.h"

#include <sys/stat.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    size_t list = flags & 0x7f;
    if (list > size - 1) list = size - 1;
    std::string target = FreshWorkDir() + "s";
    if (list > 0) {
        mkdir(target.c_str(), 0700);
        WriteBytes(target + "/.MD5", data + 1, list);
    }
    FedSock sock(data + 1 + list, size - 1 - list);
    MD5 md5;
    CatchSocketError([&] { GetFile(sock.get(), target.c_str(), nullptr, &md5, (flags & 0x80) ? "ab" : "wb"); });
    return 0;
}
