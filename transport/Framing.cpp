// The framed packet protocol of Sock: every command and reply is one packet
// of a 32-byte text header "%u %u %u %u " (length, length, 0, encrypt flag),
// the payload, and, in acknowledge mode, a 32-byte footer sent back by the
// reader. With a connection cipher the header and footer are always
// encrypted; the payload only when its flag asks for it, whole 16-byte
// blocks only (the tail of length % 16 bytes travels in clear).
#include <errno.h>
#include <stdarg.h>
#include <string.h>

#include <string>

#include "crypto/AesVetrak.h"
#include "foundation/Log.h"
#include "transport/Sock.h"

namespace {

// No reader accepts more than kMaxPacketBytes, and the buffers are sized in
// int: a larger payload is refused before anything goes out.
void RefuseOversized(size_t length) {
    if (length <= Sock::kMaxPacketBytes) return;
    char text[100];
    snprintf(text, sizeof(text), "%s (%i)", strerror(EMSGSIZE), EMSGSIZE);
    PrintError("Sock::Write:: Send did not complete (%u / %u)", 0u, (unsigned)length);
    ThrowSocketError(text);
}

}  // namespace

bool Sock::FormatHeader(char* area, unsigned length, unsigned size, unsigned third, unsigned encrypt) {
    memset(area, 0, kHeaderBytes);
    int n = snprintf(area, kHeaderBytes, "%u %u %u %u ", length, size, third, encrypt);
    return n > 0 && n < kHeaderBytes;
}

// The payload is already in the write buffer, after room for the header:
// the header is made in front of it and both leave in one send (one system
// call, and no small header segment for the payload to wait behind).
void Sock::SendPacket(unsigned length, unsigned encrypt) {
    char header[kHeaderBytes];
    // The flag goes out as given; only one whose digits cannot fit beside
    // the lengths is sent as 1, which still asks for encryption.
    if (!FormatHeader(header, length, length, 0, encrypt) && encrypt)
        FormatHeader(header, length, length, 0, 1);
    memcpy(write_buffer, header, kHeaderBytes);
    char* payload = write_buffer + kHeaderBytes;
    payload[length] = 0;
    if (!quiet) {
        PrintDebug("Sock::Write: header == %s", header);
        PrintDebug("Sock::Write: message == %s", payload);
    }
    if (aes) aes->encrypt(write_buffer, kHeaderBytes);
    if (encrypt && aes) aes->encrypt(payload, (int)length);
    int sent = Send(kHeaderBytes + (int)length) - kHeaderBytes;
    if (sent < (int)length)
        PrintError("Sock::Write:: Send did not complete (%u / %u)", (unsigned)(sent > 0 ? sent : 0), length);
    if (acknowledge) {
        Receive(kHeaderBytes);
        if (aes) aes->decrypt(read_buffer, kHeaderBytes);
        if (!quiet) PrintDebug("Sock::Write: footer == %s", read_buffer);
    }
}

unsigned Sock::Write(const char* data, unsigned length, unsigned, unsigned encrypt) {
    if (dead) {
        PrintError("Sock::Write: Sock has an exception pending already");
        ThrowSocketError("Dead Socket");
    }
    if (length == 0) length = data ? (unsigned)strlen(data) : 0;
    RefuseOversized(length);
    // The packet is built in the write buffer, so a payload that lives
    // there already is set aside before it is overwritten.
    std::string aside;
    if (data && write_buffer && data >= write_buffer && data < write_buffer + write_buffer_size + 10) {
        aside.assign(data, length);
        data = aside.data();
    }
    SetWriteBufferSize(kHeaderBytes + (int)length);
    if (length > 0) memcpy(write_buffer + kHeaderBytes, data, length);
    SendPacket(length, encrypt);
    return length;
}

unsigned Sock::Write(int value) {
    char text[16];
    snprintf(text, sizeof(text), "%i", value);
    return Write(text, 0, 0, 1);
}

unsigned Sock::FormatWrite(const char* format, ...) {
    char text[410];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return Write(text, (unsigned)strlen(text), 0, 1);
}

unsigned Sock::WriteVector(std::vector<char*>* parts, unsigned, unsigned encrypt) {
    if (dead) {
        PrintError("Sock::Write: Sock has an exception pending already");
        ThrowSocketError("Dead Socket");
    }
    size_t total = 0;
    if (parts)
        for (char* part : *parts)
            if (part) total += strlen(part);
    RefuseOversized(total);
    unsigned length = (unsigned)total;
    PrintMessage("SETTING BUFFER: %i entries for %i", parts ? (int)parts->size() : 0, (int)length);
    SetWriteBufferSize(kHeaderBytes + (int)length);
    size_t at = kHeaderBytes;
    if (parts)
        for (char* part : *parts) {
            if (!part) continue;
            size_t n = strlen(part);
            memcpy(write_buffer + at, part, n);
            at += n;
        }
    SendPacket(length, encrypt);
    return length;
}

unsigned Sock::Read() {
    int count = Receive(kHeaderBytes);
    if (count != kHeaderBytes) PrintError("Header has incorrect size %i instead of %i", count, kHeaderBytes);
    if (aes) aes->decrypt(read_buffer, kHeaderBytes);
    char header[kHeaderBytes + 1];
    memcpy(header, read_buffer, kHeaderBytes);
    header[kHeaderBytes] = 0;
    if (!quiet) PrintDebug("Sock::Read: header == %s", header);
    unsigned length = 0, size = 0, third = 0, encrypt = 0;
    if (sscanf(header, "%u %u %u %u ", &length, &size, &third, &encrypt) < 4) {
        PrintError("Sock::Read: header is no good (%s)", header);
        ThrowSocketError("incorrect header");
    }
    // A length beyond the payload would send readers of the buffer past its
    // end. A peer that has not proved who it is gets a small limit.
    unsigned limit = authenticated ? kMaxPacketBytes : kMaxPacketBeforeHandshake;
    if (size > limit || length > size) {
        PrintError("Sock::Read: header is no good (%s)", header);
        ThrowSocketError("incorrect header");
    }
    if (size == 0) {
        // No payload follows: waiting for one would swallow the next packet.
        if (!quiet) PrintDebug("Sock::Read: packet_size == 0 bytes...anormal");
        SetReadBufferSize(1);
        read_buffer[0] = 0;
    } else {
        Receive((int)size);
        if (encrypt && aes) aes->decrypt(read_buffer, (int)size);
    }
    if (acknowledge) {
        char footer[kHeaderBytes];
        FormatHeader(footer, length, size, 0, encrypt);
        if (!quiet) PrintDebug("Sock::Read: footer == %s", footer);
        if (strcmp(footer, header) != 0)
            PrintError("Sock::Read(): Paquet mal recu ([%s] != [%s])", header, footer);
        SetWriteBufferSize(kHeaderBytes);
        memcpy(write_buffer, footer, kHeaderBytes);
        if (aes) aes->encrypt(write_buffer, kHeaderBytes);
        Send(kHeaderBytes);
    }
    return length;
}

// Writes back what was read. The read text is kept aside and restored
// afterwards: the footer of the write lands in the read buffer, and with a
// cipher the write buffer only holds the encrypted copy.
unsigned Sock::Echo() {
    std::string text(read_buffer ? read_buffer : "");
    unsigned n = Write(text.c_str(), (unsigned)text.size(), 0, 1);
    SetReadBuffer(text.data(), (int)text.size());
    return n;
}

unsigned Sock::ReadEcho() {
    Read();
    return Echo();
}

bool Sock::ReadCompare(const char* expected) {
    Read();
    return strcmp(read_buffer, expected ? expected : "") == 0;
}

bool Sock::WriteAndCheck(const char* text, int length) {
    Write(text, length > 0 ? (unsigned)length : (unsigned)strlen(text), 0, 1);
    return ReadCompare(text);
}

void Sock::CloseConnection() {
    if (!dead) Write("close", 0, 0, 1);
}

void Sock::Flush() {
    while (IsReadable(0, 0, quiet)) Receive(0, 0);
}
