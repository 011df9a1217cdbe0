// Cost of the name-derived RSA pairs and of a complete anonymous handshake
// over loopback, with the per-name cache of derived pairs cleared before
// every handshake (each side derives both pairs again) and kept (the
// agent's normal running state).
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "BenchSupport.h"
#include "core/Globals.h"
#include "crypto/Rsa.h"
#include "records/Config.h"
#include "transport/Sock.h"

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}

const int kDerivations = 20;
const int kHandshakes = 20;

// The accepting side: `total` connections, the cache cleared before each of
// the first `uncached`.
void Serve(Sock* listener, int total, int uncached) {
    snprintf(config->name, sizeof(config->name), "bench-accepting");
    for (int i = 0; i < total; i++) {
        Sock* s = listener->Accept(true);
        if (!s) _exit(2);
        s->SetTimeout(30);
        s->quiet = true;
        if (i < uncached) ClearPasswordKeyCache();
        s->Authenticate();
        s->connected = false;
        delete s;
    }
    _exit(0);
}

// Average milliseconds of `count` connect + Identify rounds.
double Handshakes(int port, int count, bool clearCache, int* failures) {
    double total = 0;
    for (int i = 0; i < count; i++) {
        if (clearCache) ClearPasswordKeyCache();
        Sock s(AF_INET, SOCK_STREAM, 0);
        s.SetTimeout(30);
        s.quiet = true;
        double t0 = Now();
        bool ok = false;
        try {
            ok = s.Connect("127.0.0.1", port) && s.Identify();
        } catch (SocketError&) {
            ReleaseSocketError();
        }
        total += Now() - t0;
        if (!ok || !s.aes) ++*failures;
        s.connected = false;
    }
    return total * 1000 / count;
}

}  // namespace

int main() {
    // Results go to the real standard output; the agent's own log lines
    // (one per RSA operation) are silenced.
    FILE* out = fdopen(dup(1), "w");
    if (!out || !freopen("/dev/null", "w", stdout)) return 1;
    char dir[] = "/tmp/bench_identity.XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0) return 1;  // no key files here: anonymous
    config = new Config();

    double t0 = Now();
    for (int i = 0; i < kDerivations; i++) {
        RSAKey e, d;
        GeneratePasswordKeyUncached(&e, &d, ("bench-" + std::to_string(i)).c_str());
    }
    double derive = (Now() - t0) * 1000 / kDerivations;

    RSAKey e, d;
    GeneratePasswordKey(&e, &d, "bench-cached");
    t0 = Now();
    const int hits = 1000;
    for (int i = 0; i < hits; i++) GeneratePasswordKey(&e, &d, "bench-cached");
    double hit = (Now() - t0) * 1000 / hits;

    Sock listener(AF_INET, SOCK_STREAM, 0);
    if (!listener.Bind(0, "127.0.0.1") || !listener.Listen()) return 1;
    fflush(out);
    pid_t pid = fork();
    if (pid == 0) Serve(&listener, 2 * kHandshakes, kHandshakes);
    listener.Close();
    snprintf(config->name, sizeof(config->name), "bench-connecting");
    int failures = 0;
    double before = Handshakes(listener.port, kHandshakes, true, &failures);
    double after = Handshakes(listener.port, kHandshakes, false, &failures);
    int status = 0;
    waitpid(pid, &status, 0);

    fprintf(out, "GeneratePasswordKey (derivation): %.2f ms per pair (%d names)\n", derive, kDerivations);
    fprintf(out, "GeneratePasswordKey (cached):     %.4f ms per pair\n", hit);
    fprintf(out, "anonymous handshake over loopback, pairs derived every time: %.2f ms\n", before);
    fprintf(out, "anonymous handshake over loopback, pairs cached per name:    %.2f ms (%.1fx)\n", after,
            after > 0 ? before / after : 0.0);
    if (failures) fprintf(out, "handshakes failed: %d\n", failures);
    fclose(out);
    if (chdir("/") == 0) nftw(dir, RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
    return failures ? 1 : 0;
}
