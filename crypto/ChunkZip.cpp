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

namespace {

// Sets a stream up on first use (`init`), brings it back to that state
// afterwards (`reset`), and points it at the buffers. Z_OK or the failure.
template <typename State, typename Init, typename Reset>
int Prepare(State*& state, Init init, Reset reset, unsigned char* dest, unsigned long destLen,
            const unsigned char* source, unsigned long sourceLen) {
    if (sourceLen > UINT_MAX || destLen > UINT_MAX) return Z_BUF_ERROR;
    if (!state) {
        State* s = new State;
        memset(&s->stream, 0, sizeof(s->stream));
        int result = init(&s->stream);
        if (result != Z_OK) {
            delete s;
            return result;
        }
        state = s;
    } else if (reset(&state->stream) != Z_OK) {
        return Z_STREAM_ERROR;
    }
    z_stream& z = state->stream;
    z.next_in = const_cast<unsigned char*>(source);
    z.avail_in = (uInt)sourceLen;
    z.next_out = dest;
    z.avail_out = (uInt)destLen;
    return Z_OK;
}

}  // namespace

ChunkDeflater::ChunkDeflater(int level) : state_(nullptr), level_(level) {}

ChunkDeflater::~ChunkDeflater() {
    if (state_) deflateEnd(&state_->stream);
    delete state_;
}

int ChunkDeflater::Compress(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                            unsigned long sourceLen) {
    int ready = Prepare(
        state_, [&](z_stream* z) { return deflateInit(z, level_); }, deflateReset, dest, *destLen, source, sourceLen);
    if (ready != Z_OK) return ready;
    int err = deflate(&state_->stream, Z_FINISH);
    *destLen = state_->stream.total_out;
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
    int ready = Prepare(
        state_, [](z_stream* z) { return inflateInit(z); }, inflateReset, dest, *destLen, source, sourceLen);
    if (ready != Z_OK) return ready;
    z_stream& z = state_->stream;
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
