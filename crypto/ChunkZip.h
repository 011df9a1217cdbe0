// zlib compression of many small buffers (the chunks of an encrypted
// container) through one stream each way. compress2 and uncompress build and
// free a whole zlib state per call, which costs more than compressing an
// 8 KiB chunk of text; a stream brought back with deflateReset/inflateReset
// starts from the state a fresh init gives, so every result is byte-identical
// to compress2/uncompress with the same level.
//
// Threads: an object belongs to one user; no locks.
#pragma once

class ChunkDeflater {
  public:
    explicit ChunkDeflater(int level);
    ~ChunkDeflater();
    ChunkDeflater(const ChunkDeflater&) = delete;
    ChunkDeflater& operator=(const ChunkDeflater&) = delete;

    // compress2's contract: Z_OK with *destLen set to the compressed length,
    // Z_BUF_ERROR when `dest` (*destLen bytes) is too small, Z_MEM_ERROR when
    // the stream cannot be set up.
    int Compress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                 unsigned long sourceLen);

  private:
    struct State;
    State* state_;  // owned; null until the first call sets the stream up
    int level_;
};

class ChunkInflater {
  public:
    ChunkInflater();
    ~ChunkInflater();
    ChunkInflater(const ChunkInflater&) = delete;
    ChunkInflater& operator=(const ChunkInflater&) = delete;

    // uncompress's contract: Z_OK with *destLen set to the bytes produced;
    // Z_BUF_ERROR when the output does not fit, Z_DATA_ERROR for a corrupt
    // or incomplete stream, Z_MEM_ERROR when the stream cannot be set up.
    int Uncompress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                   unsigned long sourceLen);

  private:
    struct State;
    State* state_;
};
