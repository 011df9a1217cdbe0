// The challenge handshake that opens every TCP connection: greetings and
// names, an RSA proof in each direction, then a fresh AES key from the
// accepting side that encrypts the rest of the connection. The Sock members
// Identify/AnswerChallenge (connecting side) and Authenticate/SendChallenge
// (accepting side) are built on the helpers below.
//
// Raw messages, strictly alternating:
//   connecting: "hello"            accepting: "hello"
//   connecting: its name           accepting: the name it answers with
//   connecting: "login" | "close"  accepting: "connected" (trusted) | challenge
//   connecting: response           accepting: "connected" | nothing
//   connecting: "key"              accepting: 32 hexadecimal digits
//
// With d/e the private/public exponents of the accepting (acc) and the
// connecting (con) side, the challenge is (r^d_acc)^e_con and the response
// (r^d_con)^e_acc. An operation whose message exceeds the modulus is refused
// and leaves the text unchanged; the other side refuses the matching step,
// which is what keeps the exchange consistent when the moduli differ.
//
// Threads: a handshake runs in the thread that owns its Sock. RSA work holds
// "mutex_rsa" through RSACrypt.
#pragma once

#include <gmp.h>
#include <stddef.h>
#include <time.h>

#include <string>

class RSAKey;

// Longest challenge or response text a side accepts (hexadecimal digits).
const size_t kMaxChallengeDigits = 2048;
// Challenge values are this many random bits.
const unsigned long kChallengeBits = 20;
// A broken key (modulus 0 or tiny) refuses every draw: give up after this
// many instead of looping forever.
const int kMaxChallengeAttempts = 1000;

// Strict authentication (`strict_auth` in the configuration), on the
// accepting side: StrictAuth tells whether it is on; TrustedLocalPeer is
// true when it is off or when the socket at the other end of `fd` belongs
// to root or to this process's user; OwnKeyFilesExist is true once the agent
// has its own private key file, from when a peer without a key file is
// refused ("UNAUTHORIZED") instead of served with password-derived keys.
bool StrictAuth();
bool TrustedLocalPeer(int fd);
bool OwnKeyFilesExist();

// Seeds the accepting side's challenge draws; 0 (the default) uses the
// process's own random state. Tests set it so that a handshake draws the
// same values on every run.
extern unsigned long challenge_seed;

// The name this side announces: the configuration's `name`.
const char* HandshakeOwnName();

// Own private key and peer public key from the key files; false when either
// is missing or unreadable. The accepting side reads the peer's public key
// first and logs each failure; the connecting side stops at the first.
// `begin` (accepting side) dates the progress line.
bool LoadKeyFiles(RSAKey* ownPrivate, RSAKey* peerPublic, const char* peerName, bool accepting,
                  time_t begin = 0);
// Password-derived keys: the private half derived from `ownName` and the
// public half derived from `peerName`.
void LoadPasswordKeys(RSAKey* ownPrivate, RSAKey* peerPublic, const char* ownName, const char* peerName);

// In place on a hexadecimal text in a buffer of `size` bytes: RSA with
// `ownPrivate`, then with `peerPublic`. Refused steps leave the text as it
// was, exactly as the peer expects.
void ApplyKeyPair(char* text, size_t size, RSAKey* ownPrivate, RSAKey* peerPublic);

// Accepting side: draws r from `state` until both the challenge
// ch = RSA(RSA(r, own private), peer public) and the check
// RSA(RSA(r, peer public), own private) succeed. False after
// kMaxChallengeAttempts refused draws. Texts are lower-case hexadecimal.
bool MakeChallenge(gmp_randstate_t state, RSAKey* ownPrivate, RSAKey* peerPublic, std::string& r,
                   std::string& challenge);
// Accepting side: decodes the connecting side's response with the same two
// keys; true when it gives back `r`. `decoded` receives the text compared.
bool CheckResponse(const char* response, RSAKey* ownPrivate, RSAKey* peerPublic, const std::string& r,
                   std::string& decoded);
