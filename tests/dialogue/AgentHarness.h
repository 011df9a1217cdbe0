// A real agent daemon in a temporary home, and a test-side "server" that
// connects to it as the appliance does.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "support/Process.h"
#include "support/TestHome.h"
#include "transport/Sock.h"

// The next packet's text (read first: reading may move read_buffer).
inline std::string NextPacket(Sock* sock) {
    unsigned n = sock->Read();
    return std::string(sock->read_buffer, n);
}

class AgentDaemon {
public:
    // Writes conf/config from `config_lines` (the listening port is added)
    // and starts the agent; Started() waits for its listener.
    explicit AgentDaemon(const std::string& config_lines = "name=agent-under-test\n",
                         const std::function<void(const std::string& dir)>& prepare = nullptr);
    ~AgentDaemon();
    bool Started(double seconds = 30);
    // Sends SIGTERM (when still running) and waits; the exit status.
    int Stop();
    // Waits for the daemon to end on its own; the exit status or -1.
    int WaitExit(double seconds);
    bool Running();
    // Stops the daemon and starts it again in the same home.
    bool Restart();

    // A connection authenticated as `my_name` through `address`, from the
    // local address `source` when given; null on failure. The caller owns it.
    Sock* Connect(const char* address = "127.0.0.2", const char* source = nullptr);
    // One command, one reply.
    std::string Ask(Sock* sock, const std::string& command);

    const std::string& dir() const { return dir_; }
    std::string path(const std::string& relative) const { return dir_ + "/" + relative; }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string Messages() const;

private:
    TempDir dir_;  // removed last, once the daemon is stopped
    std::string program_;
    int port_;
    pid_t pid_;
    int status_ = -1;
};

// The test process's own globals, named as the server.
class ServerSide {
public:
    explicit ServerSide(const char* name = "test-server");
    TestHome home;
};

// Suites sharing one daemon (started by SetUpTestSuite, which a suite may
// hide to pass its configuration); each test gets its own authenticated
// connection, the server's globals and a work folder.
class DaemonSuite : public ::testing::Test {
protected:
    static void StartDaemon(const std::string& config_lines);
    static void SetUpTestSuite() { StartDaemon("name=agent-under-test\n"); }
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;
    std::string Ask(const std::string& command) { return daemon_->Ask(sock_.get(), command); }

    static AgentDaemon* daemon_;
    ServerSide server_;
    std::unique_ptr<Sock> sock_;
    TempDir work_;
};
