// Writes a file from a helper thread in 1 MiB blocks, so that preparing the
// next megabyte (encryption, compression) overlaps with the kernel copying
// the previous one. Whole blocks also keep the writes page-aligned.
//
// Threads: the object belongs to one user thread; the helper only touches
// the block handed to it, under the object's lock.
#pragma once

#include <stddef.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class BackgroundWriter {
  public:
    BackgroundWriter();
    // Ends the helper; pending data is dropped and no descriptor is closed.
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    // The descriptor the next bytes go to (after Finish for the previous one).
    void Attach(int fd);
    // False, with errno set, once a write has failed.
    bool Write(const void* data, size_t length);
    // Writes out everything held; false, with errno set, when a write failed.
    bool Finish();

  private:
    bool HandOff();
    bool WaitIdle();
    void Run();

    std::vector<char> filling_;  // the user's block
    std::vector<char> writing_;  // the helper's block
    size_t filled_ = 0;
    size_t to_write_ = 0;  // bytes of writing_ handed over and not yet written
    int fd_ = -1;
    int error_ = 0;
    bool stop_ = false;
    bool alone_ = false;  // the helper could not be started
    std::mutex lock_;
    std::condition_variable changed_;
    std::thread helper_;
};
