// Cost of the name-derived RSA pairs and of a complete anonymous handshake
// over loopback, with the per-name cache of derived pairs cleared before
// every handshake (each side derives both pairs again) and kept (the
// agent's normal running state). The figure: a handshake with cached pairs
// against its modular exponentiations alone (the same ten, on the same
// keys, with plain mpz_powm), five alternated runs.
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

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
const int kHandshakes = 20;  // per run

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
            ok = s.Bind(0, "127.0.0.2") && s.Connect("127.0.0.1", port) && s.Identify();
        } catch (SocketError&) {
            ReleaseSocketError();
        }
        total += Now() - t0;
        if (!ok || !s.aes) ++*failures;
        s.connected = false;
    }
    return total * 1000 / count;
}

// Average milliseconds of the exponentiations one handshake performs, in its
// order: the accepting side makes the challenge and checks its way back
// (four), the connecting side decodes and encodes it again (four), the
// accepting side decodes the answer (two).
double Exponentiations(int count) {
    RSAKey ae, ad, ce, cd;
    GeneratePasswordKey(&ae, &ad, "bench-accepting");
    GeneratePasswordKey(&ce, &cd, "bench-connecting");
    mpz_t r, x, y;
    mpz_inits(r, x, y, nullptr);
    double t0 = Now();
    for (int i = 0; i < count; i++) {
        mpz_set_ui(r, 0x5a5a5u + (unsigned)i);
        mpz_powm(x, r, ad.exponent, ad.modulo);
        mpz_powm(x, x, ce.exponent, ce.modulo);
        mpz_powm(y, r, ce.exponent, ce.modulo);
        mpz_powm(y, y, ad.exponent, ad.modulo);
        mpz_powm(y, x, cd.exponent, cd.modulo);
        mpz_powm(y, y, ae.exponent, ae.modulo);
        mpz_powm(y, y, cd.exponent, cd.modulo);
        mpz_powm(y, y, ae.exponent, ae.modulo);
        mpz_powm(y, y, ad.exponent, ad.modulo);
        mpz_powm(y, y, ce.exponent, ce.modulo);
    }
    double ms = (Now() - t0) * 1000 / count;
    mpz_clears(r, x, y, nullptr);
    return ms;
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

    int runs = kFigureRuns, per_run = QuickRun() ? 10 : kHandshakes;
    Sock listener(AF_INET, SOCK_STREAM, 0);
    if (!listener.Bind(0, "127.0.0.1") || !listener.Listen()) return 1;
    fflush(out);
    pid_t pid = fork();
    if (pid == 0) Serve(&listener, per_run * (1 + runs), per_run);
    listener.Close();
    snprintf(config->name, sizeof(config->name), "bench-connecting");
    int failures = 0;
    double before = Handshakes(listener.port, per_run, true, &failures);
    std::vector<double> cached, powm;
    for (int run = 0; run < runs; run++) {
        cached.push_back(Handshakes(listener.port, per_run, false, &failures));
        powm.push_back(Exponentiations(per_run));
    }
    int status = 0;
    waitpid(pid, &status, 0);

    fprintf(out, "GeneratePasswordKey (derivation): %.2f ms per pair (%d names)\n", derive, kDerivations);
    fprintf(out, "GeneratePasswordKey (cached):     %.4f ms per pair\n", hit);
    fprintf(out, "anonymous handshake over loopback, pairs derived every time: %.2f ms\n", before);
    fprintf(out, "anonymous handshake over loopback, pairs cached per name:    %.2f ms\n", Median(cached));
    fprintf(out, "its ten modular exponentiations alone (plain mpz_powm):      %.2f ms\n", Median(powm));
    Figure("handshake_cached_vs_powm", cached, "ms", powm, out);
    if (failures) fprintf(out, "handshakes failed: %d\n", failures);
    fclose(out);
    if (chdir("/") == 0) nftw(dir, RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
    return failures ? 1 : 0;
}
