#include "dialogue/ObjectCounters.h"

#include "agent/Globals.h"
#include "crypto/Md5.h"
#include "crypto/Rsa.h"
#include "foundation/Log.h"
#include "records/Client.h"
#include "records/Config.h"
#include "records/ConfigLists.h"
#include "selection/IncludeNode.h"
#include "transport/Sock.h"

void LogObjectCounters() {
    PrintMessage("Objects: remote_print_objects");
    PrintMessage("client_count == %u (%i)", (unsigned)client_count, config ? config->GetClientCount() : 0);
    if (config_count != 1) PrintMessage("config_count == %u", (unsigned)config_count);
    if (route_count != 0) PrintMessage("route_count == %u", (unsigned)route_count);
    if (rsa_key_count != 0) PrintMessage("rsa_key_count == %u", (unsigned)rsa_key_count);
    if (version_count != 1) PrintMessage("version_count == %u", (unsigned)version_count);
    if (include_node_count != 0) PrintMessage("include_node_count == %u", (unsigned)include_node_count);
    if (md5_count != 0) PrintMessage("md5_count == %u", (unsigned)md5_count);
    if (sock_count != 0) PrintMessage("sock_count == %u", (unsigned)sock_count);
}
