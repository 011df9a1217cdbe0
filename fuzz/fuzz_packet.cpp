// Packet headers and footers. The first byte chooses the side: bit 0 reads
// packets (headers from the input, footers sent back), otherwise packets are
// written and the input is the footers that come back; bit 1 installs a
// connection cipher, bit 2 takes the peer as not yet authenticated (the
// small packet limit), bit 3 echoes every packet read.
#include "crypto/AesVetrak.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    FedSock sock(data + 1, size - 1);
    if (flags & 2) sock->aes = new aes_cipher_vetrak("000102030405060708090a0b0c0d0e0f");
    if (flags & 4) sock->authenticated = false;
    CatchSocketError([&] {
        for (int i = 0; i < 4096; i++) {
            if (!(flags & 1))
                sock->Write("payload", 7, 0, 1);
            else if (flags & 8)
                sock->ReadEcho();
            else
                sock->Read();
        }
    });
    return 0;
}
