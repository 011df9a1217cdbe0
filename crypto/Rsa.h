// Textbook RSA over GMP integers: the key record, random and text-derived
// key pairs, and the raw exponentiation used by the handshake and the key
// files.
//
// Threads: RSAKey objects belong to one thread. Every exponentiation goes
// through RSACrypt, which holds "mutex_rsa" for the whole operation. Key
// generation uses its own random state per call and takes no lock (the
// derived-pair cache has its own private lock).
#pragma once

#include <gmp.h>
#include <stddef.h>

#include <atomic>
#include <memory>
#include <string>

extern std::atomic<int> rsa_key_count;

class RSAKey {
  public:
    RSAKey();
    ~RSAKey();
    RSAKey(const RSAKey&) = delete;
    RSAKey& operator=(const RSAKey&) = delete;

    // Lower-case hexadecimal key text into `out` (`size` bytes, NUL
    // included). False, with `out` emptied, when the text does not fit.
    bool GetExponent(char* out, size_t size) const;
    bool GetModulo(char* out, size_t size) const;
    std::string ExponentText() const;
    std::string ModuloText() const;

    // Parse key text (base 16, hexadecimal digits only, no sign or blank).
    // False for any other text; the integer is then left unchanged.
    bool SetExponent(const char* text);
    bool SetModulo(const char* text);
    void SetExponent(const mpz_t value);
    void SetModulo(const mpz_t value);

    size_t GetExponentSize(int base) const;
    size_t GetModuloSize(int base) const;

    // Kept for callers; the agent itself never needs them.
    void PrintKey() const;
    bool IsValid() const { return false; }

    // The modulus's two prime factors, when known (name-derived pairs keep
    // them): exponentiations then run on each factor and are recombined
    // (Chinese remainders), with results identical to the plain form and
    // about three times faster. Ignored, leaving the plain form, unless
    // p * q is the modulus. Every Set* call above forgets them.
    void SetFactors(const mpz_t p, const mpz_t q);
    bool HasFactors() const { return factors_ != nullptr; }
    // result = message^exponent mod modulo, in the fastest form the key
    // allows; the caller checks 0 <= message <= modulo and modulo > 0.
    void Power(mpz_t result, const mpz_t message) const;

    mpz_t exponent;
    mpz_t modulo;

  private:
    struct Factors;
    struct FactorsDeleter {
        void operator()(Factors* f) const;
    };
    std::unique_ptr<Factors, FactorsDeleter> factors_;
};

// Lower-case hexadecimal text of `value` (a leading '-' when negative).
std::string IntegerToHex(const mpz_t value);

// A random pair with a 1024-bit modulus: `publicKey` gets (e, n) and
// `privateKey` (d, n). Seeded from the clock in seconds.
void GenerateKeyPair(RSAKey* publicKey, RSAKey* privateKey);

// The pair derived from `text` alone, identical to the one the server
// derives: `first` gets (e, n), `second` (d, n). Results are cached per text
// (a pure function of it), so repeated handshakes with the same names do not
// search for primes again. Both keys keep the factors (SetFactors).
void GeneratePasswordKey(RSAKey* first, RSAKey* second, const char* text);
// The same derivation without the cache (benchmarks and tests).
void GeneratePasswordKeyUncached(RSAKey* first, RSAKey* second, const char* text);
// Forgets every cached derived pair.
void ClearPasswordKeyCache();

// result = message^exponent mod modulus when 0 <= message <= modulus; false
// otherwise (result untouched). A key without a modulus, or with a negative
// exponent, refuses every message.
bool RSACrypt(mpz_t result, const mpz_t message, RSAKey* key);
// The same on a hexadecimal text, in place in a buffer of `size` bytes. A
// refused operation, a text that is not hexadecimal, or a result that would
// not fit in `size` leaves `text` unchanged and returns false.
bool RSACrypt(char* text, size_t size, RSAKey* key);
// RSACrypt(text, size, first) then RSACrypt(text, size, second), with one
// conversion from text and one back: the same result, the same log lines.
void RSACryptTwice(char* text, size_t size, RSAKey* first, RSAKey* second);
