// Fast-packet records: every record of the packets the input holds is read
// until the stream ends. The first byte: bit 0 installs a connection cipher
// (headers and footers encrypted), bit 1 also checks each packet's record
// chain as the diagnostics do.
#include "crypto/AesVetrak.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    FedSock sock(data + 1, size - 1);
    if (flags & 1) sock->aes = new aes_cipher_vetrak("000102030405060708090a0b0c0d0e0f");
    CatchSocketError([&] {
        for (int i = 0; i < 100000; i++) {
            char* record = nullptr;
            int length = 0;
            long long value = 0;
            sock->FastRead(record, length, value);
            if ((flags & 2) && sock->fast_read_position == sock->fast_read_size)
                sock->FastPaquetIsOK(sock->read_buffer, sock->fast_read_size);
        }
    });
    return 0;
}
