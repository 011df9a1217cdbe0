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

bool ChunkPipeline::Finish() { return HandOff() && WaitIdle(); }

bool ChunkPipeline::WaitIdle() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return !busy_; });
    if (error_) errno = error_;
    return error_ == 0;
}

int ChunkPipeline::Process(Block& block) {
    char* at = block.bytes.data();
    for (const Segment& s : block.segments) {
        at += s.header;
        cipher_.encrypt(at, (int)s.stored);
        if (digest_) digest_->Process(at, (int)(s.stored + s.clear));
        at += s.stored + s.clear;
    }
    int error = WriteAll(fd_, block.bytes.data(), block.used);
    block.used = 0;
    block.segments.clear();
    return error;
}

bool ChunkPipeline::HandOff() {
    if (!WaitIdle()) return false;
    if (filling_.used == 0) return true;
    if (!helper_.joinable() && !alone_) {
        try {
            helper_ = std::thread(&ChunkPipeline::Run, this);
        } catch (const std::system_error&) {
            alone_ = true;
        }
    }
    if (alone_) {
        error_ = Process(filling_);
        if (error_) errno = error_;
        return error_ == 0;
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        std::swap(filling_, writing_);
        busy_ = true;
    }
    changed_.notify_all();
    return true;
}

void ChunkPipeline::Run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [&] { return stop_ || busy_; });
        if (stop_) return;
        // The block, the descriptor, the cipher and the digest are the
        // helper's while busy_ is set.
        hold.unlock();
        int error = Process(writing_);
        hold.lock();
        if (error) error_ = error;
        busy_ = false;
        changed_.notify_all();
    }
}
