// Cipher and digest throughput, each beside a reference measured in the
// same run: AES on 4 MiB buffers against memcpy of the same buffer, MD5 of
// 256 MiB against the md5sum command on the same bytes in a file.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "BenchSupport.h"
#include "crypto/AesVetrak.h"
#include "crypto/Md5.h"

namespace {

// Best of `tries` runs of `body`, in MB/s for `bytes` per run.
template <typename F>
double Rate(double bytes, int tries, F body) {
    double best = 0;
    for (int i = 0; i < tries; i++) {
        double t0 = Now();
        body();
        double rate = bytes / 1e6 / (Now() - t0);
        if (rate > best) best = rate;
    }
    return best;
}

void BenchAes() {
    const size_t size = 4 << 20;
    const int repeat = 16;
    std::vector<char> buffer(size), copy(size);
    for (size_t i = 0; i < size; i++) buffer[i] = (char)(i * 7);
    aes_cipher_vetrak cipher("2b7e151628aed2a6abf7158809cf4f3c");
    double reference = Rate((double)size * repeat, 5, [&] {
        for (int r = 0; r < repeat; r++) {
            memcpy(copy.data(), buffer.data(), size);
            buffer[r] ^= copy[size - 1 - r];  // keeps the copies from being elided
        }
    });
    double enc = Rate((double)size * repeat, 3, [&] {
        for (int r = 0; r < repeat; r++) cipher.encrypt(buffer.data(), (int)size);
    });
    double dec = Rate((double)size * repeat, 3, [&] {
        for (int r = 0; r < repeat; r++) cipher.decrypt(buffer.data(), (int)size);
    });
    printf("aes_cipher_vetrak encrypt, 4 MiB buffers: %8.1f MB/s   (memcpy of the same buffer: %8.1f MB/s)\n",
           enc, reference);
    printf("aes_cipher_vetrak decrypt, 4 MiB buffers: %8.1f MB/s   (memcpy of the same buffer: %8.1f MB/s)\n",
           dec, reference);
}

void BenchMd5() {
    const size_t size = 256u << 20;
    std::vector<char> buffer(size);
    unsigned seed = 12345;
    for (size_t i = 0; i < size; i += 4) {
        seed = seed * 1103515245u + 12345u;
        memcpy(&buffer[i], &seed, 4);
    }
    char ours[33] = "";
    double rate = Rate((double)size, 3, [&] {
        MD5 m;
        m.Process(buffer.data(), (int)size);
        m.GetHash(ours);
    });

    char path[] = "/tmp/zelbench_md5.XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        printf("md5 of 256 MiB: %8.1f MB/s   (md5sum: no temporary file)\n", rate);
        return;
    }
    size_t written = 0;
    while (written < size) {
        ssize_t n = write(fd, buffer.data() + written, size - written);
        if (n <= 0) break;
        written += (size_t)n;
    }
    close(fd);
    std::string command = std::string("md5sum ") + path;
    double reference = 0;
    char theirs[64] = "";
    for (int i = 0; i < 3; i++) {  // the first run also warms the page cache
        double t0 = Now();
        FILE* p = popen(command.c_str(), "r");
        if (!p) break;
        if (!fgets(theirs, sizeof(theirs), p)) theirs[0] = 0;
        pclose(p);
        double r = (double)size / 1e6 / (Now() - t0);
        if (r > reference) reference = r;
    }
    unlink(path);
    theirs[32] = 0;
    printf(
        "MD5 of 256 MiB buffer:                    %8.1f MB/s   (md5sum on the same bytes in page cache: "
        "%8.1f MB/s, ratio %.2f)%s\n",
        rate, reference, reference > 0 ? rate / reference : 0.0,
        strcmp(ours, theirs) == 0 ? "" : "  DIGESTS DIFFER");
}

}  // namespace

int main() {
    BenchAes();
    BenchMd5();
    return 0;
}
