// AES key texts made by the agent and the paths of the RSA key files.
#pragma once

#include <stddef.h>

// A new key text of 32 lower-case hexadecimal digits (never a leading 0),
// allocated with malloc: the caller releases it with free. Each call seeds a
// fresh generator with the clock in seconds, so two calls in the same second
// give the same key.
char* GetRandomAESKey();

// The path of the key file `suffix` ("pub", "priv") of `name` into `out`
// (`size` bytes), under the configuration directory:
//   no name (null or empty)  -> <conf>/<suffix>
//   "zelgui_R"               -> <conf>/R/gui_<suffix>
//   any other name N         -> <conf>/N/<suffix>
// The set registry finds nothing in this agent, so names are used as they
// are. Names come from the network: one holding a '/' or naming "." or ".."
// would leave the configuration directory, so it gives false and an empty
// `out`. False too when the path does not fit.
bool GetKeyPathFromName(char* out, size_t size, const char* name, const char* suffix);
