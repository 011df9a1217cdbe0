#include "crypto/ChunkZip.h"

#include <limits.h>
#include <string.h>
#include <zlib.h>

struct ChunkDeflater::State {
    z_stream stream;
};

struct ChunkInflater::State {
    z_stream stream;
};

ChunkDeflater::ChunkDeflater(int level) : state_(nullptr), level_(level) {}

ChunkDeflater::~ChunkDeflater() {
    if (state_) deflateEnd(&state_->stream);
    delete state_;
}

int ChunkDeflater::Compress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                            unsigned long sourceLen) {
    if (sourceLen > UINT_MAX || *destLen > UINT_MAX) return Z_BUF_ERROR;
    if (!state_) {
        State* s = new State;
        memset(&s->stream, 0, sizeof(s->stream));
        int init = deflateInit(&s->stream, level_);
        if (init != Z_OK) {
            delete s;
            return init;
        }
        state_ = s;
    } else if (deflateReset(&state_->stream) != Z_OK) {
        return Z_STREAM_ERROR;
    }
    z_stream& z = state_->stream;
    z.next_in = const_cast<unsigned char*>(source);
    z.avail_in = (uInt)sourceLen;
    z.next_out = dest;
    z.avail_out = (uInt)*destLen;
    int err = deflate(&z, Z_FINISH);
    *destLen = z.total_out;
    if (err == Z_STREAM_END) return Z_OK;
    // Out of room before the end of the stream: compress2 says Z_BUF_ERROR.
    return err == Z_OK ? Z_BUF_ERROR : err;
}

ChunkInflater::ChunkInflater() : state_(nullptr) {}

ChunkInflater::~ChunkInflater() {
    if (state_) inflateEnd(&state_->stream);
    delete state_;
}

int ChunkInflater::Uncompress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                              unsigned long sourceLen) {
    if (sourceLen > UINT_MAX || *destLen > UINT_MAX) return Z_BUF_ERROR;
    if (!state_) {
        State* s = new State;
        memset(&s->stream, 0, sizeof(s->stream));
        int init = inflateInit(&s->stream);
        if (init != Z_OK) {
            delete s;
            return init;
        }
        state_ = s;
    } else if (inflateReset(&state_->stream) != Z_OK) {
        return Z_STREAM_ERROR;
    }
    z_stream& z = state_->stream;
    z.next_in = const_cast<unsigned char*>(source);
    z.avail_in = (uInt)sourceLen;
    z.next_out = dest;
    z.avail_out = (uInt)*destLen;
    int err;
    do {
        err = inflate(&z, Z_NO_FLUSH);
    } while (err == Z_OK);
    *destLen = z.total_out;
    // uncompress's mapping: a stream that stops before its end with room
    // left in the output is corrupt, not short of room.
    if (err == Z_STREAM_END) return Z_OK;
    if (err == Z_NEED_DICT) return Z_DATA_ERROR;
    if (err == Z_BUF_ERROR && z.avail_out > 0) return Z_DATA_ERROR;
    return err;
}
