#include "crypto/Rsa.h"

#include <pthread.h>
#include <string.h>
#include <time.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "core/Globals.h"
#include "foundation/Log.h"
#include "foundation/Text.h"
#include "foundation/Threads.h"
#include "foundation/base.h"

std::atomic<int> rsa_key_count{0};

std::string IntegerToHex(const mpz_t value) {
    // Base 16 is a power of two, so the size is exact (plus a sign).
    std::string text(mpz_sizeinbase(value, 16) + 2, '\0');
    mpz_get_str(&text[0], 16, value);
    text.resize(strlen(text.c_str()));
    return text;
}

namespace {

// "mutex_rsa" for one exponentiation; nothing to hold before the process
// globals exist (tools and benchmarks).
class RsaLock {
  public:
    RsaLock() : held_(mutex != nullptr) {
        if (held_) mutex_lock(mutex->mutex_rsa, "RSACrypt");
    }
    ~RsaLock() {
        if (held_) mutex_unlock(mutex->mutex_rsa, "RSACrypt");
    }

  private:
    bool held_;
};

bool CopyHex(const mpz_t value, char* out, size_t size) {
    if (!out || size == 0) return false;
    std::string text = IntegerToHex(value);
    if (text.size() + 1 > size) {
        out[0] = 0;
        return false;
    }
    memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

bool ParseHex(mpz_t out, const char* text) {
    if (!IsHexText(text)) return false;
    return mpz_set_str(out, text, 16) == 0;
}

// Draws `bits`-bit integers until one is a probable prime.
void DrawPrime(mpz_t out, gmp_randstate_t state, unsigned long bits, bool exactSize) {
    do {
        mpz_urandomb(out, state, bits);
    } while ((exactSize && mpz_sizeinbase(out, 2) != bits) || mpz_probab_prime_p(out, 10) == 0);
}

// Draws 511-bit exponents until one is coprime to `lambda` and invertible.
void DrawExponents(mpz_t e, mpz_t d, gmp_randstate_t state, const mpz_t lambda) {
    mpz_t g;
    mpz_init(g);
    for (;;) {
        mpz_urandomb(e, state, 511);
        mpz_gcd(g, e, lambda);
        if (mpz_cmp_ui(g, 1) == 0 && mpz_invert(d, e, lambda) != 0) break;
    }
    mpz_clear(g);
}

void Lambda(mpz_t lambda, const mpz_t p, const mpz_t q) {
    mpz_t p1, q1;
    mpz_inits(p1, q1, nullptr);
    mpz_sub_ui(p1, p, 1);
    mpz_sub_ui(q1, q, 1);
    mpz_lcm(lambda, p1, q1);
    mpz_clears(p1, q1, nullptr);
}

// Derived pairs by text, as numbers: a cache hit converts nothing. Names
// arrive from the network, so the cache is bounded: the oldest entry goes
// first.
struct DerivedPair {
    DerivedPair() { mpz_inits(e, d, n, p, q, nullptr); }
    ~DerivedPair() { mpz_clears(e, d, n, p, q, nullptr); }
    DerivedPair(const DerivedPair&) = delete;
    DerivedPair& operator=(const DerivedPair&) = delete;
    mpz_t e, d, n, p, q;
};
const size_t kPairCacheLimit = 256;
std::mutex pair_cache_lock;
std::map<std::string, std::shared_ptr<const DerivedPair>> pair_cache;
std::deque<std::string> pair_cache_order;

}  // namespace

RSAKey::RSAKey() {
    mpz_init(exponent);
    mpz_init(modulo);
    rsa_key_count++;
}

RSAKey::~RSAKey() {
    mpz_clear(exponent);
    mpz_clear(modulo);
    rsa_key_count--;
}

bool RSAKey::GetExponent(char* out, size_t size) const {
    return CopyHex(exponent, out, size);
}
bool RSAKey::GetModulo(char* out, size_t size) const {
    return CopyHex(modulo, out, size);
}
std::string RSAKey::ExponentText() const {
    return IntegerToHex(exponent);
}
std::string RSAKey::ModuloText() const {
    return IntegerToHex(modulo);
}

bool RSAKey::SetExponent(const char* text) {
    mpz_t v;
    mpz_init(v);
    bool ok = ParseHex(v, text);
    if (ok) mpz_set(exponent, v), factors_.reset();
    mpz_clear(v);
    return ok;
}

bool RSAKey::SetModulo(const char* text) {
    mpz_t v;
    mpz_init(v);
    bool ok = ParseHex(v, text);
    if (ok) mpz_set(modulo, v), factors_.reset();
    mpz_clear(v);
    return ok;
}

void RSAKey::SetExponent(const mpz_t value) {
    mpz_set(exponent, value);
    factors_.reset();
}
void RSAKey::SetModulo(const mpz_t value) {
    mpz_set(modulo, value);
    factors_.reset();
}

// p, q, the exponent reduced modulo p-1 and q-1, and q's inverse modulo p.
struct RSAKey::Factors {
    Factors() { mpz_inits(p, q, dp, dq, qinv, nullptr); }
    ~Factors() { mpz_clears(p, q, dp, dq, qinv, nullptr); }
    mpz_t p, q, dp, dq, qinv;
};

void RSAKey::FactorsDeleter::operator()(Factors* f) const {
    delete f;
}

void RSAKey::SetFactors(const mpz_t p, const mpz_t q) {
    factors_.reset();
    std::unique_ptr<Factors, FactorsDeleter> f(new Factors);
    mpz_mul(f->p, p, q);
    if (mpz_cmp_ui(p, 2) <= 0 || mpz_cmp_ui(q, 2) <= 0 || mpz_cmp(p, q) == 0 || mpz_cmp(f->p, modulo) != 0 ||
        mpz_sgn(exponent) < 0)
        return;
    mpz_set(f->p, p);
    mpz_set(f->q, q);
    mpz_sub_ui(f->dp, p, 1);
    mpz_mod(f->dp, exponent, f->dp);
    mpz_sub_ui(f->dq, q, 1);
    mpz_mod(f->dq, exponent, f->dq);
    // A reduced exponent of 0 would turn 0^d into 1: keep the plain form.
    if (mpz_sgn(f->dp) == 0 || mpz_sgn(f->dq) == 0 || mpz_invert(f->qinv, q, p) == 0) return;
    factors_ = std::move(f);
}

void RSAKey::Power(mpz_t result, const mpz_t message) const {
    if (!factors_) {
        mpz_powm(result, message, exponent, modulo);
        return;
    }
    // m1 = m^dp mod p, m2 = m^dq mod q, result = m2 + q * (qinv * (m1 - m2) mod p).
    const Factors& f = *factors_;
    mpz_t m1, m2;
    mpz_inits(m1, m2, nullptr);
    mpz_mod(m1, message, f.p);
    mpz_powm(m1, m1, f.dp, f.p);
    mpz_mod(m2, message, f.q);
    mpz_powm(m2, m2, f.dq, f.q);
    mpz_sub(m1, m1, m2);
    mpz_mul(m1, m1, f.qinv);
    mpz_mod(m1, m1, f.p);
    mpz_mul(m1, m1, f.q);
    mpz_add(result, m1, m2);
    mpz_clears(m1, m2, nullptr);
}
size_t RSAKey::GetExponentSize(int base) const {
    return mpz_sizeinbase(exponent, base);
}
size_t RSAKey::GetModuloSize(int base) const {
    return mpz_sizeinbase(modulo, base);
}

void RSAKey::PrintKey() const {
    std::string e = ExponentText(), n = ModuloText();
    PrintMessage("Key:\texponent (%i): %s\n\tmodulo (%i): %s", (int)e.size(), e.c_str(), (int)n.size(),
                 n.c_str());
}

void GenerateKeyPair(RSAKey* publicKey, RSAKey* privateKey) {
    gmp_randstate_t state;
    gmp_randinit(state, GMP_RAND_ALG_DEFAULT, 128);
    gmp_randseed_ui(state, (unsigned long)time(nullptr));
    mpz_t p, q, n, lambda, e, d;
    mpz_inits(p, q, n, lambda, e, d, nullptr);
    mpz_urandomb(p, state, 512);
    gmp_randseed(state, p);
    for (;;) {
        DrawPrime(p, state, 512, true);
        gmp_randseed(state, p);
        DrawPrime(q, state, 512, false);
        mpz_mul(n, p, q);
        size_t bits = mpz_sizeinbase(n, 2);
        if (bits == 1024) break;
        PrintMessage("GenerateKeyPair: Bad n, %u", (unsigned)bits);
    }
    PrintMessage("GenerateKeyPair: Good n");
    Lambda(lambda, p, q);
    DrawExponents(e, d, state, lambda);
    if (publicKey) {
        publicKey->SetExponent(e);
        publicKey->SetModulo(n);
    }
    if (privateKey) {
        privateKey->SetExponent(d);
        privateKey->SetModulo(n);
    }
    mpz_clears(p, q, n, lambda, e, d, nullptr);
    gmp_randclear(state);
}

namespace {

// The derivation itself, into numbers.
void DerivePair(DerivedPair& out, const char* text) {
    PrintDebug("GeneratePasswordKey(%s)", text ? text : "");
    // The server derives the same pair from the same text: the generator,
    // its size parameter, the seeds and the order of the draws are fixed.
    gmp_randstate_t state;
    gmp_randinit(state, GMP_RAND_ALG_DEFAULT, 128);
    mpz_t lambda;
    mpz_init(lambda);
    gmp_randseed_ui(state, (unsigned long)CharToInt(text, true));
    DrawPrime(out.p, state, 512, false);
    gmp_randseed_ui(state, (unsigned long)CharToInt(text, false));
    DrawPrime(out.q, state, 512, false);
    mpz_mul(out.n, out.p, out.q);
    Lambda(lambda, out.p, out.q);
    DrawExponents(out.e, out.d, state, lambda);
    mpz_clear(lambda);
    gmp_randclear(state);
}

void LoadPair(const DerivedPair& pair, RSAKey* first, RSAKey* second) {
    if (first) {
        first->SetExponent(pair.e);
        first->SetModulo(pair.n);
        first->SetFactors(pair.p, pair.q);
    }
    if (second) {
        second->SetExponent(pair.d);
        second->SetModulo(pair.n);
        second->SetFactors(pair.p, pair.q);
    }
}

}  // namespace

void GeneratePasswordKeyUncached(RSAKey* first, RSAKey* second, const char* text) {
    DerivedPair pair;
    DerivePair(pair, text);
    LoadPair(pair, first, second);
}

void GeneratePasswordKey(RSAKey* first, RSAKey* second, const char* text) {
    std::string key = text ? text : "";
    std::shared_ptr<const DerivedPair> pair;
    {
        std::lock_guard<std::mutex> guard(pair_cache_lock);
        auto it = pair_cache.find(key);
        if (it != pair_cache.end()) pair = it->second;
    }
    if (!pair) {
        auto derived = std::make_shared<DerivedPair>();
        DerivePair(*derived, text);
        pair = derived;
        std::lock_guard<std::mutex> guard(pair_cache_lock);
        if (pair_cache.emplace(key, pair).second) {
            pair_cache_order.push_back(key);
            if (pair_cache_order.size() > kPairCacheLimit) {
                pair_cache.erase(pair_cache_order.front());
                pair_cache_order.pop_front();
            }
        }
    } else {
        PrintDebug("GeneratePasswordKey(%s)", key.c_str());
    }
    LoadPair(*pair, first, second);
}

void ClearPasswordKeyCache() {
    std::lock_guard<std::mutex> guard(pair_cache_lock);
    pair_cache.clear();
    pair_cache_order.clear();
}

namespace {

// The exponentiation itself; the caller holds "mutex_rsa".
bool CryptLocked(mpz_t result, const mpz_t message, RSAKey* key) {
    // mpz_powm divides by the modulus and inverts for negative exponents:
    // a key that was never loaded, or a hostile text, must not get there.
    if (mpz_sgn(key->modulo) <= 0 || mpz_sgn(key->exponent) < 0 || mpz_sgn(message) < 0) return false;
    if (mpz_cmp(message, key->modulo) > 0) return false;
    key->Power(result, message);
    return true;
}

}  // namespace

bool RSACrypt(mpz_t result, const mpz_t message, RSAKey* key) {
    if (!key) return false;
    RsaLock lock;
    PrintDebug("RSACrypt(mpz_t, mpz_t, RSAKey*)");
    if (!CryptLocked(result, message, key)) {
        PrintMessage("RSACrypt(mpz_t) Error: Message > key->modulo");
        return false;
    }
    PrintMessage("RSACrypt success");
    return true;
}

bool RSACrypt(char* text, size_t size, RSAKey* key) {
    if (!text || !key) return false;
    RsaLock lock;
    PrintDebug("RSACrypt(char*, RSAKey*)");
    mpz_t message, result;
    mpz_inits(message, result, nullptr);
    bool ok = ParseHex(message, text) && CryptLocked(result, message, key);
    if (ok) {
        // Only a result that fits replaces the text.
        std::string out = IntegerToHex(result);
        if (out.size() + 1 <= size) {
            memcpy(text, out.c_str(), out.size() + 1);
        } else {
            PrintError("RSACrypt(char*) Error: result of %u digits does not fit in %u bytes",
                       (unsigned)out.size(), (unsigned)size);
            ok = false;
        }
    }
    if (ok)
        PrintMessage("RSACrypt success");
    else
        PrintMessage("RSACrypt(char*) Error: Message > key->modulo");
    mpz_clears(message, result, nullptr);
    return ok;
}

void RSACryptTwice(char* text, size_t size, RSAKey* first, RSAKey* second) {
    if (!text) return;
    mpz_t value, result;
    mpz_inits(value, result, nullptr);
    bool parsed = ParseHex(value, text), changed = false;
    for (RSAKey* key : {first, second}) {
        if (!key) continue;
        RsaLock lock;
        // A result replaces the value only when its text would fit, as in
        // the text form.
        bool ok = parsed && CryptLocked(result, value, key);
        if (ok && mpz_sizeinbase(result, 16) + 1 > size) {
            PrintError("RSACrypt(char*) Error: result of %u digits does not fit in %u bytes",
                       (unsigned)mpz_sizeinbase(result, 16), (unsigned)size);
            ok = false;
        }
        if (ok) {
            mpz_swap(value, result);
            changed = true;
            PrintMessage("RSACrypt success");
        } else {
            PrintMessage("RSACrypt(char*) Error: Message > key->modulo");
        }
    }
    if (changed) mpz_get_str(text, 16, value);
    mpz_clears(value, result, nullptr);
}
