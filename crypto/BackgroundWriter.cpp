#include "crypto/BackgroundWriter.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <system_error>

namespace {

const size_t kBlock = 1 << 20;

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

BackgroundWriter::BackgroundWriter() : filling_(kBlock), writing_(kBlock) {}

BackgroundWriter::~BackgroundWriter() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    if (helper_.joinable()) helper_.join();
}

void BackgroundWriter::Attach(int fd) {
    std::lock_guard<std::mutex> hold(lock_);
    fd_ = fd;
}

bool BackgroundWriter::Write(const void* data, size_t length) {
    const char* from = (const char*)data;
    while (length > 0) {
        size_t take = length < kBlock - filled_ ? length : kBlock - filled_;
        memcpy(filling_.data() + filled_, from, take);
        filled_ += take;
        from += take;
        length -= take;
        if (filled_ == kBlock && !HandOff()) return false;
    }
    return true;
}

bool BackgroundWriter::Finish() { return HandOff() && WaitIdle(); }

bool BackgroundWriter::WaitIdle() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return to_write_ == 0; });
    if (error_) errno = error_;
    return error_ == 0;
}

bool BackgroundWriter::HandOff() {
    if (!WaitIdle()) return false;
    if (filled_ == 0) return true;
    if (!helper_.joinable() && !alone_) {
        try {
            helper_ = std::thread(&BackgroundWriter::Run, this);
        } catch (const std::system_error&) {
            alone_ = true;  // no thread to be had: write in the caller's
        }
    }
    if (alone_) {
        error_ = WriteAll(fd_, filling_.data(), filled_);
        filled_ = 0;
        if (error_) errno = error_;
        return error_ == 0;
    }
    {
        std::lock_guard<std::mutex> hold(lock_);
        filling_.swap(writing_);
        to_write_ = filled_;
        filled_ = 0;
    }
    changed_.notify_all();
    return true;
}

void BackgroundWriter::Run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [&] { return stop_ || to_write_ > 0; });
        if (stop_) return;
        // The block and the descriptor stay put while to_write_ is set.
        int fd = fd_;
        size_t length = to_write_;
        hold.unlock();
        int error = WriteAll(fd, writing_.data(), length);
        hold.lock();
        if (error) error_ = error;
        to_write_ = 0;
        changed_.notify_all();
    }
}
