#include "dialogue/Dispatcher.h"

#include <string.h>

#include <string>

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "foundation/Log.h"
#include "records/Config.h"
#include "transport/Sock.h"

namespace {

struct CommandEntry {
    const char* keyword;
    bool prefix;  // true: the line starts with the keyword; false: the line equals it
    CommandHandler handler;
};

// The vocabulary, by first character; inside a group the first match wins,
// so the order is part of the protocol ("get " before "get_append ").
// Keywords that end in a blank match as prefixes.
const CommandEntry kGroupBM[] = {
    {"backupdate ", true, commands::Backupdate},
    {"boulegue", false, commands::Boulegue},
    {"bouleguefast", false, commands::BoulegueFast},
    {"md5sum ", true, commands::Md5sum},
    {"md5_ides", false, commands::Md5Ides},
    {"md5_sophos", true, commands::Md5Sophos},
};
const CommandEntry kGroupC[] = {
    {"clear_logs", false, commands::ClearLogs},
    {"config ", true, commands::Configure},
    {"cwd", false, commands::Cwd},
};
const CommandEntry kGroupE[] = {
    {"echo ", true, commands::EchoText},
    {"erase_client", false, commands::EraseClient},
    {"erase ", true, commands::Erase},
    {"execute", true, commands::RunCommand},
};
const CommandEntry kGroupF[] = {
    {"files_erased", false, commands::FilesErased},
    {"files_restored", false, commands::FilesRestored},
    {"files_saved", true, commands::FilesSaved},
    {"fs_mkdir ", true, commands::FsMkdir},
    {"fs_unlink", true, commands::FsUnlink},
};
const CommandEntry kGroupG[] = {
    {"get ", true, commands::Get},
    {"get_append ", true, commands::GetAppend},
    {"get_relative ", true, commands::GetRelative},
    {"get_fast ", true, commands::GetFast},
    {"get_fast_2 ", true, commands::GetFast},
    {"get_key ", true, commands::GetKey},
};
const CommandEntry kGroupI[] = {
    {"ides_md5", false, commands::Md5Ides},
};
const CommandEntry kGroupL[] = {
    {"list ", true, commands::List},
    {"list_files_to_save ", true, commands::ListFilesToSave},
};
const CommandEntry kGroupNOPQ[] = {
    {"no_footer", false, commands::NoFooter},
    {"operating_system", false, commands::OperatingSystem},
    {"objects", false, commands::Objects},
    {"patch_config", false, commands::PatchConfig},
    {"query ", true, commands::Query},
};
const CommandEntry kGroupR[] = {
    {"reboot", false, commands::Reboot},
    {"restart", false, commands::Restart},
    {"restore ", true, commands::Restore},
};
const CommandEntry kGroupS[] = {
    {"save ", true, commands::Save},
    {"save_config", false, commands::SaveConfig},
    {"save_config_update", false, commands::SaveConfigUpdate},
    {"send ", true, commands::Send},
    {"send_fast ", true, commands::SendFast},
    {"set_password ", true, commands::SetPassword},
    {"set_priv_key ", true, commands::SetPrivKey},
    {"set_pub_key ", true, commands::SetPubKey},
    {"shutdown", false, commands::Shutdown},
    {"supersave ", true, commands::Supersave},
    {"system_error", false, commands::SystemError},
};
const CommandEntry kGroupTUVW[] = {
    {"terminate", false, commands::Terminate},
    {"test_connection", false, commands::TestConnection},
    {"this_version", false, commands::ThisVersion},
    {"update_software", false, commands::UpdateSoftware},
    {"version", false, commands::DatabaseVersion},
    {"virus_found", false, commands::VirusFound},
    {"winver", false, commands::Winver},
};

struct Group {
    const CommandEntry* entries;
    size_t count;
};

template <size_t N>
Group G(const CommandEntry (&entries)[N]) {
    return Group{entries, N};
}

Group GroupFor(char c) {
    switch (c) {
        case 'b':
        case 'm':
            return G(kGroupBM);
        case 'c':
            return G(kGroupC);
        case 'e':
            return G(kGroupE);
        case 'f':
            return G(kGroupF);
        case 'g':
            return G(kGroupG);
        case 'i':
            return G(kGroupI);
        case 'l':
            return G(kGroupL);
        case 'n':
        case 'o':
        case 'p':
        case 'q':
            return G(kGroupNOPQ);
        case 'r':
            return G(kGroupR);
        case 's':
            return G(kGroupS);
        case 't':
        case 'u':
        case 'v':
        case 'w':
            return G(kGroupTUVW);
        default:
            return Group{nullptr, 0};
    }
}

// Lines polled often or carrying a password are never logged ("set_password "
// carries two, like "set_password2").
bool IsSilent(const char* line) {
    return strcmp(line, "config client get all") == 0 || strcmp(line, "config systime get") == 0 ||
           strncmp(line, "set_password", 12) == 0;
}

void TearDown(Session& session) {
    if (session.network_changed && config) config->UpdateNetwork();
    session.pending.Drop();
    set_thinking(false);
    if (thread_manager) thread_manager->RemoveThread();
}

}  // namespace

void DispatchCommand(Session& session, const char* line) {
    Group group = GroupFor(line[0]);
    for (size_t i = 0; i < group.count; i++) {
        const CommandEntry& e = group.entries[i];
        size_t len = strlen(e.keyword);
        bool match = e.prefix ? strncmp(line, e.keyword, len) == 0 : strcmp(line, e.keyword) == 0;
        if (match) {
            e.handler(session, line, line + len);
            return;
        }
    }
    commands::Unknown(session, line, line);
}

void* ReceiveMessages(void* argument) {
    Sock* sock = static_cast<Sock*>(argument);
    if (!sock) return nullptr;
    if (!sock->connected) {
        if (!sock->Authenticate()) {
            delete sock;
            if (thread_manager) thread_manager->RemoveThread();
            return nullptr;
        }
        PrintMessage("Connected to %s @ %s:%i", sock->name, sock->ip, (int)sock->port);
    }
    Session session;
    session.sock = sock;
    set_thinking(true);
    if (thread_manager) {
        thread_manager->SetState(4);
        thread_manager->SetConnection(sock->ip, sock->name);
    }
    PrintMessage("ReceiveMessages: Waiting for first command");
    try {
        for (;;) {
            sock->Read();
            // The read buffer is reused by the commands: work on a copy.
            std::string line(sock->read_buffer);
            session.verbose = !IsSilent(line.c_str());
            if (session.verbose) PrintMessage("CMD: %s", line.c_str());
            if (line == "close") {
                PrintMessage("Done with messages");
                break;
            }
            DispatchCommand(session, line.c_str());
            // Stopping: no reply, but the connection is let go like any other.
            if (get_kill()) break;
            if (session.verbose) PrintMessage("Waiting for next message...");
        }
    } catch (SocketError& e) {
        ReleaseSocketError();
        PrintMessage("ReceiveMessages(): Socket Exception Caught: %s", e.message);
    }
    delete sock;
    TearDown(session);
    return nullptr;
}
