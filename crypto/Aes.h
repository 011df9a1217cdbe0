// A step-by-step AES-128 (FIPS-197) that follows the standard's
// description: state words, round-key words, one method per step. It is the
// readable reference the diagnostics compare with aes_cipher_vetrak; it
// gives the same results and is not used on traffic. Its bulk ECB runs on
// the processor's AES instructions where they exist (AesHardware.h), as
// aes_cipher_vetrak's does; the steps and the one-state operations stay
// step by step.
//
// Threads: objects belong to one user; the S-box tables are built once,
// thread-safely, on first use.
#pragma once

#include <stdint.h>

#include <atomic>

#include "crypto/AesHardware.h"

extern std::atomic<int> mot_count;
extern std::atomic<int> aes_state_count;
extern std::atomic<int> aes_cipher_count;

// Multiplication by x (i.e. by 2) in GF(2^8).
unsigned char xtime(unsigned char b);

// One 4-byte word, owned.
class mot {
  public:
    mot();
    mot(const mot& other);
    mot& operator=(const mot& other);
    ~mot();

    void Xor(const mot* other);
    // Writes the word as 8 hexadecimal digits and a NUL (9 bytes).
    void print(char* out) const;
    unsigned char& operator[](int i) { return b[i]; }
    unsigned char operator[](int i) const { return b[i]; }

    unsigned char* b;
};

// The 16-byte state as four column words: byte k is byte k % 4 of word
// k / 4, so a block fills it in order.
class aes_state {
  public:
    aes_state();
    aes_state(const aes_state& other);
    aes_state& operator=(const aes_state& other);
    // 16 raw bytes, or 32 hexadecimal digits when `isHex`.
    aes_state(const char* text, bool isHex);
    ~aes_state();

    void set_Int8(const char* text, bool isHex);
    void get_Int8(char* out) const;  // 16 raw bytes
    unsigned char& at(int k) { return w[k / 4][k % 4]; }
    unsigned char at(int k) const { return w[k / 4][k % 4]; }

    // Debug printers (console).
    void print_matrix() const;  // four rows of four bytes
    void print_line() const;    // 32 hexadecimal digits
    void print_Int8() const;    // the 16 byte values in decimal

    mot w[4];
};

class aes_cipher {
  public:
    // The 32 hexadecimal digits of `keyText` are the key (callers check the
    // text with IsValidAesKey first).
    explicit aes_cipher(const char* keyText);
    ~aes_cipher();
    aes_cipher(const aes_cipher&) = delete;
    aes_cipher& operator=(const aes_cipher&) = delete;

    // ECB over whole 16-byte blocks, in place; the tail is left as it is.
    // On the instructions when `hardware`, else step by step.
    void encrypt(char* data, int length);
    void decrypt(char* data, int length);
    void encrypt(aes_state* s);
    void decrypt(aes_state* s);

    // The FIPS-197 steps, on `state` (rounds 0..10 for AddRoundKey).
    void AddRoundKey(int round);
    void SubBytes();
    void InvSubBytes();
    void ShiftRows();
    void InvShiftRows();
    void MixColumns();
    void InvMixColumns();
    // Also keys `hw` when the processor has the instructions.
    void KeyExpansion(const aes_state& key);
    static void RotWord(mot* m);
    static void SubWord(mot* m);
    static void InvSubWord(mot* m);
    static unsigned char SubByte(unsigned char b);
    static unsigned char InvSubByte(unsigned char b);

    // Diagnostic: checks the FIPS-197 example and prints the throughput and
    // the cost of each step.
    void benchmark();

    mot round_key[44];
    aes_state state;
    // As in aes_cipher_vetrak: AesHardwareEnabled() at construction; may be
    // changed to compare the paths, but set only where AesHardwareAvailable().
    bool hardware;
    AesHardware hw;
};
