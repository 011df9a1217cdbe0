// The key commands of the dispatcher: the administrator's password, the RSA
// key files the server installs, and a text transformed with the agent's own
// private key.
#include <stdio.h>
#include <string.h>

#include <string>

#include "crypto/AesVetrak.h"
#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "dialogue/Dispatcher.h"
#include "foundation/Log.h"
#include "transport/Sock.h"

namespace {

// "get_key " keeps at most this many characters of its text.
const size_t kGetKeyText = 2555;

// The text between the first two double quotes of `rest` (empty when
// there are none).
std::string QuotedName(const char* rest) {
    const char* open = strchr(rest, '"');
    if (!open) return std::string();
    const char* close = strchr(open + 1, '"');
    return close ? std::string(open + 1, (size_t)(close - open - 1)) : std::string(open + 1);
}

// Reads the modulus line and the exponent line that follow the command and
// stores them as `kind` ("priv" or "pub") of the quoted name (the agent's
// own key when it is empty). No reply.
void InstallKey(Session& s, const char* rest, bool priv) {
    std::string name = QuotedName(rest);
    s.sock->Read();
    std::string modulus(s.sock->read_buffer);
    s.sock->Read();
    std::string exponent(s.sock->read_buffer);
    RSAKey key;
    // A text that is not a key would leave a file no handshake can use.
    if (!key.SetModulo(modulus.c_str()) || !key.SetExponent(exponent.c_str())) {
        PrintError("%s(%s): not a key", priv ? "set_priv_key" : "set_pub_key", name.c_str());
        return;
    }
    const char* owner = name.empty() ? nullptr : name.c_str();
    int written = priv ? WritePrivKey(&key, owner, nullptr) : WritePubKey(&key, owner);
    if (!written) PrintError("%s(%s): key not written", priv ? "set_priv_key" : "set_pub_key", name.c_str());
}

}  // namespace

namespace commands {

void SetPassword(Session& s, const char*, const char* rest) {
    // "<user> <old password> <new password>"
    char user[64] = "", old_password[64] = "", new_password[64] = "";
    sscanf(rest, "%63s %63s %63s", user, old_password, new_password);
    if (!IsValidAesKey(old_password, 1) || !IsValidAesKey(new_password, 1))
        return (void)s.sock->Write("PASSWORD_BAD");
    if (strcmp(user, "admin") != 0) {
        // The key would be "zelgui_<user>", but the user's backup set is
        // looked up by identifier and this agent keeps no registry.
        return (void)s.sock->Write("CONFIG_UNKNOWN_CLIENT");
    }
    RSAKey key;
    if (ReadPrivKey(&key, "zelgui_admin", old_password) != 1) return (void)s.sock->Write("PASSWORD_BAD");
    s.sock->Write(WritePrivKey(&key, "zelgui_admin", new_password) == 1 ? "PASSWORD_OK" : "PASSWORD_BAD");
}

void SetPrivKey(Session& s, const char*, const char* rest) {
    InstallKey(s, rest, true);
}

void SetPubKey(Session& s, const char*, const char* rest) {
    InstallKey(s, rest, false);
}

void GetKey(Session& s, const char*, const char* rest) {
    char text[kGetKeyText + 1];
    snprintf(text, sizeof(text), "%s", rest);
    RSAKey key;
    ReadPrivKey(&key, nullptr, nullptr);
    // Without a private key the modulus is 0 and the text comes back as sent.
    RSACrypt(text, sizeof(text), &key);
    PrintDebug("Sending %s", text);
    s.sock->Write(text);
}

}  // namespace commands
