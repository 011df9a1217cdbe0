// Fast packets: many small typed records batched into one framed packet of
// at most 4 MiB of data, sent with a single acknowledgement. The packet
// header is "%u %u %u %u " (payload size, payload size, 0, 0): the payload
// is never encrypted, only the header and the footer are.
//
// Record layout: a 32-byte fast header, the text "%i %i %lli" (type,
// length, value) with its NUL written over the filler
// "HEADER10HEADER20HEADER30HEADER4", then `length` data bytes when type >= 0.
// Type -9 is "keep waiting" and is consumed by FastRead itself.
//
// The open packet lives in the Sock and belongs to its thread.
#include <string.h>
#include <time.h>

#include <vector>

#include "crypto/AesVetrak.h"
#include "crypto/Md5.h"
#include "foundation/Log.h"
#include "transport/Sock.h"

namespace {

const int kMaxFill = 4194336;      // fill + new data must stay at or below this
const int kPacketBytes = 4194368;  // the largest packet, header included
const int kKeepWaiting = -9;
const int kFlushSeconds = 60;
const char kFiller[Sock::kHeaderBytes] = "HEADER10HEADER20HEADER30HEADER4";

// Logs the 32 bytes of a fast header that could not be used.
void DumpHeader(const char* header) {
    for (int i = 0; i < Sock::kHeaderBytes; i++)
        PrintError("Sock::FastRead : Header [%02i] [%02x] [%c]", i, (unsigned char)header[i], header[i]);
}

const char kDefaultFormat[] = "%i %i %lli";

// Decimal digits of `v` (at most 20) ending at `end`; returns their start.
char* Digits(char* end, unsigned long long v) {
    do {
        *--end = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    return end;
}

// Appends "%i"/"%lli" of `v` at `out`.
char* Decimal(char* out, long long v) {
    char digits[24];
    char* end = digits + sizeof(digits);
    unsigned long long magnitude = v < 0 ? 0ULL - (unsigned long long)v : (unsigned long long)v;
    char* start = Digits(end, magnitude);
    if (v < 0) *out++ = '-';
    memcpy(out, start, (size_t)(end - start));
    return out + (end - start);
}

// One field as the default format writes it: an optional '-', then 1 to
// `most` decimal digits without a leading zero (or a lone 0). Anything else
// (signs, blanks, octal, hexadecimal, long numbers) is left to sscanf.
bool PlainField(const char*& p, int most, long long& out) {
    bool negative = *p == '-';
    const char* q = p + negative;
    if (*q < '0' || *q > '9' || (*q == '0' && q[1] >= '0' && q[1] <= '9')) return false;
    long long v = 0;
    int n = 0;
    for (; *q >= '0' && *q <= '9'; q++, n++) {
        if (n == most) return false;
        v = v * 10 + (*q - '0');
    }
    out = negative ? -v : v;
    p = q;
    return true;
}

}  // namespace

int Sock::FormatFastHeader(char* out, size_t size, const char* format, int type, int length, long long value) {
    if (strcmp(format, kDefaultFormat) != 0) {
        int n = snprintf(out, size, format, type, length, value);
        return n < 0 || (size_t)n >= size ? -1 : n;
    }
    char text[80];
    char* p = Decimal(text, type);
    *p++ = ' ';
    p = Decimal(p, length);
    *p++ = ' ';
    p = Decimal(p, value);
    size_t n = (size_t)(p - text);
    if (n >= size) return -1;
    memcpy(out, text, n);
    out[n] = 0;
    return (int)n;
}

int Sock::ParseFastHeader(const char* header, const char* format, int& type, int& length, long long& value) {
    if (strcmp(format, kDefaultFormat) == 0) {
        const char* p = header;
        long long a, b, c;
        if (PlainField(p, 9, a) && *p++ == ' ' && PlainField(p, 9, b) && *p++ == ' ' && PlainField(p, 18, c)) {
            type = (int)a;
            length = (int)b;
            value = c;
            return 3;
        }
    }
    return sscanf(header, format, &type, &length, &value);
}

int Sock::FastWrite(int type, char* data, int length, long long value) {
    int carried = type >= 0 ? length : 0;
    // Refused before anything moves: an open packet stays as it was.
    // Compared against the limit less the header, so no length can overflow.
    if (type >= 0 && (length < 0 || length > kMaxFill - kHeaderBytes)) {
        PrintError("Packet is TOO BIG to transit this way: %i", length);
        return -1;
    }
    char header[kHeaderBytes];
    memcpy(header, kFiller, kHeaderBytes);
    if (FormatFastHeader(header, kHeaderBytes, fast_header_format, type, length, value) < 0) {
        // A cut text would reach the reader as different numbers.
        PrintError("Packet is TOO BIG to transit this way: %i", length);
        return -1;
    }

    FastMakeRoom(carried);
    memcpy(write_buffer + fast_write_fill, header, kHeaderBytes);
    fast_write_fill += kHeaderBytes;
    fast_count++;
    if (type >= 0 && length > 0) {
        memcpy(write_buffer + fast_write_fill, data, (size_t)length);
        fast_write_fill += length;
    }
    if (fast_write_fill > write_buffer_size) PrintError("%i > %i", fast_write_fill, write_buffer_size);
    int fill = fast_write_fill;
    if (type == kKeepWaiting) {
        PrintMessage("Sock::FastSend : sending please wait message");
        FastSend();
    }
    return fill;
}

void Sock::FastMakeRoom(int carried) {
    time_t now = time(nullptr);
    if (fast_write_fill > 0 &&
        (fast_write_fill + carried > kMaxFill || now - last_fast_send > kFlushSeconds)) {
        PrintDebug("Calling FastSend(%u)", (unsigned)fast_write_fill);
        FastSend();
    }
    if (fast_write_fill == 0) {
        PrintDebug("Making FastWritePacket(%li sec)", (long)(now - last_fast_send));
        SetWriteBufferSize(kPacketBytes);
        fast_write_fill = kHeaderBytes;
        last_fast_send = now;
    }
}

char* Sock::FastReserve(int most) {
    if (most < 0 || most > kMaxFill - kHeaderBytes) return nullptr;
    FastMakeRoom(most);
    return write_buffer + fast_write_fill + kHeaderBytes;
}

int Sock::FastCommit(int type, int length, long long value) {
    // Only data already placed by FastReserve, inside the open packet.
    if (type < 0 || length < 0 || fast_write_fill == 0 ||
        (long long)fast_write_fill + kHeaderBytes + length > write_buffer_size)
        return -1;
    char header[kHeaderBytes];
    memcpy(header, kFiller, kHeaderBytes);
    if (FormatFastHeader(header, kHeaderBytes, fast_header_format, type, length, value) < 0) return -1;
    memcpy(write_buffer + fast_write_fill, header, kHeaderBytes);
    fast_write_fill += kHeaderBytes + length;
    fast_count++;
    return fast_write_fill;
}

int Sock::FastSend() {
    if (fast_write_fill == 0 || fast_write_fill == kHeaderBytes) {
        PrintDebug("Sock::FastSend(%i): Not doing anything...", fast_write_fill);
        return 0;
    }
    timespec began;
    clock_gettime(CLOCK_MONOTONIC, &began);
    unsigned payload = (unsigned)(fast_write_fill - kHeaderBytes);
    char header[kHeaderBytes];
    FormatHeader(header, payload, payload, 0, 0);
    memcpy(write_buffer, header, kHeaderBytes);
    if (aes) aes->encrypt(write_buffer, kHeaderBytes);

    time_t now = time(nullptr);
    PrintDebug("FastSend sending packet (size %i, packets %i, time %li sec)", fast_write_fill, fast_count,
               (long)(now - last_fast_send));
    last_fast_send = now;
    int sent = Send(fast_write_fill);
    PrintDebug("FastSend sent packet (size %i) (%li sec)", sent, (long)(time(nullptr) - now));
    if (acknowledge) {
        PrintDebug("Fast send: waiting for acknowledgement (%li sec)", (long)(time(nullptr) - now));
        last_fast_send = time(nullptr);
        Receive(kHeaderBytes);
        if (aes) aes->decrypt(read_buffer, kHeaderBytes);
    }
    timespec ended;
    clock_gettime(CLOCK_MONOTONIC, &ended);
    PrintDebug("done FastSend(%u) in %2.2fs", (unsigned)fast_write_fill,
               (ended.tv_sec - began.tv_sec) + (ended.tv_nsec - began.tv_nsec) / 1e9);
    fast_write_fill = 0;
    fast_count = 0;
    last_fast_send = time(nullptr);
    return sent;
}

int Sock::FastRead(char*& data, int& length, long long& value) {
    for (;;) {
        if (fast_read_position == 0 || fast_read_position >= fast_read_size) {
            PrintDebug("First FastRead, gonna Read()");
            fast_read_size = (int)Read();
            fast_read_position = 0;
            PrintDebug("Read %i (%s)", fast_read_size, read_buffer);
        }
        // Both the record header and its data must lie inside the packet.
        if (fast_read_position + kHeaderBytes > fast_read_size) {
            PrintError("Sock::FastRead : Pointer was %u, Max size is %u", (unsigned)fast_read_position,
                       (unsigned)fast_read_size);
            PrintError("Sock::FastRead : Throwing exception");
            fast_read_position = fast_read_size = 0;
            ThrowSocketError("Incorrect Header");
        }
        char header[kHeaderBytes + 1];
        memcpy(header, read_buffer + fast_read_position, kHeaderBytes);
        header[kHeaderBytes] = 0;
        fast_read_position += kHeaderBytes;
        int type = 0;
        length = 0;
        value = 0;
        int results = ParseFastHeader(header, fast_header_format, type, length, value);
        if (results < 3) {
            PrintError("Sock::FastRead : Header is NO GOOD, only got %i results", results);
            PrintError("Sock::FastRead : Pointer was %u, Max size is %u", (unsigned)fast_read_position,
                       (unsigned)fast_read_size);
            DumpHeader(header);
            PrintError("Sock::FastRead : Throwing exception");
            fast_read_position = fast_read_size = 0;
            ThrowSocketError("Incorrect Header");
        }
        data = read_buffer + fast_read_position;
        if (type >= 0) {
            if (length < 0 || length > fast_read_size - fast_read_position) {
                PrintError("Sock::FastRead : Pointer was %u, Max size is %u", (unsigned)fast_read_position,
                           (unsigned)fast_read_size);
                DumpHeader(header);
                PrintError("Sock::FastRead : Throwing exception");
                fast_read_position = fast_read_size = 0;
                ThrowSocketError("Incorrect Header");
            }
            fast_read_position += length;
        }
        if (type == kKeepWaiting) {
            PrintMessage("Sock::FastRead() : other side says to keep waiting...");
            continue;
        }
        return type;
    }
}

bool Sock::FastPaquetIsOK(char* packet, int size) {
    if (size < 0) size = 0;
    std::vector<char> copy(packet, packet + size);
    char digest[33];
    MD5 md5;
    md5.Process(copy.data(), size);
    md5.GetHash(digest);
    PrintMessage("Sock::FastPaquetIsOK : Checking paquet %s (%li)", digest, (long)size);

    long position = 0;
    bool complete = true;
    char header[kHeaderBytes + 1] = "";
    while (position < size) {
        if (position + kHeaderBytes > size) {
            // A header cut by the end of the packet is read only up to it.
            memset(header, 0, sizeof(header));
            memcpy(header, copy.data() + position, (size_t)(size - position));
            complete = false;
            break;
        }
        memcpy(header, copy.data() + position, kHeaderBytes);
        header[kHeaderBytes] = 0;
        int type = 0, length = 0, value = 0;
        if (sscanf(header, "%i %i %i", &type, &length, &value) < 3 || length < 0 || value < 0) {
            complete = false;
            break;
        }
        position += kHeaderBytes;
        if (type >= 0) position += length;
    }
    if (!complete) {
        PrintError("Sock::FastPaquetIsOK : Paquet is incomplete, header incorrect (%s)", header);
        long from = position - kHeaderBytes < 0 ? 0 : position - kHeaderBytes;
        long to = position + kHeaderBytes > size ? size : position + kHeaderBytes;
        for (long i = from; i < to; i++)
            PrintError("Sock::FastRead : Header [%04i] [%02x] [%c]", (int)i, (unsigned char)copy[i], copy[i]);
    }
    if (position != size) {
        PrintError("Sock::FastPaquetIsOK : Paquet is Broken (%li / %li)", position, (long)size);
        return false;
    }
    PrintMessage("Sock::FastPaquetIsOK : Paquet is OK");
    return true;
}
