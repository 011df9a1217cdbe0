// Cipher and digest throughput, each beside a reference measured in the
// same run: AES on the processor's instructions against the table code on
// the same 4 MiB buffer (with memcpy of that buffer for scale), MD5 of
// 256 MiB against the md5sum command on the same bytes in a file.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "crypto/AesHardware.h"
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

struct Spread {
    double median, low, high;
};

Spread Summarise(std::vector<double> rates) {
    std::sort(rates.begin(), rates.end());
    return {rates[rates.size() / 2], rates.front(), rates.back()};
}

// AES-128 ECB through aes_cipher_vetrak, table code against the processor's
// instructions on the same buffer. The runs alternate between the two paths
// so that both see the same load on a shared machine.
void BenchAes() {
    const size_t size = 4 << 20;
    const int repeat = QuickRun() ? 4 : 16;
    const int runs = kFigureRuns;
    const char* key = "2b7e151628aed2a6abf7158809cf4f3c";
    std::vector<char> buffer(size), copy(size);
    for (size_t i = 0; i < size; i++) buffer[i] = (char)(i * 7);
    double reference = Rate((double)size * repeat, 5, [&] {
        for (int r = 0; r < repeat; r++) {
            memcpy(copy.data(), buffer.data(), size);
            buffer[r] ^= copy[size - 1 - r];  // keeps the copies from being elided
        }
    });
    printf("memcpy of a 4 MiB buffer:                 %8.1f MB/s\n", reference);

    aes_cipher_vetrak table(key), hardware(key);
    table.hardware = false;
    bool available = AesHardwareAvailable();
    hardware.hardware = available;
    if (!available) printf("AES instructions: not available on this processor, table code only\n");

    // The two paths must agree before their speeds mean anything.
    std::vector<char> a(buffer), b(buffer);
    table.encrypt(a.data(), (int)size);
    hardware.encrypt(b.data(), (int)size);
    bool same = a == b;
    hardware.decrypt(a.data(), (int)size);
    table.decrypt(b.data(), (int)size);
    same = same && a == buffer && b == buffer;

    const char* names[2] = {"encrypt", "decrypt"};
    for (int direction = 0; direction < 2; direction++) {
        std::vector<double> tableRates, hardwareRates;
        for (int run = 0; run < runs; run++) {
            for (aes_cipher_vetrak* c : {&table, &hardware}) {
                double t0 = Now();
                for (int r = 0; r < repeat; r++) {
                    if (direction == 0)
                        c->encrypt(buffer.data(), (int)size);
                    else
                        c->decrypt(buffer.data(), (int)size);
                }
                double rate = (double)size * repeat / 1e6 / (Now() - t0);
                (c == &table ? tableRates : hardwareRates).push_back(rate);
            }
        }
        Spread t = Summarise(tableRates), h = Summarise(hardwareRates);
        printf(
            "aes_cipher_vetrak %s, 4 MiB buffers, median of %d: hardware %8.1f MB/s (%.0f-%.0f), table %7.1f "
            "MB/s (%.0f-%.0f), ratio %.2f%s\n",
            names[direction], runs, h.median, h.low, h.high, t.median, t.low, t.high, h.median / t.median,
            same ? "" : "  OUTPUTS DIFFER");
        Figure(direction == 0 ? "aes_hw_encrypt" : "aes_hw_decrypt", hardwareRates, "MB/s", tableRates);
    }
}

// MD5 of a buffer against md5sum on the same bytes in a file (page cache),
// runs alternated.
void BenchMd5() {
    const size_t size = (QuickRun() ? 64u : 256u) << 20;
    std::vector<char> buffer(size);
    unsigned seed = 12345;
    for (size_t i = 0; i < size; i += 4) {
        seed = seed * 1103515245u + 12345u;
        memcpy(&buffer[i], &seed, 4);
    }
    char path[] = "/tmp/zelbench_md5.XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        printf("md5: no temporary file\n");
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
    char ours[33] = "", theirs[64] = "";
    auto md5sum = [&] {
        double t0 = Now();
        FILE* p = popen(command.c_str(), "r");
        if (!p) return 0.0;
        if (!fgets(theirs, sizeof(theirs), p)) theirs[0] = 0;
        pclose(p);
        return (double)size / 1e6 / (Now() - t0);
    };
    md5sum();  // warms the page cache
    std::vector<double> rates, references;
    for (int run = 0; run < kFigureRuns; run++) {
        double t0 = Now();
        MD5 m;
        m.Process(buffer.data(), (int)size);
        m.GetHash(ours);
        rates.push_back((double)size / 1e6 / (Now() - t0));
        references.push_back(md5sum());
    }
    unlink(path);
    theirs[32] = 0;
    printf("MD5 of %zu MiB: %8.1f MB/s, md5sum on the same bytes in page cache %8.1f MB/s%s\n", size >> 20,
           Median(rates), Median(references), strcmp(ours, theirs) == 0 ? "" : "  DIGESTS DIFFER");
    Figure("md5_vs_md5sum", rates, "MB/s", references);
}

}  // namespace

int main() {
    BenchAes();
    BenchMd5();
    return 0;
}
