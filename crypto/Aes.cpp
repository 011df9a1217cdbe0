#include "crypto/Aes.h"

#include <stdio.h>
#include <string.h>

#include "foundation/Log.h"
#include "foundation/base.h"

std::atomic<int> mot_count{0};
std::atomic<int> aes_state_count{0};
std::atomic<int> aes_cipher_count{0};

namespace {

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1, bit by bit.
unsigned char Multiply(unsigned char a, unsigned char b) {
    unsigned char r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return r;
}

// The S-box from its definition: the multiplicative inverse followed by the
// affine transform of FIPS-197 5.1.1.
struct SBoxes {
    unsigned char forward[256];
    unsigned char inverse[256];
    SBoxes() {
        for (int i = 0; i < 256; i++) {
            unsigned char inv = 0;
            for (int j = 1; j < 256 && i != 0; j++)
                if (Multiply((unsigned char)i, (unsigned char)j) == 1) {
                    inv = (unsigned char)j;
                    break;
                }
            unsigned char s = 0x63;
            for (int bit = 0; bit < 8; bit++) {
                int v = ((inv >> bit) ^ (inv >> ((bit + 4) % 8)) ^ (inv >> ((bit + 5) % 8)) ^
                         (inv >> ((bit + 6) % 8)) ^ (inv >> ((bit + 7) % 8))) &
                        1;
                s ^= (unsigned char)(v << bit);
            }
            forward[i] = s;
            inverse[s] = (unsigned char)i;
        }
    }
};

const SBoxes& Boxes() {
    static const SBoxes boxes;
    return boxes;
}

void LoadBytes(aes_state* s, const unsigned char* bytes) {
    for (int k = 0; k < 16; k++) s->at(k) = bytes[k];
}

}  // namespace

unsigned char xtime(unsigned char b) {
    return (unsigned char)((b << 1) ^ ((b & 0x80) ? 0x1b : 0x00));
}

// ---- mot -----------------------------------------------------------------

mot::mot() : b(new unsigned char[4]()) {
    mot_count++;
}

mot::mot(const mot& other) : b(new unsigned char[4]) {
    memcpy(b, other.b, 4);
    mot_count++;
}

mot& mot::operator=(const mot& other) {
    memcpy(b, other.b, 4);
    return *this;
}

mot::~mot() {
    delete[] b;
    mot_count--;
}

void mot::Xor(const mot* other) {
    for (int i = 0; i < 4; i++) b[i] ^= other->b[i];
}

void mot::print(char* out) const {
    for (int i = 0; i < 4; i++) {
        out[2 * i] = sethex(b[i] >> 4);
        out[2 * i + 1] = sethex(b[i] & 0xf);
    }
    out[8] = 0;
}

// ---- aes_state -----------------------------------------------------------

aes_state::aes_state() {
    aes_state_count++;
}

aes_state::aes_state(const aes_state& other) {
    for (int i = 0; i < 4; i++) w[i] = other.w[i];
    aes_state_count++;
}

aes_state& aes_state::operator=(const aes_state& other) {
    for (int i = 0; i < 4; i++) w[i] = other.w[i];
    return *this;
}

aes_state::aes_state(const char* text, bool isHex) {
    aes_state_count++;
    set_Int8(text, isHex);
}

aes_state::~aes_state() {
    aes_state_count--;
}

void aes_state::set_Int8(const char* text, bool isHex) {
    for (int k = 0; k < 16; k++) {
        if (isHex)
            at(k) = (unsigned char)(gethex(text[2 * k]) << 4 | gethex(text[2 * k + 1]));
        else
            at(k) = (unsigned char)text[k];
    }
}

void aes_state::get_Int8(char* out) const {
    for (int k = 0; k < 16; k++) out[k] = (char)at(k);
}

void aes_state::print_matrix() const {
    for (int row = 0; row < 4; row++)
        PrintScreen("%02x %02x %02x %02x\n", w[0][row], w[1][row], w[2][row], w[3][row]);
}

void aes_state::print_line() const {
    char text[33];
    for (int i = 0; i < 4; i++) w[i].print(text + 8 * i);
    PrintScreen("%s\n", text);
}

void aes_state::print_Int8() const {
    for (int k = 0; k < 16; k++) PrintScreen("%u ", at(k));
    PrintScreen("\n");
}

// ---- aes_cipher ----------------------------------------------------------

aes_cipher::aes_cipher(const char* keyText) : hardware(AesHardwareEnabled()) {
    aes_cipher_count++;
    // The text is read up to its NUL at most; missing digits count as 0.
    char digits[33];
    memset(digits, '0', 32);
    digits[32] = 0;
    if (keyText) {
        size_t n = strnlen(keyText, 32);
        memcpy(digits, keyText, n);
    }
    KeyExpansion(aes_state(digits, true));
}

aes_cipher::~aes_cipher() {
    aes_cipher_count--;
}

void aes_cipher::RotWord(mot* m) {
    unsigned char first = (*m)[0];
    (*m)[0] = (*m)[1];
    (*m)[1] = (*m)[2];
    (*m)[2] = (*m)[3];
    (*m)[3] = first;
}

unsigned char aes_cipher::SubByte(unsigned char b) {
    return Boxes().forward[b];
}
unsigned char aes_cipher::InvSubByte(unsigned char b) {
    return Boxes().inverse[b];
}

void aes_cipher::SubWord(mot* m) {
    for (int i = 0; i < 4; i++) (*m)[i] = SubByte((*m)[i]);
}

void aes_cipher::InvSubWord(mot* m) {
    for (int i = 0; i < 4; i++) (*m)[i] = InvSubByte((*m)[i]);
}

// FIPS-197 5.2 with Nk = 4, Nr = 10: 44 words.
void aes_cipher::KeyExpansion(const aes_state& key) {
    for (int i = 0; i < 4; i++) round_key[i] = key.w[i];
    unsigned char rcon = 0x01;
    for (int i = 4; i < 44; i++) {
        mot temp = round_key[i - 1];
        if (i % 4 == 0) {
            RotWord(&temp);
            SubWord(&temp);
            temp[0] ^= rcon;
            rcon = xtime(rcon);
        }
        temp.Xor(&round_key[i - 4]);
        round_key[i] = temp;
    }
    if (AesHardwareAvailable()) {
        unsigned char schedule[44 * 4];
        for (int i = 0; i < 44; i++) memcpy(schedule + 4 * i, round_key[i].b, 4);
        hw.SetKey(schedule, 10);
    }
}

void aes_cipher::AddRoundKey(int round) {
    for (int c = 0; c < 4; c++) state.w[c].Xor(&round_key[4 * round + c]);
}

void aes_cipher::SubBytes() {
    for (int c = 0; c < 4; c++) SubWord(&state.w[c]);
}

void aes_cipher::InvSubBytes() {
    for (int c = 0; c < 4; c++) InvSubWord(&state.w[c]);
}

// Row r moves r columns to the left.
void aes_cipher::ShiftRows() {
    for (int row = 1; row < 4; row++) {
        unsigned char line[4];
        for (int c = 0; c < 4; c++) line[c] = state.w[(c + row) % 4][row];
        for (int c = 0; c < 4; c++) state.w[c][row] = line[c];
    }
}

void aes_cipher::InvShiftRows() {
    for (int row = 1; row < 4; row++) {
        unsigned char line[4];
        for (int c = 0; c < 4; c++) line[(c + row) % 4] = state.w[c][row];
        for (int c = 0; c < 4; c++) state.w[c][row] = line[c];
    }
}

void aes_cipher::MixColumns() {
    for (int c = 0; c < 4; c++) {
        mot& col = state.w[c];
        unsigned char a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = (unsigned char)(xtime(a0) ^ (xtime(a1) ^ a1) ^ a2 ^ a3);
        col[1] = (unsigned char)(a0 ^ xtime(a1) ^ (xtime(a2) ^ a2) ^ a3);
        col[2] = (unsigned char)(a0 ^ a1 ^ xtime(a2) ^ (xtime(a3) ^ a3));
        col[3] = (unsigned char)((xtime(a0) ^ a0) ^ a1 ^ a2 ^ xtime(a3));
    }
}

void aes_cipher::InvMixColumns() {
    for (int c = 0; c < 4; c++) {
        mot& col = state.w[c];
        unsigned char a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
        col[0] = (unsigned char)(Multiply(a0, 14) ^ Multiply(a1, 11) ^ Multiply(a2, 13) ^ Multiply(a3, 9));
        col[1] = (unsigned char)(Multiply(a0, 9) ^ Multiply(a1, 14) ^ Multiply(a2, 11) ^ Multiply(a3, 13));
        col[2] = (unsigned char)(Multiply(a0, 13) ^ Multiply(a1, 9) ^ Multiply(a2, 14) ^ Multiply(a3, 11));
        col[3] = (unsigned char)(Multiply(a0, 11) ^ Multiply(a1, 13) ^ Multiply(a2, 9) ^ Multiply(a3, 14));
    }
}

// FIPS-197 5.1, Figure 5.
void aes_cipher::encrypt(aes_state* s) {
    state = *s;
    AddRoundKey(0);
    for (int round = 1; round < 10; round++) {
        SubBytes();
        ShiftRows();
        MixColumns();
        AddRoundKey(round);
    }
    SubBytes();
    ShiftRows();
    AddRoundKey(10);
    *s = state;
}

// FIPS-197 5.3, Figure 12.
void aes_cipher::decrypt(aes_state* s) {
    state = *s;
    AddRoundKey(10);
    for (int round = 9; round > 0; round--) {
        InvShiftRows();
        InvSubBytes();
        AddRoundKey(round);
        InvMixColumns();
    }
    InvShiftRows();
    InvSubBytes();
    AddRoundKey(0);
    *s = state;
}

void aes_cipher::encrypt(char* data, int length) {
    if (hardware) {
        if (length >= 16) hw.Encrypt((unsigned char*)data, (size_t)(length / 16));
        return;
    }
    aes_state block;
    for (int at = 0; at + 16 <= length; at += 16) {
        LoadBytes(&block, (const unsigned char*)data + at);
        encrypt(&block);
        block.get_Int8(data + at);
    }
}

void aes_cipher::decrypt(char* data, int length) {
    if (hardware) {
        if (length >= 16) hw.Decrypt((unsigned char*)data, (size_t)(length / 16));
        return;
    }
    aes_state block;
    for (int at = 0; at + 16 <= length; at += 16) {
        LoadBytes(&block, (const unsigned char*)data + at);
        decrypt(&block);
        block.get_Int8(data + at);
    }
}
