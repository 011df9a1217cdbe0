// The byte examples of docs/protocol.md, produced again by the real code
// through a recording relay; a changed encoder prints what it sends now.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "core/Globals.h"
#include "crypto/AesVetrak.h"
#include "dialogue/AgentHarness.h"
#include "dialogue/Dispatcher.h"
#include "dialogue/FileStreams.h"
#include "dialogue/SingleFileTransfer.h"
#include "records/Config.h"
#include "transport/Loopback.h"

namespace {

// One side's bytes until the other side spoke: 'S' from the server (the
// connecting side), 'A' from the agent. A pattern ("<hex>", "<key>") stands
// for a whole message of random hexadecimal digits.
struct Chunk {
    char side;
    std::string bytes, pattern;
};

// "<!-- golden: NAME -->", then a fenced block of lines "S> tokens" or
// "A> tokens": "text" (escapes \n \0 \" \\), a hex byte HH, HH*N for N
// copies, <hex>, <key>; "#" starts a comment.
std::map<std::string, std::vector<Chunk>> ReadExamples(const std::string& path) {
    std::map<std::string, std::vector<Chunk>> examples;
    std::istringstream doc(ReadWholeFile(path));
    std::string line, name;
    std::smatch m;
    bool inside = false;
    while (std::getline(doc, line)) {
        if (std::regex_match(line, m, std::regex("<!-- golden: (\\S+) -->"))) name = m[1];
        if (!name.empty() && line.rfind("```", 0) == 0) {
            inside = !inside;
            if (!inside) name.clear();
            continue;
        }
        if (!inside || line.size() < 3 || (line[0] != 'S' && line[0] != 'A') || line[1] != '>') continue;
        std::vector<Chunk>& chunks = examples[name];
        if (chunks.empty() || chunks.back().side != line[0]) chunks.push_back({line[0], "", ""});
        std::string& bytes = chunks.back().bytes;
        for (size_t i = 2; i < line.size() && line[i] != '#'; i++) {
            if (line[i] == '<') {
                size_t end = line.find('>', i);
                chunks.back().pattern = line.substr(i, end + 1 - i);
                i = end;
            } else if (line[i] == '"') {
                for (i++; line[i] != '"'; i++) {
                    char c = line[i];
                    if (c == '\\') c = line[++i] == 'n' ? '\n' : line[i] == '0' ? '\0' : line[i];
                    bytes += c;
                }
            } else if (line[i] != ' ') {
                char* end = nullptr;
                char byte = (char)strtol(line.c_str() + i, &end, 16);
                long copies = *end == '*' ? strtol(end + 1, &end, 10) : 1;
                bytes.append((size_t)copies, byte);
                i = (size_t)(end - line.c_str()) - 1;
            }
        }
    }
    return examples;
}

// What was recorded, printable bytes as they are and every other in hex.
std::string Notation(const std::vector<Chunk>& chunks) {
    std::string out;
    for (const Chunk& c : chunks) {
        out += std::string(1, c.side) + "> ";
        for (unsigned char b : c.bytes) {
            char hex[8];
            snprintf(hex, sizeof(hex), b >= 32 && b < 127 && b != '\\' ? "%c" : "\\x%02x", b);
            out += hex;
        }
        out += "\n";
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
    std::vector<Chunk> Finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return chunks_;
    }
    Sock* server;
    Sock* agent;

private:
    void Forward() {
        pollfd fds[2] = {{front_.server->sock, POLLIN, 0}, {back_.client->sock, POLLIN, 0}};
        char buffer[65536];
        // Once asked to stop, ends at the first silence: what a side sent
        // just before is recorded first.
        while (poll(fds, 2, 50) > 0 || !stop_) {
            for (int i = 0; i < 2; i++) {
                if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
                ssize_t n = recv(fds[i].fd, buffer, sizeof(buffer), 0);
                if (n <= 0) return;
                char side = i == 0 ? 'S' : 'A';
                if (chunks_.empty() || chunks_.back().side != side) chunks_.push_back({side, "", ""});
                chunks_.back().bytes.append(buffer, (size_t)n);
                send(fds[1 - i].fd, buffer, (size_t)n, MSG_NOSIGNAL);
            }
        }
    }
    LoopbackPair front_, back_;
    std::vector<Chunk> chunks_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

typedef std::function<void(Sock*)> Side;

// Runs `agent` on the agent's side (in a thread) while `server` talks; both
// get the connection cipher of `key` when one is given.
std::vector<Chunk> Exchange(const Side& agent, const Side& server, const char* key = nullptr) {
    Relay r;
    if (key) {
        r.server->aes = new aes_cipher_vetrak(key);
        r.agent->aes = new aes_cipher_vetrak(key);
    }
    std::thread side([&] { agent(r.agent); });
    server(r.server);
    side.join();
    return r.Finish();
}

// The real dispatcher, on a connection that counts as authenticated and
// has no cipher; it serves until the server's "close".
void Serve(Sock* agent) {
    Sock* own = new Sock(AF_INET, SOCK_STREAM, 0, dup(agent->sock));
    own->connected = true;
    own->timeout = 5;
    ReceiveMessages(own);
}

void Ask(Sock* sock, const char* line) {
    sock->Write(line);
    sock->Read();
}

TEST(ProtocolDocument, EveryGoldenExampleIsWhatTheCodeSendsToday) {
    TestHome home;
    std::string file = home.path("hello.txt"), link = home.path("link");
    WriteWholeFile(file, "hello\n", 0644);
    ASSERT_EQ(0, symlink("hello.txt", link.c_str()));
    // The stream carries the owner: the example shows root's files.
    bool root = lchown(file.c_str(), 0, 0) == 0 && lchown(link.c_str(), 0, 0) == 0;
    std::string stream_list = file + "\n" + link + "\n" + home.path("missing");
    Side read = [](Sock* s) { s->Read(); };
    Side send_file = [&](Sock* a) { SendFile(a, &file[0], nullptr, nullptr); };

    std::map<std::string, std::function<std::vector<Chunk>()>> dialogues = {
        {"packet", [&] { return Exchange(read, [](Sock* s) { s->Write("echo hello"); }); }},
        {"packet-encrypted",
         [&] { return Exchange(read, [](Sock* s) { s->Write("echo hello, world!!!"); }, "0123456789abcdef0123456789abcdef"); }},
        {"handshake",
         [] {
             snprintf(config->name, sizeof(config->name), "test-server");
             AgentDaemon daemon;
             if (!daemon.Started()) return std::vector<Chunk>();
             Relay r(daemon.port());
             r.server->Identify();
             return r.Finish();
         }},
        {"commands",
         [] {
             return Exchange(Serve, [](Sock* s) {
                 for (const char* line : {"echo hello", "this_version", "query 7", "dir", "config crypt get"}) Ask(s, line);
                 s->Write("close");
             });
         }},
        {"no-footer",
         [] {
             return Exchange(Serve, [](Sock* s) {
                 Ask(s, "no_footer");
                 s->acknowledge = 0;
                 Ask(s, "echo hi");
                 s->Write("close");
             });
         }},
        {"send-fast", [&] { return Exchange([&](Sock* a) { MultiSendFiles(a, &stream_list[0], 0); }, read); }},
        {"send-single",
         [&] {
             return Exchange(send_file, [](Sock* s) {
                 s->Read();
                 Ask(s, "FILE_OPEN");
             });
         }},
        {"send-single-resume",
         [&] {
             return Exchange(send_file, [](Sock* s) {
                 s->Read();
                 Ask(s, "FILE_RESUME_PARTIAL 3 46356afe55fa3cea9cbe73ad442cad47");  // the MD5 of "hel"
                 Ask(s, "FILE_OPEN");
             });
         }},
        {"get-single",
         [&] {
             return Exchange([&](Sock* a) { GetFile(a, &home.path("got.txt")[0], nullptr, nullptr, "wb"); },
                             [](Sock* s) {
                                 Ask(s, "6 0 0 6 00000000000000000000000000000000");
                                 s->Write("hello\n");
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
            std::regex digits(e.pattern == "<key>" ? "[0-9a-f]{32}" : "[0-9a-f]+");
            same = got[i].side == e.side &&
                   (e.pattern.empty() ? got[i].bytes == e.bytes : std::regex_match(got[i].bytes, digits));
        }
        EXPECT_TRUE(same) << d.first << " sends:\n" << Notation(got);
    }
}

}  // namespace
