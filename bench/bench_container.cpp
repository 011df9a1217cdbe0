// The encrypted container, each figure beside a reference measured in the
// same run:
//   - CryptAES (plain chunks, with the stored-bytes digest) and DecryptAES
//     of a 256 MiB file against AES + MD5 of the same bytes in memory;
//   - CryptAES with compression of a 256 MiB text against compress2 level 1
//     over the same chunks in memory;
//   - peak resident size while encrypting a 1 GiB file, above the idle
//     agent.
// The throughput files live in /dev/shm when it has room, so that the disk's
// speed stays out of the figures. Beside each wall-clock rate is the rate per
// second of processor time (all threads), which other load on the machine
// disturbs less.
// Usage: bench_container [MiB for the throughput files, default 256]
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "BenchSupport.h"
#include "core/Globals.h"
#include "agent/Lifecycle.h"
#include "crypto/AesVetrak.h"
#include "crypto/ChunkZip.h"
#include "crypto/Container.h"
#include "crypto/Md5.h"
#include "foundation/FileOps.h"

namespace {

const char* const kKey = "7d41c9e2b05a36f8e1c4d7a2905b3e6f";

void WriteFile(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        exit(1);
    }
    fclose(f);
}

std::string Pseudorandom(size_t n) {
    std::string s(n, '\0');
    uint32_t x = 2463534242u;
    for (size_t i = 0; i + 4 <= n; i += 4) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        memcpy(&s[i], &x, 4);
    }
    return s;
}

// Log-like lines: what a compressed backup mostly sees.
std::string Text(size_t n) {
    std::string s;
    s.reserve(n + 200);
    char line[200];
    for (unsigned i = 0; s.size() < n; i++)
        s.append(line, (size_t)snprintf(line, sizeof(line),
                                        "2024-03-%02u 12:%02u:%02u host%03u sshd[%05u]: session %u opened for user u%u "
                                        "from 10.%u.%u.%u port %u\n",
                                        1 + i % 28, i % 60, (i / 7) % 60, i % 97, (i * 37) % 65536, i, i % 50,
                                        i % 256, (i / 3) % 256, (i / 11) % 256, 1024 + i % 60000));
    s.resize(n);
    return s;
}

// AES over every 16-byte block and MD5 of the result, 1 MiB at a time: the
// least work the plain container does per byte.
double AesMd5Reference(const std::string& bytes, bool decrypt) {
    std::vector<char> block(1 << 20);
    aes_cipher_vetrak cipher(kKey);
    double start = Now();
    MD5 md5;
    for (size_t at = 0; at < bytes.size(); at += block.size()) {
        size_t n = std::min(block.size(), bytes.size() - at);
        memcpy(block.data(), bytes.data() + at, n);
        if (decrypt)
            cipher.decrypt(block.data(), (int)n);
        else
            cipher.encrypt(block.data(), (int)n);
        md5.Process(block.data(), (int)n);
    }
    char out[33];
    md5.GetHash(out);
    return bytes.size() / 1e6 / (Now() - start);
}

double Rate(size_t bytes, double seconds) { return bytes / 1e6 / seconds; }

double CpuNow() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The runs of one measurement: the median wall-clock rate and rate per
// processor second.
struct Best {
    std::vector<double> walls, cpus;
    double wall = 0, cpu = 0;
    template <typename F>
    void Run(size_t bytes, F body) {
        double t = Now(), c = CpuNow();
        if (!body()) exit(1);
        walls.push_back(Rate(bytes, Now() - t));
        cpus.push_back(Rate(bytes, CpuNow() - c));
        wall = Median(walls);
        cpu = Median(cpus);
    }
};

void ThroughputPlain(const std::string& dir, size_t size) {
    std::string bytes = Pseudorandom(size);
    std::string source = dir + "/plain", target = dir + "/plain.aes", back = dir + "/plain.back";
    WriteFile(source, bytes);
    Best crypt, decrypt, reference, reference_decrypt;
    for (int run = 0; run < kFigureRuns; run++) {
        reference.Run(size, [&] { return AesMd5Reference(bytes, false) > 0; });
        reference_decrypt.Run(size, [&] { return AesMd5Reference(bytes, true) > 0; });
        MD5 digest;
        Unlink(target.c_str());
        crypt.Run(size, [&] { return CryptAESTo(source.c_str(), target.c_str(), kKey, false, &digest, nullptr); });
        unlink(back.c_str());
        decrypt.Run(size, [&] { return DecryptAES(target.c_str(), back.c_str(), kKey, false); });
    }
    printf("CryptAES plain, %zu MiB:     %7.1f MB/s, %7.1f MB per cpu-s   (AES + MD5 in memory: %7.1f MB/s, "
           "%7.1f per cpu-s; ratios %.2f, %.2f)\n",
           size >> 20, crypt.wall, crypt.cpu, reference.wall, reference.cpu, crypt.wall / reference.wall,
           crypt.cpu / reference.cpu);
    printf("DecryptAES plain, %zu MiB:   %7.1f MB/s, %7.1f MB per cpu-s   (AES decrypt + MD5 in memory: %7.1f MB/s, "
           "%7.1f per cpu-s; ratios %.2f, %.2f)\n",
           size >> 20, decrypt.wall, decrypt.cpu, reference_decrypt.wall, reference_decrypt.cpu,
           decrypt.wall / reference_decrypt.wall, decrypt.cpu / reference_decrypt.cpu);
    Figure("container_crypt_vs_aes_md5", crypt.walls, "MB/s", reference.walls);
    Figure("container_decrypt_vs_aes_md5", decrypt.walls, "MB/s", reference_decrypt.walls);
    unlink(source.c_str());
    unlink(back.c_str());
    Unlink(target.c_str());
}

void ThroughputCompressed(const std::string& dir, size_t size) {
    std::string text = Text(size);
    std::string source = dir + "/text", target = dir + "/text.aes", back = dir + "/text.back";
    WriteFile(source, text);
    unsigned count = 0;
    unsigned* table = CreateHeader(source.c_str(), '\n', count, kChunkMinimum);
    // compress2 level 1 over the same chunks, in memory.
    std::vector<unsigned char> out((size_t)(kChunkLargest * 1.1) + 64);
    size_t packed[2] = {0, 0};
    auto over_chunks = [&](auto compress, size_t& total) {
        size_t at = 0;
        total = 0;
        for (unsigned k = 0; k < count; k++) {
            unsigned long length = (unsigned long)(table[k] * 1.1) + 12;
            compress(out.data(), &length, (const unsigned char*)text.data() + at, table[k]);
            total += length;
            at += table[k] + 1;
        }
        return true;
    };
    ChunkDeflater deflater(1);
    Best crypt, decrypt, reference, reused;
    for (int run = 0; run < kFigureRuns; run++) {
        reference.Run(size, [&] {
            return over_chunks([](unsigned char* d, unsigned long* l, const unsigned char* s, unsigned n) {
                compress2(d, l, s, n, 1);
            }, packed[0]);
        });
        reused.Run(size, [&] {
            return over_chunks([&](unsigned char* d, unsigned long* l, const unsigned char* s, unsigned n) {
                deflater.Compress(d, l, s, n);
            }, packed[1]);
        });
        MD5 digest;
        Unlink(target.c_str());
        crypt.Run(size, [&] { return CryptAESTo(source.c_str(), target.c_str(), kKey, true, &digest, nullptr); });
        unlink(back.c_str());
        decrypt.Run(size, [&] { return DecryptAES(target.c_str(), back.c_str(), kKey, false); });
    }
    free(table);
    printf("CryptAES compressed text, %zu MiB, %u chunks: %7.1f MB/s, %7.1f MB per cpu-s   (compress2 level 1 over "
           "the same chunks: %7.1f MB/s, %7.1f per cpu-s; ratios %.2f, %.2f)\n",
           size >> 20, count, crypt.wall, crypt.cpu, reference.wall, reference.cpu, crypt.wall / reference.wall,
           crypt.cpu / reference.cpu);
    Figure("container_zip_vs_compress2", crypt.walls, "MB/s", reference.walls);
    printf("One reused deflate stream over the same chunks: %7.1f MB/s (%s output as compress2)\n", reused.wall,
           packed[0] == packed[1] ? "same" : "DIFFERENT");
    printf("DecryptAES compressed text:  %7.1f MB/s, %7.1f MB per cpu-s\n", decrypt.wall, decrypt.cpu);
    unlink(source.c_str());
    unlink(back.c_str());
    Unlink(target.c_str());
}

long StatusKiB(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    size_t n = strlen(field);
    while (fgets(line, sizeof(line), f))
        if (!strncmp(line, field, n)) value = atol(line + n);
    fclose(f);
    return value;
}

// In a child, so that the throughput buffers never count: the peak resident
// size while a 1 GiB file (256 MiB when quick; a sparse file of zeros: no
// newline, so every chunk is of the largest size) is encrypted, above the
// size before.
void PeakMemory(const std::string& dir, bool compress) {
    pid_t child = fork();
    if (child == 0) {
        std::string source = dir + "/gib", target = dir + "/gib.aes";
        int fd = open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ftruncate(fd, QuickRun() ? 256LL << 20 : 1LL << 30) != 0) _exit(1);
        close(fd);
        FILE* clear = fopen("/proc/self/clear_refs", "w");  // "5" resets the peak
        if (clear) fputs("5", clear), fclose(clear);
        long idle = StatusKiB("VmRSS:");
        MD5 digest;
        double t = Now();
        bool ok = CryptAESTo(source.c_str(), target.c_str(), kKey, compress, &digest, nullptr);
        double seconds = Now() - t;
        long peak = StatusKiB("VmHWM:");
        printf("Peak resident size encrypting %s%s: %ld KiB above idle (idle %ld KiB, limit 16384 KiB)%s, %.1f s\n",
               QuickRun() ? "256 MiB" : "1 GiB", compress ? " compressed" : "", peak - idle, idle, ok ? "" : "  FAILED", seconds);
        Figure(compress ? "container_zip_peak_above_idle" : "container_peak_above_idle",
               std::vector<double>{(double)(peak - idle)}, "KiB", std::vector<double>{16384});
        fflush(stdout);
        unlink(source.c_str());
        Unlink(target.c_str());
        _exit(ok ? 0 : 1);
    }
    int status;
    waitpid(child, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
    size_t mib = argc > 1 ? (size_t)atoi(argv[1]) : QuickRun() ? 32 : 256;
    if (mib == 0) return 2;
    char tmpl[] = "/tmp/zelbench.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string dir = tmpl;
    std::string program = dir + "/zelagent";
    char* args[] = {&program[0], const_cast<char*>("--bench"), nullptr};
    InitVariables(2, args);
    PeakMemory(dir, false);
    PeakMemory(dir, true);
    std::string files = dir;
    struct statvfs fs;
    char shm[] = "/dev/shm/zelbench.XXXXXX";
    if (statvfs("/dev/shm", &fs) == 0 && (double)fs.f_bavail * fs.f_frsize > 6.0 * (mib << 20) && mkdtemp(shm))
        files = shm;
    printf("Throughput files in %s\n", files.c_str());
    ThroughputPlain(files, mib << 20);
    ThroughputCompressed(files, mib << 20);
    if (files != dir) rmdir(files.c_str());
    std::string clean = "rm -rf '" + dir + "'";
    return system(clean.c_str()) == 0 ? 0 : 1;
}
