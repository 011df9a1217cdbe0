// The housekeeping loop: announcements while anonymous (in process and
// from the real daemon, always to a loopback receiver), the status export,
// and the identification cadence against a fake server while connections
// touch the list of backup sets that each identification replaces.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/Scheduler.h"
#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "dialogue/AgentHarness.h"
#include "foundation/Threads.h"
#include "records/Config.h"
#include "support/Process.h"
#include "support/TestHome.h"
#include "transport/Sock.h"

namespace {

// Polls `seen()` until it reaches `count`; false after `seconds`.
template <class Seen>
bool WaitUntil(size_t count, double seconds, Seen seen) {
    for (double end = Now() + seconds; Now() < end; usleep(20000))
        if (seen() >= count) return true;
    return false;
}

// A UDP receiver on 127.0.0.1 that records every datagram with its arrival
// time, in a thread of its own.
class Announcements {
public:
    Announcements() : sock_(AF_INET, SOCK_DGRAM, 0) {
        EXPECT_TRUE(sock_.Bind(0, "127.0.0.1"));
        thread_ = std::thread([this] {
            while (!stop_) {
                if (!sock_.IsReadable(0, 100000, true)) continue;
                char buffer[256];
                ssize_t n = recv(sock_.sock, buffer, sizeof(buffer), 0);
                if (n < 0) continue;
                std::lock_guard<std::mutex> lock(m_);
                got_.emplace_back(Now(), std::string(buffer, (size_t)n));
            }
        });
    }
    ~Announcements() {
        stop_ = true;
        thread_.join();
    }
    int port() const { return sock_.port; }
    std::vector<std::pair<double, std::string>> Got() {
        std::lock_guard<std::mutex> lock(m_);
        return got_;
    }
    bool WaitFor(size_t count, double seconds) {
        return WaitUntil(count, seconds, [this] { return Got().size(); });
    }

private:
    Sock sock_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex m_;
    std::vector<std::pair<double, std::string>> got_;
};

struct SchedulerDaemonTest : ::testing::Test { ServerSide server_{"test-server"}; };

// Gaps are bounded loosely: a busy machine delays an announcement, never
// brings it forward. A name ends the announcements and starts the export.
TEST_F(SchedulerDaemonTest, AnonymousAgentAnnouncesEverySecondUntilNamedAndStopsOnSigterm) {
    Announcements heard;
    setenv("ZELAGENT_BROADCAST_PORT", std::to_string(heard.port()).c_str(), 1);
    setenv("ZELAGENT_ANNOUNCE_SECONDS", "1", 1);  // to `heard`, once a second
    std::unique_ptr<AgentDaemon> daemon(new AgentDaemon(""));
    unsetenv("ZELAGENT_BROADCAST_PORT");
    unsetenv("ZELAGENT_ANNOUNCE_SECONDS");
    ASSERT_TRUE(heard.WaitFor(3, 30)) << daemon->Messages();
    ASSERT_TRUE(daemon->Started());
    EXPECT_FALSE(PathExists(daemon->path("conf/threads")));  // no export while announcing
    std::vector<std::pair<double, std::string>> got = heard.Got();
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ("client", got[i].second);
        double gap = i > 0 ? got[i].first - got[i - 1].first : 1;
        EXPECT_TRUE(gap > 0.5 && gap < 5) << i << ": " << gap;
    }
    std::unique_ptr<Sock> sock(daemon->Connect());
    ASSERT_NE(nullptr, sock);
    EXPECT_EQ("CONFIG_OK", daemon->Ask(sock.get(), "config name set renamed"));
    EXPECT_TRUE(WaitForText(daemon->path("conf/threads"), "<status>008000</status>", 10));
    size_t before = heard.Got().size();
    usleep(2500000);
    EXPECT_EQ(before, heard.Got().size());
    EXPECT_EQ(0, daemon->Stop());
}

// Serves the agent's identifications on 127.0.0.2: an answering server
// hands out two backup sets each time; a server that is down closes every
// connection at once, so the handshake fails.
class IdentifyingServer {
public:
    IdentifyingServer() : listener_(AF_INET, SOCK_STREAM, 0) {
        EXPECT_TRUE(listener_.Bind(0, "127.0.0.2"));
        EXPECT_TRUE(listener_.Listen());
        thread_ = std::thread([this] { Serve(); });
    }
    ~IdentifyingServer() {
        stop_ = true;
        thread_.join();
    }
    int port() const { return listener_.port; }
    void SetAnswering(bool on) { answering_ = on; }
    std::vector<std::pair<double, bool>> Attempts() {
        std::lock_guard<std::mutex> lock(m_);
        return attempts_;
    }
    bool WaitFor(size_t count, double seconds) {
        return WaitUntil(count, seconds, [this] { return Attempts().size(); });
    }

private:
    void Serve() {
        while (!stop_) {
            if (!listener_.IsReadable(0, 100000, true)) continue;
            std::unique_ptr<Sock> agent(listener_.Accept(false));
            if (!agent) continue;
            bool answering = answering_;
            {
                std::lock_guard<std::mutex> lock(m_);
                attempts_.emplace_back(Now(), answering);
            }
            if (!answering) continue;
            agent->timeout = 20;
            try {
                if (!agent->Authenticate()) continue;
                agent->Read();  // "version"
                agent->Write("1.0.0.0");
                agent->Read();  // "config time retrieve"
                agent->Write("5 7");
                agent->Read();  // "config client getv2 all ..."
                agent->Write(
                    "2\nb.1 10.0.0.1 \"one\" Linux 0 1 * * * 3 1 100 200 0 x 0 0 0 3 x 7\n"
                    "b.2 10.0.0.2 \"two\" Linux 0 1 * * * 3 1 100 200 0 x 0 0 0 3 x 8\n");
                agent->Read();  // "close"
            } catch (SocketError&) {
                ReleaseSocketError();
            }
        }
    }
    Sock listener_;
    std::thread thread_;
    std::atomic<bool> stop_{false}, answering_{true};
    std::mutex m_;
    std::vector<std::pair<double, bool>> attempts_;
};

TEST_F(SchedulerDaemonTest, IdentifiesOnItsIntervalRetriesSoonerWhileTheServerIsDownDuringFilesSaved) {
    IdentifyingServer server;
    setenv("ZELAGENT_IDENTIFY_SECONDS", "2", 1);
    setenv("ZELAGENT_IDENTIFY_RETRY_SECONDS", "1", 1);
    AgentDaemon daemon("name=agent-under-test\nserver=127.0.0.2 test-server\nserver_port=" +
                       std::to_string(server.port()) + "\n");
    unsetenv("ZELAGENT_IDENTIFY_SECONDS");
    unsetenv("ZELAGENT_IDENTIFY_RETRY_SECONDS");
    ASSERT_TRUE(daemon.Started());

    // Meanwhile a connection keeps updating a set that every successful
    // identification replaces.
    std::atomic<bool> done{false};
    std::atomic<int> saved{0};
    std::thread writer([&] {
        std::unique_ptr<Sock> sock(daemon.Connect());
        if (!sock) return;
        try {
            for (unsigned n = 1; !done; n++, usleep(20000)) {
                std::string line = "files_saved 1 " + std::to_string(n);
                sock->Write(line.c_str(), (unsigned)line.size());
                saved++;
            }
            sock->CloseConnection();
        } catch (SocketError&) {
            ReleaseSocketError();
        }
    });

    ASSERT_TRUE(server.WaitFor(4, 30));  // start-up, then three on the interval
    server.SetAnswering(false);
    ASSERT_TRUE(server.WaitFor(7, 30));
    server.SetAnswering(true);
    ASSERT_TRUE(server.WaitFor(9, 30));
    done = true;
    writer.join();
    EXPECT_GT(saved, 100);

    // The exact spacing is checked in process (SchedulerTest); here a failure
    // must bring the next attempt sooner than a success does.
    std::vector<std::pair<double, bool>> attempts = server.Attempts();
    double after[2] = {0, 0}, count[2] = {0, 0};
    for (size_t i = 1; i < attempts.size(); i++) {
        after[attempts[i - 1].second] += attempts[i].first - attempts[i - 1].first;
        count[attempts[i - 1].second]++;
    }
    ASSERT_TRUE(count[0] > 0 && count[1] > 0);
    EXPECT_LT(after[0] / count[0], after[1] / count[1]);
    EXPECT_TRUE(daemon.Running());
    EXPECT_EQ(0, daemon.Stop());
    std::string config = ReadWholeFile(daemon.path("conf/config"));
    EXPECT_NE(std::string::npos, config.find("client=b.2 10.0.0.2 \"two\" Linux 1 0 1 100 200 8 0\n")) << config;
}

// In process: the stop flag ends the announcement phase too.
TEST(SchedulerTest, AnnouncementPhaseEndsOnTheStopFlag) {
    TestHome home(true);
    Announcements heard;
    snprintf(config->name, sizeof(config->name), "anonymous");
    auto phase = std::async(std::launch::async, [&] { AnnounceWhileAnonymous(heard.port(), 1); });
    ASSERT_TRUE(heard.WaitFor(2, 10));
    set_kill(1);
    ASSERT_EQ(std::future_status::ready, phase.wait_for(std::chrono::seconds(5)));
    set_kill(0);
}

TEST(SchedulerTest, PassExportsTheStatusAndSpacesIdentificationsByTheirOutcome) {
    TestHome home(true);
    long rate = ClockTickRate();
    SchedulerClock clock{Clock()};
    thread_manager->SetState(kStateSchedulerClient);
    SchedulerPass(clock);  // not due: nothing but the export
    EXPECT_NE(std::string::npos, ReadWholeFile(res->threads_file).find("<status>008000</status>"));

    // Long overdue. Without a server the identification succeeds at once;
    // with an unreachable one the next attempt is one retry interval away,
    // not on the next pass.
    // next_in: seconds until the next identification is due.
    const struct { const char* server; double next_in; } cases[] = {{"null null", 3600}, {"127.0.0.2 nobody", 60}};
    for (const auto& c : cases) {
        config->ReadLine((std::string("server=") + c.server).c_str());
        config->server_port = FreePort();
        clock.last_identification = Clock() - 5 * 3600 * rate;
        SchedulerPass(clock);
        double due_in = 3600 - (double)(Clock() - clock.last_identification) / rate;
        EXPECT_NEAR(c.next_in, due_in, 5) << c.server;
    }
}

}  // namespace
