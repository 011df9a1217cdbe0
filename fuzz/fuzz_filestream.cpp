// The restore side of "get_fast": one file's records written to a file of a
// fresh folder. The first byte: bit 0 applies the metadata records, bit 1
// gives a modification time, bit 2 restores a list of two files.
#include <string.h>

#include "crypto/Md5.h"
#include "dialogue/FileStreams.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    std::string work = FreshWorkDir();
    FedSock sock(data + 1, size - 1);
    MD5 md5;
    CatchSocketError([&] {
        if (flags & 4) {
            std::string list = "|a\t1000\n|sub|b\n";
            MultiGetFiles(sock.get(), &list[0], 1, work.c_str());
        } else {
            MultiGetFile(sock.get(), (work + "f").c_str(), nullptr, &md5, flags & 1, (flags & 2) ? 1000000 : 0);
        }
    });
    return 0;
}
