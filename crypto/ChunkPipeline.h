// The tail of the container writer: chunks gathered into blocks of about
// 1 MiB, each encrypted and written by the calling thread while a helper
// thread feeds the previous block to the digest. The digest costs about as
// much as everything else the writer does, so both processors work at once;
// large blocks also keep the writes large.
//
// Threads: the object belongs to one user thread. The helper reads only the
// block handed to it and feeds only the digest, until Finish returns.
#pragma once

#include <stddef.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class MD5;
class aes_cipher_vetrak;

class ChunkPipeline {
  public:
    // `cipher` and `digest` (may be null) must outlive the pipeline.
    ChunkPipeline(aes_cipher_vetrak& cipher, MD5* digest);
    // Ends the helper; what was not finished is dropped. Closes nothing.
    ~ChunkPipeline();
    ChunkPipeline(const ChunkPipeline&) = delete;
    ChunkPipeline& operator=(const ChunkPipeline&) = delete;

    // The descriptor the next blocks go to (after Finish for the previous one).
    void Attach(int fd);
    // Room for `length` bytes at the end of the current block; null, with
    // errno set, once a write has failed.
    char* Reserve(size_t length);
    // The reserved room now holds `header` bytes written as they are, then
    // `stored` bytes whose whole 16-byte blocks are encrypted, then `clear`
    // bytes; the stored and clear bytes go to the digest, in order.
    void Append(size_t header, size_t stored, size_t clear);
    // Encrypts, digests and writes everything held; false, with errno set,
    // when a write failed.
    bool Finish();

  private:
    struct Segment {
        size_t header, stored, clear;
    };
    struct Block {
        std::vector<char> bytes;
        size_t used = 0;
        std::vector<Segment> segments;
    };
    bool HandOff();
    void WaitIdle();
    void Digest(const Block& block);
    void Run();

    aes_cipher_vetrak& cipher_;
    MD5* digest_;
    Block filling_;      // the block being filled
    Block digesting_;    // the block written last, the helper's to digest
    bool busy_ = false;  // the helper has not finished digesting_ yet
    int fd_ = -1;
    int error_ = 0;      // errno of the first failed write
    bool stop_ = false;
    bool alone_ = false;  // no helper could be started: the caller does its work
    std::mutex lock_;
    std::condition_variable changed_;
    std::thread helper_;
};
