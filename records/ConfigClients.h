// The one way the configuration commands reach the global configuration's
// list of backup sets (`config->clients`), to read it, copy it or replace
// it. Other threads read the same list (identification, the handshake, the
// housekeeping loop): whatever guards the list is taken here, around `use`,
// and nowhere else in these commands.
//
// REQUIRES: the global `config` exists. `use` must not keep pointers to the
// records once it returns, and must not reach the list by any other way
// (copying or writing the configuration, calling back into this function):
// the guard is not recursive.
#pragma once

#include <vector>

#include "core/Globals.h"
#include "records/Client.h"
#include "records/Config.h"

template <typename Use>
auto WithConfigClients(Use&& use) -> decltype(use(config->clients)) {
    ClientsLock lock;
    return use(config->clients);
}
