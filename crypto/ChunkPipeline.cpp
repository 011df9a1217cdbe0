#include "crypto/ChunkPipeline.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <system_error>

#include "crypto/AesVetrak.h"
#include "crypto/Md5.h"

namespace {

const size_t kHandOver = 1 << 20;  // a block goes out once it holds this much

int WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n == 0 ? ENOSPC : errno;
        data += n;
        length -= (size_t)n;
    }
    return 0;
}

}  // namespace

ChunkPipeline::ChunkPipeline(aes_cipher_vetrak& cipher, MD5* digest) : cipher_(cipher), digest_(digest) {}

ChunkPipeline::~ChunkPipeline() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    if (helper_.joinable()) helper_.join();
}

void ChunkPipeline::Attach(int fd) {
    std::lock_guard<std::mutex> hold(lock_);
    fd_ = fd;
}

char* ChunkPipeline::Reserve(size_t length) {
    if (filling_.used + length > filling_.bytes.size() && filling_.used > 0 && !HandOff()) return nullptr;
    if (error_) {
        errno = error_;
        return nullptr;
    }
    // Room for a whole hand-over at once, so small chunks share a block.
    if (filling_.bytes.size() < filling_.used + length) filling_.bytes.resize(kHandOver + length + filling_.used);
    return filling_.bytes.data() + filling_.used;
}

void ChunkPipeline::Append(size_t header, size_t stored, size_t clear) {
    filling_.segments.push_back(Segment{header, stored, clear});
    filling_.used += header + stored + clear;
    // A failure shows at the next Reserve or at Finish.
    if (filling_.used >= kHandOver) HandOff();
}

bool ChunkPipeline::Finish() {
    bool ok = HandOff();
    WaitIdle();
    return ok;
}

void ChunkPipeline::WaitIdle() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return !busy_; });
}

void ChunkPipeline::Digest(const Block& block) {
    if (!digest_) return;
    const char* at = block.bytes.data();
    for (const Segment& s : block.segments) {
        digest_->Process(at + s.header, (int)(s.stored + s.clear));
        at += s.header + s.stored + s.clear;
    }
}

bool ChunkPipeline::HandOff() {
    if (error_) {
        errno = error_;
        return false;
    }
    if (filling_.used == 0) return true;
    char* at = filling_.bytes.data();
    for (const Segment& s : filling_.segments) {
        cipher_.encrypt(at + s.header, (int)s.stored);
        at += s.header + s.stored + s.clear;
    }
    // The digest takes the blocks in order, one at a time.
    WaitIdle();
    std::swap(filling_, digesting_);
    filling_.used = 0;
    filling_.segments.clear();
    if (!helper_.joinable() && !alone_) {
        try {
            helper_ = std::thread(&ChunkPipeline::Run, this);
        } catch (const std::system_error&) {
            alone_ = true;
        }
    }
    if (alone_) {
        Digest(digesting_);
    } else {
        {
            std::lock_guard<std::mutex> hold(lock_);
            busy_ = true;
        }
        changed_.notify_all();
    }
    // Writing only reads the block, as the helper does meanwhile.
    error_ = WriteAll(fd_, digesting_.bytes.data(), digesting_.used);
    if (error_) errno = error_;
    return error_ == 0;
}

void ChunkPipeline::Run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [&] { return stop_ || busy_; });
        if (stop_) return;
        hold.unlock();
        Digest(digesting_);
        hold.lock();
        busy_ = false;
        changed_.notify_all();
    }
}
