// The writing side of the encrypted container: the chunk table and CryptAES.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "crypto/AesVetrak.h"
#include "crypto/ChunkPipeline.h"
#include "crypto/ChunkZip.h"
#include "crypto/Container.h"
#include "crypto/Md5.h"
#include "foundation/FileOps.h"
#include "foundation/Log.h"
#include "foundation/ReplacementFile.h"

namespace {

const int kHeaderBlock = 512;        // the chunk table is decided per 512-byte block
const long long kSampleOffset = 90000;  // where the compressibility sample is taken
const int kSampleSize = 10240;
const unsigned long kSampleLimit = 10000;  // a sample compressing to more is not worth it
const long long kSampleMinimumFile = 102401;

// Reads until `length` bytes or the end of the file, from `offset` (the
// file position when negative); -1 on a read error.
ssize_t ReadFully(int fd, char* data, size_t length, off_t offset = -1) {
    size_t done = 0;
    while (done < length) {
        ssize_t n = offset < 0 ? read(fd, data + done, length - done)
                               : pread(fd, data + done, length - done, offset + (off_t)done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += (size_t)n;
    }
    return (ssize_t)done;
}

// The chunk table, or false when the file cannot be opened or read to its
// end (a table that stops early would silently drop the rest of the file).
// Reads with pread: the descriptor's position stays where it was.
bool BuildChunkTable(int fd, char separator, long long minimum, std::vector<unsigned>& lengths) {
    std::vector<char> buffer(64 * kHeaderBlock);
    long long mark = 0;   // start of the current chunk
    long long block = 0;  // file position of the current 512-byte block
    for (;;) {
        ssize_t got = ReadFully(fd, buffer.data(), buffer.size(), block);
        if (got < 0) return false;
        for (ssize_t offset = 0;; offset += kHeaderBlock) {
            long long size = got - offset < kHeaderBlock ? got - offset : kHeaderBlock;
            const char* data = buffer.data() + offset;
            // Only a separator far enough from the mark cuts, so the search
            // can start there.
            for (long long from = block > mark + minimum ? block : mark + minimum + 1; from < block + size;) {
                const char* hit = (const char*)memchr(data + (from - block), separator, (size_t)(block + size - from));
                if (!hit) break;
                long long at = block + (hit - data);
                lengths.push_back((unsigned)(at - mark - 1));
                mark = at;
                from = at + minimum + 1;
            }
            if (size < kHeaderBlock) {
                long long end = block + size;
                if (end > mark) {
                    lengths.push_back((unsigned)(end - mark));
                } else if (mark > 0) {
                    // A forced cut right at the end of the file: the byte
                    // before the mark is a clear byte, which only a following
                    // chunk writes. An empty chunk keeps it.
                    lengths.push_back(0);
                }
                return true;
            }
            if (block - mark > kChunkForcedCut) {
                lengths.push_back((unsigned)(block + kHeaderBlock - mark - 1));
                mark = block + kHeaderBlock;
            }
            block += kHeaderBlock;
            if (offset + kHeaderBlock == got) break;
        }
    }
}

// Only an older container is replaced, never some other folder.
bool IsSplitContainer(const std::string& path) {
    return IsAES((path + "/000").c_str());
}

// Puts `ready` (a file or a directory) in place of `target`, whatever
// `target` is now. The old container is moved aside first and only removed
// once the new one stands, so a failed rename costs nothing.
bool PutInPlace(const std::string& ready, const std::string& target) {
    if (rename(ready.c_str(), target.c_str()) == 0) return true;
    if (errno != EISDIR && errno != ENOTDIR && errno != ENOTEMPTY && errno != EEXIST) return false;
    struct stat st;
    if (lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && !IsSplitContainer(target)) {
        errno = EISDIR;
        return false;
    }
    std::string aside = MakeTemporaryFolder(target);
    if (aside.empty()) return false;
    std::string old = aside + "/old";
    if (rename(target.c_str(), old.c_str()) != 0) {
        int error = errno;
        rmdir(aside.c_str());
        errno = error;
        return false;
    }
    if (rename(ready.c_str(), target.c_str()) != 0) {
        int error = errno;
        rename(old.c_str(), target.c_str());
        rmdir(aside.c_str());
        errno = error;
        return false;
    }
    Unlink(old.c_str());
    rmdir(aside.c_str());
    return true;
}

// Activity registry state 0x40 (treating one file) for the calling thread.
class TreatingFile {
  public:
    TreatingFile(const char* name, long long total) {
        if (!thread_manager) return;
        thread_manager->SetState(kStateTreatFile);
        thread_manager->SetFilename(name);
        thread_manager->SetTotalFileSize(total);
    }
    ~TreatingFile() {
        if (thread_manager) thread_manager->ResetState(kStateTreatFile);
    }
    void Progress(long long done) {
        if (!thread_manager) return;
        thread_manager->SetFileSize(done);
        thread_manager->KeepGoing();
    }
};

// One run of CryptAESTo: the output being written and the folder of parts
// that must go when the run fails. The output is one file replacing the
// target through ReplacementFile until it grows past a part's size; then it
// becomes a folder of parts built under a temporary name and put in place
// of the target at the end.
class ContainerWriter {
  public:
    ContainerWriter(const char* target, const char* key, MD5* digest)
        : target_(target), cipher_(key), key_(key), pipeline_(cipher_, digest) {}
    ~ContainerWriter();

    // Each false leaves the reason in `failure_` (errno text unless set).
    bool OpenTarget();
    bool WriteChunks(int in, const std::vector<unsigned>& lengths, bool compress, TreatingFile& activity);
    bool Finish();

    std::string failure_;

  private:
    // Exactly `length` bytes of the source; a file that ends first has
    // shrunk since the chunk table was made.
    bool ReadChunk(int in, char* data, size_t length) {
        ssize_t got = ReadFully(in, data, length);
        if (got >= 0 && got != (ssize_t)length) failure_ = "the file shrank while it was read";
        return got == (ssize_t)length;
    }
    bool OpenOutput(const std::string& path, bool into_devices = false);
    bool NextPart();

    std::string target_;
    aes_cipher_vetrak cipher_;
    const char* key_;
    ChunkPipeline pipeline_;  // encrypts, digests and writes
    std::unique_ptr<ReplacementFile> out_;  // the target, or the current part
    std::string parts_dir_;   // the folder of parts, once there is one
    unsigned part_ = 0;
    long long position_ = 0;  // bytes in the current part
    bool unsplit_ = false;    // a device or a pipe takes the whole container
};

ContainerWriter::~ContainerWriter() {
    pipeline_.Finish();
    out_.reset();
    if (!parts_dir_.empty()) RemoveDir(parts_dir_.c_str());
}

bool ContainerWriter::OpenOutput(const std::string& path, bool into_devices) {
    out_.reset(new ReplacementFile(path));
    if (!out_->Open(0666, false, into_devices)) return false;
    pipeline_.Attach(out_->fd());
    position_ = 0;
    return true;
}

bool ContainerWriter::OpenTarget() {
    struct stat st;
    bool ok;
    if (lstat(target_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        // An older split container gives way at the end, whatever the new
        // one becomes; until then the new one is built in a folder of its own.
        if (IsSplitContainer(target_)) {
            parts_dir_ = MakeTemporaryFolder(target_);
            ok = !parts_dir_.empty() && OpenOutput(parts_dir_ + "/000");
        } else {
            errno = EISDIR;
            ok = false;
        }
    } else {
        // A device or a pipe (/dev/null) is written into, never replaced;
        // it takes the container as one stream, the parts' concatenation.
        unsplit_ = stat(target_.c_str(), &st) == 0 &&
                   (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode));
        ok = OpenOutput(target_, true);
    }
    if (!ok) PrintError("CryptAES: Could not open file %s for writing: %s", target_.c_str(), strerror(errno));
    return ok;
}

bool ContainerWriter::NextPart() {
    if (!pipeline_.Finish()) return false;
    if (parts_dir_.empty()) {
        // The first split: the file written so far becomes the first part.
        parts_dir_ = MakeTemporaryFolder(target_);
        if (parts_dir_.empty() || !out_->CommitAs(parts_dir_ + "/000", false)) return false;
    } else if (!out_->Commit(false)) {
        return false;
    }
    part_++;
    char number[16];
    snprintf(number, sizeof(number), "/%03u", part_);
    PrintDebug("tentative de creation de %s%s", target_.c_str(), number);
    return OpenOutput(parts_dir_ + number);
}

bool ContainerWriter::WriteChunks(int in, const std::vector<unsigned>& lengths, bool compress,
                                  TreatingFile& activity) {
    char field[32];
    int length = snprintf(field, sizeof(field), compress ? "aes_zip %x " : "aes %x ", (unsigned)lengths.size());
    char* room = pipeline_.Reserve((size_t)length + 32);
    if (!room) return false;
    memcpy(room, field, (size_t)length);
    memcpy(room + length, key_, 32);
    cipher_.encrypt(room + length, 32);
    pipeline_.Append((size_t)length + 32, 0, 0);
    position_ = length + 32;

    std::vector<char> plain, packed;
    ChunkDeflater deflater(1);
    long long done = 0;
    for (size_t k = 0; k < lengths.size(); k++) {
        activity.Progress(done);
        const unsigned size = lengths[k];
        const bool last = k + 1 == lengths.size();
        const size_t clear = last ? 0 : 1;
        char header[40];
        unsigned long stored = size;
        const char* data = nullptr;  // the stored bytes when not read in place
        if (compress) {
            if (plain.size() < (size_t)size + 1) plain.resize((size_t)size + 1);
            if (!ReadChunk(in, plain.data(), size + clear)) return false;
            unsigned long capacity = (unsigned long)(size * 1.1) + 12;
            if (packed.size() < capacity) packed.resize(capacity);
            stored = capacity;
            int result = deflater.Compress((unsigned char*)packed.data(), &stored, (unsigned char*)plain.data(), size);
            if (result != Z_OK) {
                if (result == Z_MEM_ERROR)
                    PrintError("CryptAES: Z_MEM_ERROR (size_source=%u / size_dest=%u)", size, (unsigned)capacity);
                else if (result == Z_BUF_ERROR)
                    PrintError("CryptAES: Z_BUF_ERROR (size_source=%u / size_dest=%u)", size, (unsigned)capacity);
                else
                    PrintError("CryptAES: Z_UNKNOWN_ERROR: %s", strerror(errno));
                failure_ = zError(result);
                return false;
            }
            snprintf(header, sizeof(header), " %lx %x ", stored, size);
            data = packed.data();
        } else {
            snprintf(header, sizeof(header), " %x ", size);
        }
        // L % 16 zero bytes follow the L bytes; only whole blocks are
        // encrypted (by the pipeline), so a tail of 1 to 7 data bytes stays
        // in clear. Then the clear byte.
        const size_t head = strlen(header), padding = stored & 15;
        room = pipeline_.Reserve(head + stored + padding + clear);
        if (!room) return false;
        memcpy(room, header, head);
        char* body = room + head;
        if (data) {
            memcpy(body, data, stored);
            if (clear) body[stored + padding] = plain[size];
        } else {
            if (!ReadChunk(in, body, size + clear)) return false;
            if (clear) body[stored + padding] = body[size];
        }
        memset(body + stored, 0, padding);
        pipeline_.Append(head, stored + padding, clear);
        position_ += (long long)(head + stored + padding + clear);
        if (position_ > kContainerPartSize && !unsplit_ && !NextPart()) return false;
        done += size + clear;
    }
    return true;
}

bool ContainerWriter::Finish() {
    if (!pipeline_.Finish() || !out_->Commit(false)) return false;
    if (parts_dir_.empty()) return true;
    // Never split but replacing an older split container: one file still.
    const std::string ready = part_ == 0 ? parts_dir_ + "/000" : parts_dir_;
    if (!PutInPlace(ready, target_)) return false;
    if (part_ == 0) rmdir(parts_dir_.c_str());
    parts_dir_.clear();
    return true;
}

// Worth compressing: a 10,240-byte sample from offset 90,000 must shrink to
// at most 10,000 bytes. Small files are not tested.
bool WorthCompressing(int in, const char* path, long long size) {
    if (size < kSampleMinimumFile) return true;
    std::vector<char> sample(kSampleSize);
    ssize_t got = pread(in, sample.data(), sample.size(), kSampleOffset);
    if (got < 0) got = 0;
    std::vector<unsigned char> packed(11276);
    unsigned long length = packed.size();
    compress2(packed.data(), &length, (const unsigned char*)sample.data(), (unsigned long)got, 1);
    if (length > kSampleLimit) {
        PrintMessage("File %s is not zippable (%u > %i)", path, (unsigned)length, (int)kSampleLimit);
        return false;
    }
    return true;
}

}  // namespace

bool IsAES(const char* path) {
    FILE* f = path ? fopen(path, "re") : nullptr;
    if (!f) return false;
    char head[3];
    size_t n = fread(head, 1, 3, f);
    fclose(f);
    return n == 3 && memcmp(head, "aes", 3) == 0;
}

unsigned int* CreateHeader(const char* path, char separator, unsigned int& count, unsigned int minimum) {
    std::vector<unsigned> lengths;
    int fd = path ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    bool read = fd >= 0 && BuildChunkTable(fd, separator, minimum, lengths);
    if (fd >= 0) close(fd);
    unsigned* table = (unsigned*)malloc((lengths.size() + 1) * sizeof(unsigned));
    if (!table || !read) return table;
    if (!lengths.empty()) memcpy(table, lengths.data(), lengths.size() * sizeof(unsigned));
    count = (unsigned)lengths.size();
    return table;
}

bool CryptAESTo(const char* path, const char* target, const char* key, bool compress, MD5* digest,
                const char* displayName) {
    PrintDebug("%s %s into %s with %s", "AES Crypt", path, target, key ? key : "");
    if (!key || !IsValidAesKey(key, 1)) {
        PrintError("CryptAES(%s) : failed with %s", path, strerror(EINVAL));
        return false;
    }
    struct stat st;
    if (stat(path, &st) != 0) {
        PrintError("GetFileSize(%s): %s (%i)", path, strerror(errno), errno);
        return false;
    }
    long long size = (long long)st.st_size;
    TreatingFile activity(displayName ? displayName : path, size);
    std::vector<unsigned> lengths;
    int in = S_ISREG(st.st_mode) ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    // The table and the chunks come from the same open file.
    if (in < 0 || !BuildChunkTable(in, '\n', kChunkMinimum, lengths)) {
        PrintError("CryptAES: Could not open file %s for reading", path);
        if (in >= 0) close(in);
        return false;
    }
    struct stat existing;
    if (lstat(target, &existing) == 0) PrintError("%s existed already", target);
    if (compress) compress = WorthCompressing(in, path, size);

    ContainerWriter writer(target, key, digest);
    bool ok = writer.OpenTarget();
    if (!ok) {
        close(in);
        return false;
    }
    ok = writer.WriteChunks(in, lengths, compress, activity) && writer.Finish();
    std::string reason = writer.failure_.empty() ? strerror(errno) : writer.failure_;
    close(in);
    if (!ok) PrintError("CryptAES(%s) : failed with %s", path, reason.c_str());
    return ok;
}

bool CryptAES(char* path, const char* key, bool removeSource, bool compress, MD5* digest,
              const char* displayName) {
    if (!path) return false;
    std::string target = std::string(path) + ".aes";
    if (!CryptAESTo(path, target.c_str(), key, compress, digest, displayName)) return false;
    if (removeSource && unlink(path) != 0) PrintError("Unlink Error (%s): %s", path, strerror(errno));
    memcpy(path, target.c_str(), target.size() + 1);
    return true;
}
