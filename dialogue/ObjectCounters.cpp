#include "dialogue/ObjectCounters.h"

#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "core/ThreadState.h"
#include "crypto/Aes.h"
#include "crypto/Md5.h"
#include "crypto/Rsa.h"
#include "foundation/Log.h"
#include "records/Client.h"
#include "records/Config.h"
#include "records/ConfigLists.h"
#include "selection/IncludeNode.h"
#include "transport/Sock.h"

namespace {

// Most counters are expected at 0; a few objects live once per process.
void Line(const char* format, int value, int expected) {
    if (value != expected) PrintMessage(format, (unsigned)value);
}

}  // namespace

void LogObjectCounters() {
    PrintMessage("Objects: remote_print_objects");
    Line("mot_count == %u", mot_count, 0);
    Line("aes_cipher_count == %u", aes_cipher_count, 0);
    Line("aes_state_count == %u", aes_state_count, 0);
    PrintMessage("client_count == %u (%i)", (unsigned)client_count, config ? config->GetClientCount() : 0);
    Line("config_count == %u", config_count, 1);
    Line("route_count == %u", route_count, 0);
    Line("rsa_key_count == %u", rsa_key_count, 0);
    Line("version_count == %u", version_count, 1);
    Line("thread_state_count == %u", thread_state_count, 0);
    Line("thread_node_count == %u", thread_node_count, 0);
    Line("thread_manager_count == %u", thread_manager_count, 1);
    Line("include_node_count == %u", include_node_count, 0);
    Line("md5_count == %u", md5_count, 0);
    Line("sock_count == %u", sock_count, 0);
}
