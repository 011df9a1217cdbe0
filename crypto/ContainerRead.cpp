// The reading side of the encrypted container: ReadContainer and DecryptAES.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "crypto/AesVetrak.h"
#include "crypto/ChunkZip.h"
#include "crypto/Container.h"
#include "foundation/FileOps.h"
#include "foundation/Log.h"
#include "foundation/ReplacementFile.h"
#include "foundation/base.h"

namespace {

// One hexadecimal number of at most 8 digits and the blank after it.
bool ReadHexField(FILE* f, unsigned& value) {
    value = 0;
    int digits = 0, c;
    while ((c = getc(f)) != EOF && HexDigitValue((char)c) >= 0) {
        if (++digits > 8) return false;
        value = value * 16 + (unsigned)HexDigitValue((char)c);
    }
    return digits > 0 && c == ' ';
}

// The container as one byte stream over its file or its parts, which never
// runs a chunk across the end of a part.
class PartReader {
  public:
    explicit PartReader(const char* source) : source_(source) {}
    ~PartReader() {
        if (f_) fclose(f_);
    }
    PartReader(const PartReader&) = delete;
    PartReader& operator=(const PartReader&) = delete;

    bool Open(ContainerFault& fault) {
        struct stat st;
        split_ = stat(source_.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        name_ = split_ ? source_ + "/000" : source_;
        f_ = fopen(name_.c_str(), "rbe");
        if (f_) return true;
        fault.kind = ContainerFault::kOpen;
        fault.error = errno;
        fault.name = name_;
        return false;
    }
    // The first byte of a chunk header; at the end of a part the next part
    // continues the stream. EOF when the container ends here.
    int HeaderStart(ContainerFault& fault) {
        int c = getc(f_);
        if (c != EOF || !split_) return c;
        fclose(f_);
        char number[16];
        snprintf(number, sizeof(number), "/%03u", ++part_);
        name_ = source_ + number;
        f_ = fopen(name_.c_str(), "rbe");
        if (!f_) {
            fault.kind = ContainerFault::kPart;
            fault.error = errno;
            fault.name = name_;
            return EOF;
        }
        return getc(f_);
    }
    FILE* file() { return f_; }

  private:
    std::string source_;
    std::string name_;
    FILE* f_ = nullptr;
    bool split_ = false;
    unsigned part_ = 0;
};

// The type field and the key block; on success `compressed` and `count`
// describe the chunks that follow.
bool ReadPreamble(PartReader& in, const char* key, bool& compressed, unsigned& count, ContainerFault& fault) {
    FILE* f = in.file();
    char head[21];
    size_t n = fread(head, 1, 20, f);
    head[n] = 0;
    char word[21] = "";
    int fields = sscanf(head, "%20s %8x", word, &count);
    fault.count = count;
    char field[40];
    int length = snprintf(field, sizeof(field), "%s %x ", word, count);
    // Only a field exactly as a writer prints it is taken.
    if (fields != 2 || (strcmp(word, "aes") && strcmp(word, "aes_zip")) || (size_t)length > n ||
        memcmp(head, field, (size_t)length) != 0) {
        fault.kind = ContainerFault::kType;
        fault.text = word;
        return false;
    }
    compressed = !strcmp(word, "aes_zip");
    char block[33];
    if (fseek(f, length, SEEK_SET) != 0 || fread(block, 1, 32, f) != 32) {
        fault.kind = ContainerFault::kCorrupt;
        return false;
    }
    aes_cipher_vetrak cipher(key);
    cipher.decrypt(block, 32);
    block[32] = 0;
    if (memcmp(block, key, 32) != 0) {
        fault.kind = ContainerFault::kKey;
        fault.text = block;
        return false;
    }
    return true;
}

}  // namespace

bool ReadContainer(const char* source, const char* key, ContainerSink& sink, ContainerFault& fault) {
    fault = ContainerFault();
    if (!key || strnlen(key, 32) < 32) {
        fault.kind = ContainerFault::kKey;
        return false;
    }
    PartReader in(source);
    bool compressed = false;
    unsigned count = 0;
    if (!in.Open(fault) || !ReadPreamble(in, key, compressed, count, fault)) return false;
    if (!sink.Begin()) {
        fault.kind = ContainerFault::kSink;
        return false;
    }
    aes_cipher_vetrak cipher(key);
    ChunkInflater inflater;
    std::vector<char> stored, plain;
    for (unsigned k = 0; k < count; k++) {
        fault.chunk = k;
        fault.kind = ContainerFault::kCorrupt;
        unsigned packed = 0, size = 0;
        int c = in.HeaderStart(fault);
        if (c != ' ') return false;
        FILE* f = in.file();
        if (compressed && !ReadHexField(f, packed)) return false;
        if (!ReadHexField(f, size) || size > kChunkLargest) return false;
        // No writer gives a compressed chunk more room than this.
        if (compressed && packed > (unsigned)(size * 1.1) + 12) return false;
        unsigned length = compressed ? packed : size;
        size_t padded = length + (length & 15);
        if (stored.size() < (size_t)length + 17) stored.resize((size_t)length + 17);
        if (fread(stored.data(), 1, padded, f) != padded) return false;
        cipher.decrypt(stored.data(), (int)padded);
        char* data = stored.data();
        if (compressed) {
            if (plain.size() < (size_t)size + 2) plain.resize((size_t)size + 2);
            unsigned long produced = size + 1;
            int result = inflater.Uncompress((unsigned char*)plain.data(), &produced,
                                             (unsigned char*)stored.data(), length);
            // A stream that inflates to another length than announced is as
            // corrupt as one zlib refuses.
            if (result == Z_OK && produced != size) result = Z_DATA_ERROR;
            if (result != Z_OK) {
                fault.kind = ContainerFault::kInflate;
                fault.zlib = result;
                fault.stored = length;
                fault.produced = produced;
                fault.padding = (int)(length & 15);
                return false;
            }
            data = plain.data();
        }
        size_t deliver = size;
        if (k + 1 < count) {
            int clear = getc(f);
            if (clear == EOF) return false;
            data[deliver++] = (char)clear;
        }
        fault.kind = ContainerFault::kSink;
        if (!sink.Write(data, deliver)) return false;
    }
    fault.kind = ContainerFault::kNone;
    return true;
}

namespace {

// The plain file, replacing the target once complete.
class PlainFileSink : public ContainerSink {
  public:
    explicit PlainFileSink(const char* target) : out_(target) {}
    bool Begin() override {
        if (out_.Open(0666, false, true) && (plain_ = out_.stream())) {
            // Whole large buffers: small unaligned writes cost the kernel a
            // second pass over every page.
            setvbuf(plain_, nullptr, _IOFBF, 1 << 20);
            return true;
        }
        PrintError("DecryptAES: Could not open file %s for writing: %s", out_.target().c_str(), strerror(errno));
        return false;
    }
    bool Write(const char* data, size_t length) override {
        return fwrite(data, 1, length, plain_) == length || Failed();
    }
    bool Commit() { return out_.Commit(false) || Failed(); }

  private:
    bool Failed() {
        PrintError("DecryptAES(%s) : failed with %s", out_.target().c_str(), strerror(errno));
        return false;
    }
    ReplacementFile out_;
    FILE* plain_ = nullptr;
};

void LogInflateFault(const char* source, const ContainerFault& fault) {
    if (fault.zlib == Z_DATA_ERROR)
        PrintError("DecryptAES: Z_DATA_ERROR (%s) (size_source=%u / size_dest=%lu / padding=%i)", source,
                   fault.stored, fault.produced, fault.padding);
    else if (fault.zlib == Z_BUF_ERROR)
        PrintError("DecryptAES: Z_BUF_ERROR (%s) (size_source=%u / size_dest=%lu / padding=%i)", source,
                   fault.stored, fault.produced, fault.padding);
    else
        PrintError("DecryptAES: Z_UNKNOWN_ERROR (%s): %s", source, zError(fault.zlib));
}

}  // namespace

bool DecryptAES(const char* source, const char* target, const char* key, bool removeSource, bool, char*) {
    if (!source || !target) return false;
    PrintDebug("%s %s into %s with %s", "AES Decrypt", source, target, key ? key : "");
    // Decrypted in place, the source name holds the plain file at the end.
    struct stat a, b;
    bool in_place = stat(source, &a) == 0 && stat(target, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    PlainFileSink sink(target);
    ContainerFault fault;
    if (ReadContainer(source, key, sink, fault)) {
        if (!sink.Commit()) return false;
        if (removeSource && !in_place) Unlink(source);  // a directory of parts goes whole
        return true;
    }
    switch (fault.kind) {
        case ContainerFault::kOpen:
            PrintError("DecryptAES: Could not open file %s for reading: %s", fault.name.c_str(),
                       strerror(fault.error));
            break;
        case ContainerFault::kType:
            PrintError("Unknown file type: %s", fault.text.c_str());
            break;
        case ContainerFault::kKey:
            PrintError("DecryptAES: Invalid key %s/%s for decrypting %s", key ? key : "", fault.text.c_str(),
                       source);
            break;
        case ContainerFault::kPart:
            PrintError("DecryptAES : Could not open file (%s) for reading, aborting decryption", fault.name.c_str());
            break;
        case ContainerFault::kInflate:
            LogInflateFault(source, fault);
            PrintError("DecryptAES: aborting uncryption, corrupted file ;( was @ %u / %u", fault.chunk, fault.count);
            break;
        case ContainerFault::kCorrupt:
            PrintError("DecryptAES: aborting uncryption, corrupted file ;( was @ %u / %u", fault.chunk, fault.count);
            break;
        default:
            break;  // the sink has said what failed
    }
    return false;
}
