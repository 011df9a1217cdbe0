// Faults survived with nothing lost: a full disk, a file that changes while
// sent, a "get_fast" stream cut at every byte.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "core/Globals.h"
#include "core/Resource.h"
#include "core/ThreadManager.h"
#include "dialogue/BackupStreamSupport.h"
#include "dialogue/FileStreams.h"
#include "dialogue/SingleFileTransfer.h"
#include "foundation/ProcessLayout.h"
#include "records/Config.h"
#include "support/Process.h"
#include "support/TestHome.h"
#include "transport/Loopback.h"

using namespace backup_test;

namespace {

const std::string kOld = "the previous content";
const long long kMiB = 1048576;

// Runs `body` in a forked child with a private mount namespace and a tmpfs
// of 256 KiB on `dir`: 0 when it found nothing wrong (else it printed what),
// 77 when this machine does not let the test mount.
int OnSmallDisk(const std::string& dir, const std::function<std::string()>& body) {
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("zeltest", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=256k") != 0)
            _exit(77);
        std::string failure = body();
        fprintf(stderr, "%s\n", failure.c_str());
        _exit(failure.empty() ? 0 : 1);
    }
    return WaitProgram(pid, 60);
}

// Fills the disk, then writes `target` with `write`, which must fail.
std::string WriteOnFullDisk(const std::string& dir, const char* target, const std::function<bool()>& write) {
    WriteWholeFile(target, kOld);
    WriteWholeFile(dir + "/filler", std::string(512 * 1024, 'f'));
    return write() ? "written on a full disk" : "";
}

// What every fault must leave: the old file, no temporary, the reason logged.
std::string Check(const std::string& failure, const std::string& target, const char* reason) {
    const ProcessFolders* f = process_folders();
    std::string log = ReadWholeFile(f->errors_file) + ReadWholeFile(f->messages_file);
    if (!failure.empty()) return failure;
    if (ReadWholeFile(target) != kOld) return target + " changed";
    if (HasTemporaryLeftovers(target.substr(0, target.rfind('/')))) return "temporary file left";
    return log.find(reason) == std::string::npos ? std::string("not logged: ") + reason : "";
}

// A restore received by `receive` (its result must be -6) while the peer
// sends with `send`; the peer's "ping" afterwards must come through: the
// dialogue stayed in step.
std::string Receive(const std::string& target, const std::function<long long(Sock*)>& receive,
                    const std::function<void(Sock*)>& send) {
    WriteWholeFile(target, kOld);
    LoopbackPair pair(20);
    long long result = 0;
    std::string after;
    std::thread agent([&] {
        try {
            result = receive(pair.server.get());
            pair.server->Read();
            after = pair.server->read_buffer;
        } catch (SocketError& e) {
            after = e.message;
            ReleaseSocketError();
        }
    });
    try {
        send(pair.client.get());
        pair.client->Write("ping");
    } catch (SocketError&) {
        ReleaseSocketError();
    }
    agent.join();
    if (result != -6) return "result " + std::to_string(result);
    return after == "ping" ? "" : "out of step: " + after;
}

}  // namespace

TEST(Faults, AFullDiskLosesNoFileAndTheAgentGoesOn) {
    TestHome home;
    const std::string big = RandomBytes(kMiB, 5);
    struct Case {
        const char* what;
        std::function<std::string(const std::string& dir)> run;
    } cases[] = {
        {"get",
         [&](const std::string& dir) {
             std::string target = dir + "/restored";
             return Check(Receive(target, [&](Sock* s) { return (long long)GetFile(s, target.c_str(), 0, 0, "wb"); },
                                  [&](Sock* s) {
                                      s->FormatWrite("%i 0 0 %i", (int)kMiB, (int)kMiB);
                                      s->Read();
                                      for (size_t at = 0; at < big.size(); at += 65536) s->Write(&big[at], 65536);
                                  }),
                          target, "No space left on device");
         }},
        {"get_fast",
         [&](const std::string& dir) {
             std::string target = dir + "/restored";
             return Check(Receive(target, [&](Sock* s) { return MultiGetFile(s, target.c_str(), 0, 0, 1, 0); },
                                  [&](Sock* s) {
                                      Push(s, FileStream(big));
                                      s->FastSend();
                                  }),
                          target, "Disk is full");
         }},
        {"configuration",
         [&](const std::string& dir) {
             snprintf(res->config_file, sizeof(res->config_file), "%s/config", dir.c_str());
             return Check(WriteOnFullDisk(dir, res->config_file, [] { return config->WriteConfig() != 0; }),
                          res->config_file, "Could not open");
         }},
        {"status",
         [&](const std::string& dir) {
             snprintf(res->threads_file, sizeof(res->threads_file), "%s/threads", dir.c_str());
             thread_manager->SetModified(true);
             std::string failure = WriteOnFullDisk(dir, res->threads_file, [] { return thread_manager->Export(); });
             if (!thread_manager->GetModified()) failure = "no retry left for the next pass";
             return Check(failure, res->threads_file, "ThreadManager::Export: Could not");
         }},
    };
    for (const Case& c : cases) {
        std::string dir = home.path(c.what);
        mkdir(dir.c_str(), 0700);
        int status = OnSmallDisk(dir, [&] { return c.run(dir); });
        if (status == 77) GTEST_SKIP() << "no private mount namespace with a tmpfs here (unshare or mount refused)";
        EXPECT_EQ(0, status) << c.what << " (the child printed why)";
    }
}

// Every cut of a three-packet "get_fast" stream, from before the first
// header to the last byte of the end record, leaves the previous file and
// no temporary; the whole stream replaces it.
TEST(Faults, AGetFastStreamCutAtAnyByteLeavesThePreviousFile) {
    TestHome home;
    const std::string content = "new content", target = home.path("restored");
    std::string wire;
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
    {
        Sock writer(AF_UNIX, SOCK_STREAM, 0, fds[0]);
        writer.acknowledge = 0;
        for (const Record& r : FileStream(content)) {
            Push(&writer, Stream{r});
            writer.FastSend();
        }
    }
    char block[4096];
    for (ssize_t n; (n = read(fds[1], block, sizeof(block))) > 0;) wire.append(block, (size_t)n);
    close(fds[1]);
    for (size_t cut = 0; cut <= wire.size(); cut++) {
        WriteWholeFile(target, kOld);
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
        ASSERT_EQ((ssize_t)cut, write(fds[1], wire.data(), cut));
        shutdown(fds[1], SHUT_WR);
        long long got = -100;
        {
            Sock agent(AF_UNIX, SOCK_STREAM, 0, fds[0]);
            agent.quiet = agent.authenticated = true;
            try {
                got = MultiGetFile(&agent, target.c_str(), nullptr, nullptr, 1, 0);
            } catch (SocketError&) {
                ReleaseSocketError();
            }
        }
        close(fds[1]);
        EXPECT_EQ(cut < wire.size() ? -100 : (long long)content.size(), got) << "cut at " << cut;
        EXPECT_EQ(cut < wire.size() ? kOld : content, ReadWholeFile(target)) << "cut at " << cut;
        EXPECT_FALSE(HasTemporaryLeftovers(home.dir())) << "cut at " << cut;
    }
}

// "send_fast" of a 9 MiB file changed after its first 4 MiB chunk was read
// (the sender then waits for the first packet's footer): the announced size
// stands, the data records carry what the file held, the stream ends with
// its end record and nothing after it, and the change is logged.
TEST(Faults, AFileThatGrowsOrShrinksWhileSentKeepsTheStreamInStep) {
    TestHome home;
    const long long size = 9 * kMiB;
    struct Case {
        long long resized;
        const char* logged;
    } cases[] = {{5 * kMiB, "has shrunk by 4194304 bytes"}, {size + 10, "has grown by 10 bytes"}};
    const std::string path = home.path("changing");
    for (const Case& c : cases) {
        WriteWholeFile(path, RandomBytes((size_t)size, 9));
        LoopbackPair pair(30);
        std::thread sender([&] {
            MultiSendFile(pair.server.get(), path.c_str(), nullptr);
            pair.server->FastSend();
        });
        ASSERT_TRUE(pair.client->IsReadable(30, 0));
        ASSERT_EQ(0, truncate(path.c_str(), c.resized));
        Stream stream = ReadStream(pair.client.get());
        sender.join();
        long long data = 0;
        for (const Record& r : stream) data += r.type > 0 ? (long long)r.data.size() : 0;
        EXPECT_EQ(size + 32, stream[0].value) << c.logged;
        EXPECT_EQ(c.resized, data) << c.logged;
        EXPECT_EQ(-3, stream.back().type) << c.logged;
        EXPECT_EQ(pair.client->fast_read_size, pair.client->fast_read_position) << c.logged;
        const ProcessFolders* f = process_folders();
        EXPECT_NE(std::string::npos, ReadWholeFile(f->messages_file).find(c.logged));
    }
}
