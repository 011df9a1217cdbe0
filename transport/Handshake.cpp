#include "transport/Handshake.h"

#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "core/Globals.h"
#include "crypto/AesKeys.h"
#include "crypto/AesVetrak.h"
#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "foundation/Log.h"
#include "foundation/SocketOwner.h"
#include "foundation/base.h"
#include "records/Client.h"
#include "records/Config.h"
#include "transport/Sock.h"

namespace {

// Work buffers hold any RSA result a key file can produce.
const size_t kWorkSize = kMaxKeyTextLength + 16;
const int kIdentifyWaitSeconds = 60;

// The peer's text as a C string (the read buffer is NUL-terminated).
const char* Text(Sock* s) {
    return s->read_buffer ? s->read_buffer : "";
}

void StoreName(Sock* s, const char* text) {
    snprintf(s->name, sizeof(s->name), "%.50s", text);
}

// One random state for every challenge of the process, seeded once: a state
// set up per handshake costs more than the draw, and one seeded from the
// clock in seconds repeats its challenge within the same second.
std::mutex challenge_state_lock;

__gmp_randstate_struct* ChallengeState() {
    static gmp_randstate_t state;
    static bool seeded = false;
    if (!seeded) {
        unsigned long seed = (unsigned long)time(nullptr) ^ ((unsigned long)getpid() << 20);
        unsigned long extra = 0;
        if (getrandom(&extra, sizeof(extra), GRND_NONBLOCK) == (ssize_t)sizeof(extra)) seed ^= extra;
        gmp_randinit_default(state);
        gmp_randseed_ui(state, seed);
        seeded = true;
    }
    return state;
}

void InstallCipher(Sock* s, const char* key) {
    delete s->aes;
    s->aes = new aes_cipher_vetrak(key);
}

}  // namespace

bool StrictAuth() { return config && config->strict_auth != 0; }

bool TrustedLocalPeer(int fd) {
    if (!StrictAuth()) return true;
    long owner = PeerSocketOwner(fd);
    if (owner == 0 || owner == (long)geteuid()) return true;
    PrintError("Sock::SendChallenge: local peer's socket belongs to uid %li, not trusted (strict_auth)", owner);
    return false;
}

bool OwnKeyFilesExist() {
    RSAKey own;
    return ReadPrivKey(&own, nullptr, nullptr) == 1;
}

unsigned long challenge_seed = 0;

const char* HandshakeOwnName() {
    return config ? config->name : "";
}

bool LoadKeyFiles(RSAKey* ownPrivate, RSAKey* peerPublic, const char* peerName, bool accepting,
                  time_t begin) {
    if (!accepting)
        return ReadPrivKey(ownPrivate, nullptr, nullptr) == 1 && ReadPubKey(peerPublic, peerName) == 1;
    bool pub = ReadPubKey(peerPublic, peerName) == 1;
    if (!pub) PrintMessage("Sock::SendChallenge(): Impossible de lire la clef publique de %s", peerName);
    PrintMessage("SendChallenge(ReadPub): %i", (int)(time(nullptr) - begin));
    bool priv = ReadPrivKey(ownPrivate, nullptr, nullptr) == 1;
    if (!priv) PrintMessage("Sock::SendChallenge(): Impossible de lire ma clef privee");
    return pub && priv;
}

void LoadPasswordKeys(RSAKey* ownPrivate, RSAKey* peerPublic, const char* ownName, const char* peerName) {
    GeneratePasswordKey(nullptr, ownPrivate, ownName);
    GeneratePasswordKey(peerPublic, nullptr, peerName);
}

void ApplyKeyPair(char* text, size_t size, RSAKey* ownPrivate, RSAKey* peerPublic) {
    RSACryptTwice(text, size, ownPrivate, peerPublic);
}

bool MakeChallenge(gmp_randstate_t state, RSAKey* ownPrivate, RSAKey* peerPublic, std::string& r,
                   std::string& challenge) {
    mpz_t value, a, ch, b, check;
    mpz_inits(value, a, ch, b, check, nullptr);
    bool ok = false;
    for (int attempt = 1; attempt <= kMaxChallengeAttempts; attempt++) {
        mpz_urandomb(value, state, kChallengeBits);
        if (RSACrypt(a, value, ownPrivate) && RSACrypt(ch, a, peerPublic) && RSACrypt(b, value, peerPublic) &&
            RSACrypt(check, b, ownPrivate)) {
            ok = true;
            break;
        }
        PrintMessage("RSACrypt failed, trying again (%i)", attempt);
    }
    if (ok) {
        r = IntegerToHex(value);
        challenge = IntegerToHex(ch);
    }
    mpz_clears(value, a, ch, b, check, nullptr);
    return ok;
}

bool CheckResponse(const char* response, RSAKey* ownPrivate, RSAKey* peerPublic, const std::string& r,
                   std::string& decoded) {
    std::vector<char> work(kWorkSize);
    snprintf(work.data(), work.size(), "%s", response ? response : "");
    if (!IsHexText(work.data())) {
        decoded = work.data();
        return false;
    }
    // Leading zeros would make equal values compare unequal as texts.
    mpz_t v;
    mpz_init_set_str(v, work.data(), 16);
    mpz_get_str(work.data(), 16, v);
    mpz_clear(v);
    ApplyKeyPair(work.data(), work.size(), ownPrivate, peerPublic);
    decoded = work.data();
    return decoded == r;
}

// ---- connecting side -------------------------------------------------------

bool Sock::Identify() {
    PrintDebug("Sock::Identify()");
    Send("hello");
    PrintDebug("Identify: Waiting for hello...");
    if (!IsReadable(kIdentifyWaitSeconds, 0, false)) return false;
    int count = Receive(0);
    if (count < 1) {
        PrintMessage("Sock::Identify(): Received %i instead of 'hello'.", count);
        return false;
    }
    if (strcmp(Text(this), "hello") != 0) {
        PrintMessage("Sock::Identify(): Received '%s' instead of 'hello'.", Text(this));
        return false;
    }
    PrintDebug("Identify: Received hello");
    Send(HandshakeOwnName());
    PrintDebug("Identify: Waiting for client name...");
    if (!IsReadable(kIdentifyWaitSeconds, 0, false)) return false;
    Receive(0);
    StoreName(this, Text(this));
    PrintDebug("Identify: received name (%s)", name);
    return AnswerChallenge();
}

bool Sock::AnswerChallenge() {
    PrintDebug("Sock::AnswerChallenge()");
    anonymous = false;
    try {
        Send("login");
        PrintDebug("AnswerChallenge: Waiting for challenge...");
        Receive(0);
        PrintDebug("AnswerChallenge: Received challenge");
        if (strcmp(Text(this), "UNAUTHORIZED") == 0) {
            PrintMessage("Sock::AnswerChallenge: Not autorized to connect to server");
            return false;
        }
        if (strcmp(Text(this), "connected") == 0) {  // trusted: no challenge, no cipher
            authenticated = true;
            return true;
        }

        std::string challenge = Text(this);
        if (challenge.size() > kMaxChallengeDigits) {
            PrintError("Sock::AnswerChallenge: challenge of %u characters refused",
                       (unsigned)challenge.size());
            return false;
        }
        RSAKey own, peer;
        if (!LoadKeyFiles(&own, &peer, name, false)) {
            LoadPasswordKeys(&own, &peer, HandshakeOwnName(), name);
            PrintMessage("Connecting as anonymous");
            anonymous = true;
        }
        std::vector<char> work(kWorkSize);
        snprintf(work.data(), work.size(), "%s", challenge.c_str());
        ApplyKeyPair(work.data(), work.size(), &own, &peer);
        // A value this long is not a 20-bit challenge: the peer used other
        // keys than our files, so try the password-derived ones once.
        if (strlen(work.data()) > 10 && !anonymous) {
            snprintf(work.data(), work.size(), "%s", challenge.c_str());
            LoadPasswordKeys(&own, &peer, HandshakeOwnName(), name);
            anonymous = true;
            ApplyKeyPair(work.data(), work.size(), &own, &peer);
        }
        PrintDebug("challenge was %s", work.data());
        ApplyKeyPair(work.data(), work.size(), &own, &peer);
        PrintDebug("AnswerChallenge: Sending new challenge...");
        Send(work.data());

        Receive(0);
        if (strcmp(Text(this), "connected") != 0) return false;
        PrintDebug("AnswerChallenge: Received connected");
        Send("key");
        Receive(32);
        if (!IsValidAesKey(Text(this), 1)) return false;
        InstallCipher(this, Text(this));
        authenticated = true;
        return true;
    } catch (SocketError& e) {
        PrintMessage("Sock::AnswerChallenge: Socket Exception Caught: %s, rethrowing", e.message);
        throw SocketError(e.message, e.code);  // the exception lock stays held
    }
}

// ---- accepting side ----------------------------------------------------------

bool Sock::Authenticate() {
    PrintMessage("Sock::Authenticate(%s)", ip);
    time_t begin = time(nullptr);
    try {
        Receive(0);
        if (strncmp(Text(this), "hello", 5) == 0) {
            Send("hello");
            Receive(0);
            StoreName(this, Text(this));
            char answer[64];
            snprintf(answer, sizeof(answer), "%s", HandshakeOwnName());
            if (strncmp(name, "zelgui_", 7) == 0) {
                gui = true;
                const char* rest = strchr(name, '_') + 1;
                if (strcmp(rest, "admin") == 0 || strcmp(rest, "visu") == 0) {
                    snprintf(answer, sizeof(answer), "%s", rest);
                } else if (config) {
                    Client* set = config->GetClientFromName(rest);
                    if (!set) set = config->GetClientFromId(rest, 0);
                    if (set) snprintf(answer, sizeof(answer), "%s", set->id);
                }
            }
            Send(answer);
            SendChallenge();
        }
    } catch (SocketError& e) {
        PrintMessage("Sock::Authenticate: Socket Exception Caught: %s", e.message);
        ReleaseSocketError();
    }
    PrintMessage("Sock::Authenticate(%s,%s) challenged in %li sec", ip, name, (long)(time(nullptr) - begin));
    return connected;
}

bool Sock::SendChallenge() {
    PrintMessage("SendChallenge to %s @ %s...", name, ip);
    time_t begin = time(nullptr);
    anonymous = false;
    try {
        Receive(0);
        PrintMessage("SendChallenge to %s @ %s received %s", name, ip, Text(this));
        if (strcmp(Text(this), "close") == 0) return true;  // a probe: nothing to prove
        if (strcmp(Text(this), "login") != 0) return false;

        // This agent talking to itself needs no proof and no cipher. In
        // strict mode the connecting socket must also be root's or ours:
        // any local user can send the agent's name.
        if (strcmp(ip, "127.0.0.1") == 0 && strcmp(name, HandshakeOwnName()) == 0 && TrustedLocalPeer(sock)) {
            Send("connected");
            connected = true;
            authenticated = true;
            return true;
        }

        PrintMessage("SendChallenge(Reading keys): %i", (int)(time(nullptr) - begin));
        RSAKey own, peer;
        if (!LoadKeyFiles(&own, &peer, name, true, begin)) {
            if (StrictAuth() && OwnKeyFilesExist()) {
                PrintError("Sock::SendChallenge: %s @ %s has no key file, refused (strict_auth)", name, ip);
                Send("UNAUTHORIZED");
                return false;
            }
            LoadPasswordKeys(&own, &peer, HandshakeOwnName(), name);
            PrintMessage("Connecting as anonymous");
            anonymous = true;
        }

        std::string r, challenge;
        bool made;
        if (challenge_seed != 0) {
            // Tests: the same draws on every handshake.
            gmp_randstate_t seeded;
            gmp_randinit_default(seeded);
            gmp_randseed_ui(seeded, challenge_seed);
            made = MakeChallenge(seeded, &own, &peer, r, challenge);
            gmp_randclear(seeded);
        } else {
            std::lock_guard<std::mutex> guard(challenge_state_lock);
            made = MakeChallenge(ChallengeState(), &own, &peer, r, challenge);
        }
        if (!made) {
            PrintError("Sock::SendChallenge: no challenge after %i attempts", kMaxChallengeAttempts);
            return false;
        }
        PrintDebug("Challenge is %s", r.c_str());
        // The peer's buffer holds 2048 digits: a longer text is not sent.
        if (r.size() > kMaxChallengeDigits || challenge.size() > kMaxChallengeDigits) {
            PrintMessage(r.size() > kMaxChallengeDigits ? "Sock::SendChallenge: Would have Segfaulted 1"
                                                        : "Sock::SendChallenge: Would have Segfaulted 2");
            return false;
        }
        Send(challenge.c_str());

        Receive(0);
        std::string response = Text(this);
        std::string decoded;
        if (response.size() > kMaxChallengeDigits) {
            PrintMessage("Sock::SendChallenge: Would have Segfaulted 3");
            return false;
        }
        if (!CheckResponse(response.c_str(), &own, &peer, r, decoded)) {
            if (decoded.size() > kMaxChallengeDigits)
                PrintMessage("Sock::SendChallenge: Would have Segfaulted 3");
            PrintMessage("Challenge failed: %.2048s != %s", decoded.c_str(), r.c_str());
            return false;
        }

        Send("connected");
        Receive(0);
        if (strcmp(Text(this), "key") != 0) return false;
        char* key = GetRandomAESKey();
        Send(key);
        PrintDebug("Key is %s", key);
        InstallCipher(this, key);
        free(key);
        PrintDebug("Strong Challenge Successful!!!");
        connected = true;
        authenticated = true;
        return true;
    } catch (SocketError& e) {
        PrintMessage("Sock::SendChallenge: Socket Exception Caught, rethrowing: %s", e.message);
        throw SocketError(e.message, e.code);
    }
}
