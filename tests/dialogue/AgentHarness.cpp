#include "dialogue/AgentHarness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/Globals.h"
#include "records/Config.h"
#include "support/Process.h"
#include "transport/Sock.h"

AgentDaemon::AgentDaemon(const std::string& config_lines, const std::function<void(const std::string&)>& prepare) {
    program_ = InstallAgent(dir_);
    port_ = FreePort();
    WriteWholeFile(dir_ + "/conf/config", config_lines + "local_port=" + std::to_string(port_) + "\n");
    if (prepare) prepare(dir_);
    pid_ = StartProgram({program_}, dir_ + "/console");
}

AgentDaemon::~AgentDaemon() {
    Stop();
    // A restart or an update leaves a successor that is no child of ours; the
    // pid file names it. It goes too, before the home does.
    pid_t pid = atoi(ReadWholeFile(path("conf/pid")).c_str());
    std::string successor = "/proc/" + std::to_string(pid) + "/cmdline";
    for (int i = 0; pid > 0 && i < 250 && ReadWholeFile(successor).find(dir_) != std::string::npos; i++) {
        kill(pid, SIGKILL);  // a zombie's command line reads empty
        usleep(20000);
    }
}

bool AgentDaemon::Started(double seconds) {
    return WaitForText(dir_ + "/conf/logs/messages", "Waiting for connection at port", seconds);
}

int AgentDaemon::Stop() {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return WaitExit(20);
}

int AgentDaemon::WaitExit(double seconds) {
    if (pid_ > 0) {
        status_ = WaitProgram(pid_, seconds);
        pid_ = -1;
    }
    return status_;
}

bool AgentDaemon::Running() { return pid_ > 0 && kill(pid_, 0) == 0; }

bool AgentDaemon::Restart() {
    Stop();
    // The next start rotates the messages file: wait for the new listener.
    unlink((dir_ + "/conf/logs/messages").c_str());
    pid_ = StartProgram({program_}, dir_ + "/console");
    return Started();
}

std::string AgentDaemon::Messages() const { return ReadWholeFile(dir_ + "/conf/logs/messages"); }

Sock* AgentDaemon::Connect(const char* address, const char* source) {
    Sock* sock = new Sock(AF_INET, SOCK_STREAM, 0);
    sock->timeout = 30;
    if ((source && !sock->Bind(0, source)) || !sock->Connect(address, port_) || !sock->Identify()) {
        delete sock;
        return nullptr;
    }
    return sock;
}

std::string AgentDaemon::Ask(Sock* sock, const std::string& command) {
    sock->Write(command.c_str(), (unsigned)command.size());
    return NextPacket(sock);
}

ServerSide::ServerSide(const char* name) {
    snprintf(config->name, sizeof(config->name), "%s", name);
}

AgentDaemon* DaemonSuite::daemon_ = nullptr;

void DaemonSuite::StartDaemon(const std::string& config_lines) {
    daemon_ = new AgentDaemon(config_lines);
    ASSERT_TRUE(daemon_->Started()) << ReadWholeFile(daemon_->dir() + "/console");
}

void DaemonSuite::TearDownTestSuite() {
    delete daemon_;
    daemon_ = nullptr;
}

void DaemonSuite::SetUp() {
    ASSERT_NE(nullptr, daemon_);
    sock_.reset(daemon_->Connect());
    ASSERT_NE(nullptr, sock_);
}

void DaemonSuite::TearDown() {
    if (sock_ && !sock_->dead) sock_->CloseConnection();
}
