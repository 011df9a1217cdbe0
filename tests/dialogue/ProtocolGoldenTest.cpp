// The byte examples of docs/protocol.md, produced again by the real code:
// each example names a dialogue below, which runs through a recording relay
// between a server side and the agent side. A changed encoder fails here and
// prints the new transcript in the document's notation.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "core/Globals.h"
#include "crypto/AesVetrak.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/Dispatcher.h"
#include "dialogue/FileStreams.h"
#include "dialogue/SingleFileTransfer.h"
#include "records/Config.h"
#include "support/TestHome.h"
#include "transport/Loopback.h"

namespace {

// One side's bytes until the other side spoke: 'S' from the server (the
// connecting side), 'A' from the agent. A pattern ("<hex>", "<key>") stands
// for a whole message of random hexadecimal digits.
struct Chunk {
    char side;
    std::string bytes, pattern;
};

// Parses the examples: "<!-- golden: NAME -->", then a fenced block of lines
// "S> tokens" or "A> tokens" (tokens: "text" with \n \0 \" \\ escapes, a hex
// byte HH, HH*N for N copies, <hex>, <key>; "#" starts a comment).
std::map<std::string, std::vector<Chunk>> ReadExamples(const std::string& path) {
    std::map<std::string, std::vector<Chunk>> examples;
    std::istringstream doc(ReadWholeFile(path));
    std::string line, name;
    bool inside = false;
    std::smatch m;
    while (std::getline(doc, line)) {
        if (std::regex_match(line, m, std::regex("<!-- golden: (\\S+) -->"))) name = m[1];
        else if (!name.empty() && line.rfind("```", 0) == 0) {
            if (inside) name.clear();
            inside = !inside;
        } else if (inside && line.size() > 2 && (line[0] == 'S' || line[0] == 'A') && line[1] == '>') {
            std::vector<Chunk>& runs = examples[name];
            if (runs.empty() || runs.back().side != line[0]) runs.push_back({line[0], "", ""});
            for (size_t i = 2; i < line.size();) {
                char c = line[i];
                if (c == ' ') i++;
                else if (c == '#') break;
                else if (c == '<') {
                    size_t end = line.find('>', i);
                    runs.back().pattern = line.substr(i, end + 1 - i);
                    i = end + 1;
                } else if (c == '"') {
                    for (i++; i < line.size() && line[i] != '"'; i++) {
                        char x = line[i];
                        if (x == '\\') x = line[++i] == 'n' ? '\n' : line[i] == '0' ? '\0' : line[i];
                        runs.back().bytes += x;
                    }
                    i++;
                } else {
                    size_t end = line.find(' ', i);
                    std::string token = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
                    size_t star = token.find('*');
                    int copies = star == std::string::npos ? 1 : atoi(token.c_str() + star + 1);
                    runs.back().bytes.append((size_t)copies, (char)strtol(token.substr(0, 2).c_str(), nullptr, 16));
                    i += token.size();
                }
            }
        }
    }
    return examples;
}

// The document's notation for recorded runs, 32 bytes a line.
std::string Notation(const std::vector<Chunk>& runs) {
    std::string out;
    for (const Chunk& run : runs) {
        for (size_t at = 0; at < run.bytes.size(); at += 32) {
            std::string chunk = run.bytes.substr(at, 32);
            out += std::string(1, run.side) + ">";
            for (size_t i = 0, j; i < chunk.size(); i = j) {
                for (j = i; j < chunk.size() && (unsigned char)chunk[j] >= 32 && (unsigned char)chunk[j] < 127; j++) {
                }
                if (j > i) {
                    out += " \"" + std::regex_replace(chunk.substr(i, j - i), std::regex("[\"\\\\]"), "\\$&") + "\"";
                    continue;
                }
                while (j < chunk.size() && chunk[j] == chunk[i]) j++;
                char hex[24];
                if (j - i < 4) j = i + 1;
                snprintf(hex, sizeof(hex), j - i < 4 ? " %02x" : " %02x*%zu", (unsigned char)chunk[i], j - i);
                out += hex;
            }
            out += "\n";
        }
    }
    return out;
}

// Forwards and records the bytes between `server` and `agent`. The agent
// side is a Sock of this process, or with a port, the daemon listening there.
class Relay {
public:
    explicit Relay(int daemon_port = 0) {
        if (daemon_port) {
            back_.client.reset(new Sock(AF_INET, SOCK_STREAM, 0));
            back_.client->Connect("127.0.0.2", daemon_port);
        }
        server = front_.client.get();
        agent = back_.server.get();
        thread_ = std::thread([this] { Forward(); });
    }
    ~Relay() { Finish(); }
    // Stops recording and closes the relay's ends: both sides then see the
    // connection closed.
    std::vector<Chunk> Finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        front_.server.reset();
        back_.client.reset();
        return runs_;
    }
    Sock* server;
    Sock* agent;
    LoopbackPair front_, back_;

private:
    void Forward() {
        pollfd fds[2] = {{front_.server->sock, POLLIN, 0}, {back_.client->sock, POLLIN, 0}};
        char buffer[65536];
        // Once asked to stop, ends at the first silence: what a side sent
        // just before is recorded first.
        for (;;) {
            if (poll(fds, 2, 50) <= 0) {
                if (stop_) return;
                continue;
            }
            for (int i = 0; i < 2; i++) {
                if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
                ssize_t n = recv(fds[i].fd, buffer, sizeof(buffer), 0);
                if (n <= 0) return;
                char side = i == 0 ? 'S' : 'A';
                if (runs_.empty() || runs_.back().side != side) runs_.push_back({side, "", ""});
                runs_.back().bytes.append(buffer, (size_t)n);
                send(fds[1 - i].fd, buffer, (size_t)n, MSG_NOSIGNAL);
            }
        }
    }
    std::vector<Chunk> runs_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string Ask(Sock* sock, const char* line) {
    sock->Write(line);
    return std::string(sock->read_buffer, sock->Read());
}

// Serves the agent side of `relay` with the real dispatcher while `server`
// talks; the agent side counts as authenticated and holds no cipher.
std::vector<Chunk> Dispatcher(Relay& relay, const std::function<void(Sock*)>& server) {
    relay.agent->connected = true;
    std::thread agent(ReceiveMessages, relay.back_.server.release());
    server(relay.server);
    std::vector<Chunk> runs = relay.Finish();
    agent.join();
    return runs;
}

// Runs `agent` on the agent side while `server` talks.
std::vector<Chunk> Dialogue(Relay& relay, const std::function<void(Sock*)>& agent,
                          const std::function<void(Sock*)>& server) {
    std::thread side([&] { agent(relay.agent); });
    server(relay.server);
    side.join();
    return relay.Finish();
}

const char* const kKey = "0123456789abcdef0123456789abcdef";

TEST(ProtocolDocument, EveryGoldenExampleIsWhatTheCodeSendsToday) {
    TestHome home;
    std::string dir = home.dir();
    WriteWholeFile(dir + "/hello.txt", "hello\n", 0644);
    ASSERT_EQ(0, symlink("hello.txt", (dir + "/link").c_str()));
    // The stream carries the owner: the example shows root's files.
    bool root = lchown((dir + "/hello.txt").c_str(), 0, 0) == 0 && lchown((dir + "/link").c_str(), 0, 0) == 0;
    std::string stream_list = dir + "/hello.txt\n" + dir + "/link\n" + dir + "/missing";

    std::map<std::string, std::function<std::vector<Chunk>()>> dialogues = {
        {"packet", [] {
             Relay r;
             return Dialogue(r, [](Sock* a) { a->Read(); }, [](Sock* s) { s->Write("echo hello"); });
         }},
        {"packet-encrypted", [] {
             Relay r;
             r.server->aes = new aes_cipher_vetrak(kKey);
             r.agent->aes = new aes_cipher_vetrak(kKey);
             return Dialogue(r, [](Sock* a) { a->Read(); }, [](Sock* s) { s->Write("echo hello, world!!!"); });
         }},
        {"handshake", [] {
             snprintf(config->name, sizeof(config->name), "test-server");
             AgentDaemon daemon;
             if (!daemon.Started()) return std::vector<Chunk>();
             Relay r(daemon.port());
             r.server->Identify();
             return r.Finish();
         }},
        {"commands", [] {
             Relay r;
             return Dispatcher(r, [](Sock* s) {
                 Ask(s, "echo hello");
                 Ask(s, "this_version");
                 Ask(s, "query 7");
                 Ask(s, "dir");
             });
         }},
        {"no-footer", [] {
             Relay r;
             return Dispatcher(r, [](Sock* s) {
                 Ask(s, "no_footer");
                 s->acknowledge = 0;
                 Ask(s, "echo hi");
             });
         }},
        {"close", [] {
             Relay r;
             return Dispatcher(r, [](Sock* s) { s->Write("close"); });
         }},
        {"send-fast", [&] {
             Relay r;
             return Dialogue(
                 r, [&](Sock* a) { MultiSendFiles(a, &stream_list[0], 0); }, [](Sock* s) { s->Read(); });
         }},
        {"send-single", [&] {
             Relay r;
             return Dialogue(
                 r, [&](Sock* a) { SendFile(a, &(dir + "/hello.txt")[0], nullptr, nullptr); },
                 [](Sock* s) {
                     s->Read();
                     Ask(s, "FILE_OPEN");
                 });
         }},
        {"get-single", [&] {
             Relay r;
             return Dialogue(
                 r, [&](Sock* a) { GetFile(a, &(dir + "/got.txt")[0], nullptr, nullptr, "wb"); },
                 [](Sock* s) {
                     Ask(s, "6 0 0 6 00000000000000000000000000000000");
                     s->Write("hello\n");
                 });
         }},
        {"send-single-resume", [&] {
             Relay r;
             return Dialogue(
                 r, [&](Sock* a) { SendFile(a, &(dir + "/hello.txt")[0], nullptr, nullptr); },
                 [](Sock* s) {
                     s->Read();
                     Ask(s, "FILE_RESUME_PARTIAL 3 46356afe55fa3cea9cbe73ad442cad47");
                     Ask(s, "FILE_OPEN");
                 });
         }},
    };

    std::map<std::string, std::vector<Chunk>> examples = ReadExamples(ZELAGENT_SOURCE_DIR "/docs/protocol.md");
    for (const auto& example : examples) EXPECT_TRUE(dialogues.count(example.first)) << example.first;
    for (const auto& d : dialogues) {
        if (d.first == "send-fast" && !root) {
            printf("send-fast skipped: the example's files belong to root\n");
            continue;
        }
        const std::vector<Chunk>& expected = examples[d.first];
        std::vector<Chunk> got = d.second();
        bool same = got.size() == expected.size();
        for (size_t i = 0; same && i < got.size(); i++) {
            const Chunk& e = expected[i];
            same = got[i].side == e.side &&
                   (e.pattern.empty() ? got[i].bytes == e.bytes
                                      : std::regex_match(got[i].bytes, std::regex(e.pattern == "<key>" ? "[0-9a-f]{32}"
                                                                                                      : "[0-9a-f]+")));
        }
        EXPECT_TRUE(same) << d.first << " sends:\n" << Notation(got);
    }
}

}  // namespace
