// The handshake between two agents over loopback. The accepting side runs in
// a forked child so that each side has its own name and configuration
// folder, as two machines would.
#include <gtest/gtest.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "agent/Globals.h"
#include "crypto/AesKeys.h"
#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "foundation/Paths.h"
#include "records/Config.h"
#include "support/Process.h"
#include "support/TestHome.h"
#include "transport/Handshake.h"
#include "transport/Loopback.h"

namespace {

// What the accepting side saw, sent back through a pipe.
struct AcceptResult {
    int ok = -1;
    int connected = 0;
    int anonymous = 0;
    int gui = 0;
    int cipher = 0;
    char name[51] = {0};
    char echoed[64] = {0};
};

enum class AcceptMode {
    Authenticate,       // the whole accepting handshake
    SendChallengeOnly,  // greetings by hand, then SendChallenge
    HostileChallenge,   // greetings by hand, then a 3000-digit challenge
};

void Greet(Sock* s, const char* answer) {
    s->Receive(0);
    s->Send("hello");
    s->Receive(0);
    snprintf(s->name, sizeof(s->name), "%.50s", s->read_buffer);
    s->Send(answer);
}

class Handshake : public ::testing::Test {
protected:
    void SetUp() override {
        snprintf(config->name, sizeof(config->name), "agentA");
        confB_ = home_.path("confB/");
        ASSERT_TRUE(MakeDirectories(confB_.c_str()));
    }

    // Key file of `name` (kind "pub"/"priv") in the connecting side's
    // folder (`accepting` false) or the accepting side's.
    void Install(RSAKey* key, const char* name, bool priv, bool accepting) {
        char path[400];
        ASSERT_TRUE(GetKeyPathFromName(path, sizeof(path), name, priv ? "priv" : "pub"));
        std::string p = path;
        if (accepting) p = confB_ + p.substr(strlen(res->conf_dir));
        ASSERT_EQ(WriteKey(p.c_str(), key, priv ? kDefaultKeyPassPhrase : nullptr), 1);
    }

    // Forks the accepting side (name `acceptName`, folder confB/), runs
    // `connecting` on the client socket here, and returns what the
    // accepting side saw.
    AcceptResult Run(AcceptMode mode, const char* acceptName, const std::function<void(Sock*)>& connecting) {
        LoopbackPair pair(10);
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            pair.client->Close();
            pair.listener->Close();
            snprintf(config->name, sizeof(config->name), "%s", acceptName);
            snprintf(res->conf_dir, sizeof(res->conf_dir), "%s", confB_.c_str());
            AcceptResult r;
            Sock* s = pair.server.get();
            try {
                if (mode == AcceptMode::Authenticate) {
                    r.ok = s->Authenticate();
                } else if (mode == AcceptMode::SendChallengeOnly) {
                    Greet(s, acceptName);
                    r.ok = s->SendChallenge();
                } else {
                    Greet(s, acceptName);
                    s->Receive(0);
                    s->Send(std::string(3000, 'a').c_str());
                    s->Receive(0);  // until the other side gives up
                }
                if (s->connected) {
                    s->Read();
                    snprintf(r.echoed, sizeof(r.echoed), "%s", s->read_buffer);
                    s->FormatWrite("echo:%s", r.echoed);
                }
            } catch (SocketError&) {
                ReleaseSocketError();
            }
            r.connected = s->connected;
            r.anonymous = s->anonymous;
            r.gui = s->gui;
            r.cipher = s->aes != nullptr;
            snprintf(r.name, sizeof(r.name), "%s", s->name);
            s->connected = false;  // no activity bookkeeping in the child
            if (write(fds[1], &r, sizeof(r)) != (ssize_t)sizeof(r)) _exit(3);
            _exit(0);
        }
        close(fds[1]);
        pair.server->Close();
        connecting(pair.client.get());
        pair.client->Close();  // a waiting child sees the end at once
        AcceptResult r;
        pollfd p = {fds[0], POLLIN, 0};
        if (poll(&p, 1, 30000) == 1) {
            EXPECT_EQ(read(fds[0], &r, sizeof(r)), (ssize_t)sizeof(r));
        } else {
            ADD_FAILURE() << "the accepting side did not report";
        }
        close(fds[0]);
        EXPECT_EQ(WaitProgram(pid, 30), 0);
        return r;
    }

    // The full connecting side; then a packet each way under the cipher.
    std::function<void(Sock*)> IdentifyAndEcho(bool* ok, std::string* peer, std::string* echo, bool* anonymous,
                                               bool* cipher) {
        return [=](Sock* s) {
            try {
                *ok = s->Identify();
                *peer = s->name;
                *anonymous = s->anonymous;
                *cipher = s->aes != nullptr;
                if (*ok) {
                    s->Write("ping");
                    s->Read();
                    *echo = s->read_buffer;
                }
            } catch (SocketError& e) {
                ADD_FAILURE() << "SocketError " << e.message;
                ReleaseSocketError();
            }
        };
    }

    TestHome home_{true};
    std::string confB_;
};

}  // namespace

TEST_F(Handshake, NoKeyFilesBothSidesUsePasswordKeysAndTheCipherWorksBothWays) {
    bool ok = false, anonymous = false, cipher = false;
    std::string peer, echo;
    AcceptResult r = Run(AcceptMode::Authenticate, "agentB", IdentifyAndEcho(&ok, &peer, &echo, &anonymous, &cipher));
    EXPECT_TRUE(ok);
    EXPECT_EQ(peer, "agentB");
    EXPECT_TRUE(anonymous);
    EXPECT_TRUE(cipher);
    EXPECT_EQ(echo, "echo:ping");
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.connected, 1);
    EXPECT_EQ(r.anonymous, 1);
    EXPECT_EQ(r.cipher, 1);
    EXPECT_STREQ(r.name, "agentA");
    EXPECT_STREQ(r.echoed, "ping");
}

TEST_F(Handshake, MatchingKeyFilesNeedNoFallbackEvenWithTheLargerModulusConnecting) {
    // Two pairs whose moduli are ordered so that the connecting side's last
    // operation can be refused.
    RSAKey e1, d1, e2, d2;
    GeneratePasswordKeyUncached(&e1, &d1, "file-key-1");
    GeneratePasswordKeyUncached(&e2, &d2, "file-key-2");
    bool firstLarger = mpz_cmp(e1.modulo, e2.modulo) > 0;
    RSAKey& conPub = firstLarger ? e1 : e2;
    RSAKey& conPriv = firstLarger ? d1 : d2;
    RSAKey& accPub = firstLarger ? e2 : e1;
    RSAKey& accPriv = firstLarger ? d2 : d1;
    Install(&conPriv, nullptr, true, false);
    Install(&accPub, "agentB", false, false);
    Install(&accPriv, nullptr, true, true);
    Install(&conPub, "agentA", false, true);

    bool ok = false, anonymous = true, cipher = false;
    std::string peer, echo;
    AcceptResult r = Run(AcceptMode::Authenticate, "agentB", IdentifyAndEcho(&ok, &peer, &echo, &anonymous, &cipher));
    EXPECT_TRUE(ok);
    EXPECT_FALSE(anonymous);
    EXPECT_TRUE(cipher);
    EXPECT_EQ(echo, "echo:ping");
    EXPECT_EQ(r.connected, 1);
    EXPECT_EQ(r.anonymous, 0);
    EXPECT_STREQ(r.echoed, "ping");
}

TEST_F(Handshake, KeyFilesThePeerDoesNotShareMakeTheConnectingSideFallBackOnce) {
    RSAKey e1, d1, e2, d2;
    GeneratePasswordKeyUncached(&e1, &d1, "file-key-1");
    GeneratePasswordKeyUncached(&e2, &d2, "file-key-2");
    Install(&d1, nullptr, true, false);
    Install(&e2, "agentB", false, false);
    Install(&d2, nullptr, true, true);  // but no public key of agentA there
    bool ok = false, anonymous = false, cipher = false;
    std::string peer, echo;
    AcceptResult r = Run(AcceptMode::Authenticate, "agentB", IdentifyAndEcho(&ok, &peer, &echo, &anonymous, &cipher));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(anonymous);
    EXPECT_EQ(echo, "echo:ping");
    EXPECT_EQ(r.connected, 1);
    EXPECT_EQ(r.anonymous, 1);
}

TEST_F(Handshake, GuiPeersGetTheirRoleAsAnswerName) {
    for (const char* role : {"visu", "admin"}) {
        std::string gui = std::string("zelgui_") + role;
        snprintf(config->name, sizeof(config->name), "%s", gui.c_str());
        // The GUI knows the agent's key under the role name; the agent knows
        // the GUI's key under its own name.
        RSAKey agentPub, agentPriv, guiPub, guiPriv;
        GeneratePasswordKeyUncached(&agentPub, &agentPriv, "file-key-1");
        GeneratePasswordKeyUncached(&guiPub, &guiPriv, "file-key-2");
        Install(&guiPriv, nullptr, true, false);
        Install(&agentPub, role, false, false);
        Install(&agentPriv, nullptr, true, true);
        Install(&guiPub, gui.c_str(), false, true);

        bool ok = false, anonymous = true, cipher = false;
        std::string peer, echo;
        AcceptResult r =
            Run(AcceptMode::Authenticate, "agentB", IdentifyAndEcho(&ok, &peer, &echo, &anonymous, &cipher));
        EXPECT_EQ(peer, role);
        EXPECT_TRUE(ok) << role;
        EXPECT_FALSE(anonymous) << role;
        EXPECT_EQ(echo, "echo:ping") << role;
        EXPECT_EQ(r.gui, 1) << role;
        EXPECT_EQ(r.connected, 1) << role;
        EXPECT_STREQ(r.name, gui.c_str());
    }
}

TEST_F(Handshake, OwnNameFromLoopbackIsTrustedWithoutChallengeOrCipher) {
    bool ok = false, anonymous = false, cipher = true;
    std::string peer, echo;
    AcceptResult r = Run(AcceptMode::Authenticate, "agentA", IdentifyAndEcho(&ok, &peer, &echo, &anonymous, &cipher));
    EXPECT_TRUE(ok);
    EXPECT_FALSE(cipher);
    EXPECT_EQ(echo, "echo:ping");  // in clear
    EXPECT_EQ(r.connected, 1);
    EXPECT_EQ(r.cipher, 0);
}

TEST_F(Handshake, CloseProbeEndsTheChallengeWithTrueButNotConnected) {
    AcceptResult r = Run(AcceptMode::SendChallengeOnly, "agentB", [](Sock* s) {
        try {
            s->Send("hello");
            s->Receive(0);
            s->Send("agentA");
            s->Receive(0);
            s->Send("close");
        } catch (SocketError& e) {
            ADD_FAILURE() << e.message;
            ReleaseSocketError();
        }
    });
    EXPECT_EQ(r.ok, 1);
    EXPECT_EQ(r.connected, 0);
    EXPECT_EQ(r.cipher, 0);
}

TEST_F(Handshake, WrongResponseGetsNoConnectedAndNoCipher) {
    std::string after;
    AcceptResult r = Run(AcceptMode::Authenticate, "agentB", [&after](Sock* s) {
        ExpectSocketError(
            [&] {
                s->Send("hello");
                s->Receive(0);
                s->Send("agentA");
                s->Receive(0);
                s->Send("login");
                s->Receive(0);  // the challenge
                s->Send("123");
                s->Receive(0);  // nothing comes: the peer closes
                after = s->read_buffer;
            },
            "Connection Closed");
    });
    EXPECT_EQ(after, "");
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.connected, 0);
    EXPECT_EQ(r.cipher, 0);
}

TEST_F(Handshake, OversizedChallengeIsRefusedWithoutOverrun) {
    bool ok = true;
    AcceptResult r = Run(AcceptMode::HostileChallenge, "agentB", [&ok](Sock* s) {
        try {
            ok = s->Identify();
        } catch (SocketError& e) {
            ADD_FAILURE() << e.message;
            ReleaseSocketError();
        }
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(r.connected, 0);
}

TEST(HandshakeMath, ChallengeRoundTripsWhicheverModulusIsLarger) {
    // Deterministic draws, both orders of the moduli; the refused last
    // step of the larger side must occur and still decode.
    RSAKey e1, d1, e2, d2;
    GeneratePasswordKeyUncached(&e1, &d1, "file-key-1");
    GeneratePasswordKeyUncached(&e2, &d2, "file-key-2");
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, 12345);
    int refusals = 0;
    for (int order = 0; order < 2; order++) {
        RSAKey& conPub = order ? e1 : e2;
        RSAKey& conPriv = order ? d1 : d2;
        RSAKey& accPub = order ? e2 : e1;
        RSAKey& accPriv = order ? d2 : d1;
        for (int i = 0; i < 40; i++) {
            std::string r, ch, decoded;
            ASSERT_TRUE(MakeChallenge(state, &accPriv, &conPub, r, ch));
            char work[5000];
            snprintf(work, sizeof(work), "%s", ch.c_str());
            ApplyKeyPair(work, sizeof(work), &conPriv, &accPub);
            ASSERT_EQ(std::string(work), r);
            EXPECT_LE(strlen(work), 5u);
            // The response; count the refused last steps.
            RSACrypt(work, sizeof(work), &conPriv);
            if (!RSACrypt(work, sizeof(work), &accPub)) refusals++;
            EXPECT_TRUE(CheckResponse(work, &accPriv, &conPub, r, decoded)) << decoded << " != " << r;
        }
    }
    gmp_randclear(state);
    EXPECT_GT(refusals, 0);
}

TEST(HandshakeMath, BrokenKeysGiveUpInsteadOfLoopingForever) {
    RSAKey none, alsoNone;
    gmp_randstate_t state;
    gmp_randinit_default(state);
    std::string r, ch;
    EXPECT_FALSE(MakeChallenge(state, &none, &alsoNone, r, ch));
    gmp_randclear(state);
}
