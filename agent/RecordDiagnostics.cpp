// Diagnostics of the configuration, the backup sets, the status file, the
// keys and the digests.
#include <inttypes.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "agent/CommandLine.h"
#include "agent/Options.h"
#include "core/Globals.h"
#include "core/ThreadManager.h"
#include "crypto/Aes.h"
#include "crypto/AesVetrak.h"
#include "crypto/Md5.h"
#include "crypto/Rsa.h"
#include "crypto/RsaKeyFiles.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "records/Config.h"

namespace {

// The pass phrase whose digest protects the administration copy of the
// keys written by --keys.
const char* const kGuiPassPhrase = "428617395";
const char* const kBenchKey = "000102030405060708090a0b0c0d0e0f";

std::string Md5Text(const char* text) {
    MD5 md5;
    md5.HashString(text, 0);
    char digest[33];
    md5.GetHash(digest);
    return digest;
}

}  // namespace

int OptionReadConfig(int, char** argv) {
    Config read;
    if (!read.ReadConfig(argv[2])) {
        PrintError("Could not open %s for reading", argv[2]);
        return kExitFailure;
    }
    return read.WriteConfig() ? kExitSuccess : kExitFailure;
}

int OptionNoSuchSet(int, char** argv) {
    // The agent keeps no registry of sets by identifier: nothing is found.
    if (config->GetClientFromId(argv[2], 0)) return kExitSuccess;
    PrintError("No such client %s", argv[2]);
    return kExitFailure;
}

int OptionUpdateSets(int, char**) {
    std::vector<Client*> sets;
    config->GetClients(&sets, nullptr);
    return kExitSuccess;
}

int OptionSetLookup(int argc, char** argv) {
    Client* found = config->GetClient(argc > 2 ? argv[2] : nullptr, argc > 3 ? argv[3] : nullptr);
    PrintMessage(found ? "OK" : "NOT OK");
    return found ? kExitSuccess : kExitFailure;
}

int OptionUpdateClients(int, char**) {
    time_t start = time(nullptr);
    config->UpdateClients(0);
    PrintMessage("It took %li sec", (long)(time(nullptr) - start));
    return kExitSuccess;
}

int OptionStatsTodo(int argc, char** argv) {
    ThreadManager status;
    status.Import(argc > 2 ? argv[2] : res->threads_file);
    int64_t done, total;
    status.SumJobSizes(done, total);
    PrintScreen("%lli %lli %lli\n", (long long)done, (long long)total, (long long)(total - done));
    return kExitSuccess;
}

int OptionKeys(int, char** argv) {
    RSAKey pub, priv;
    GenerateKeyPair(&pub, &priv);
    std::string hash = Md5Text(kGuiPassPhrase);
    PrintScreen("hash == %s\n", hash.c_str());
    std::string gui = std::string("zelgui_") + argv[2];
    bool ok = WritePubKey(&pub, argv[2]) && WritePrivKey(&priv, argv[2], nullptr) &&
              WritePubKey(&pub, gui.c_str()) && WritePrivKey(&priv, gui.c_str(), hash.c_str());
    return ok ? kExitSuccess : kExitFailure;
}

int OptionPasswordKeys(int, char** argv) {
    RSAKey first, second;
    GeneratePasswordKey(&first, &second, argv[2]);
    PrintMessage("Modulo (%u digits): %s", (unsigned)first.GetModuloSize(16), first.ModuloText().c_str());
    PrintMessage("Public exponent (%u digits): %s", (unsigned)first.GetExponentSize(16),
                 first.ExponentText().c_str());
    PrintMessage("Private exponent (%u digits): %s", (unsigned)second.GetExponentSize(16),
                 second.ExponentText().c_str());
    return kExitSuccess;
}

int OptionPrivateKey(int, char** argv) {
    RSAKey key;
    bool good = ReadPrivKey(&key, argv[2], Md5Text(argv[3]).c_str()) == 1;
    PrintMessage(good ? "ALL GOOD" : "PAS BON");
    return good ? kExitSuccess : kExitFailure;
}

int OptionMd5(int, char** argv) {
    PrintScreen("md5(%s) = %s\n", argv[2], Md5Text(argv[2]).c_str());
    return kExitSuccess;
}

int OptionMd5Sum(int, char** argv) {
    if (!VerifyFileExists(argv[2])) {
        PrintError("Could not open %s for reading", argv[2]);
        return kExitFailure;
    }
    MD5 md5;
    md5.HashFile(argv[2]);
    char digest[33];
    md5.GetHash(digest);
    PrintScreen("md5(%s) = %s\n", argv[2], digest);
    return kExitSuccess;
}

int OptionBench(int, char**) {
    PrintScreen("CLOCKS_PER_SEC == %i\n", (int)CLOCKS_PER_SEC);
    aes_cipher(kBenchKey).benchmark();
    aes_cipher_vetrak(kBenchKey).benchmark();
    return kExitSuccess;
}

int OptionServerName(int, char**) {
    PrintScreen("%s\n", config->server_name);
    return kExitSuccess;
}

int OptionServerAddress(int, char**) {
    PrintScreen("%s\n", config->server_address);
    return kExitSuccess;
}

int OptionName(int, char**) {
    PrintScreen("%s %s\n", "My name is", config->name);
    return kExitSuccess;
}

int OptionNewVersion(int, char** argv) {
    Version candidate(argv[2]);
    PrintMessage("VERSION IS %i.%i.%i.%i", candidate.major, candidate.month, candidate.day, candidate.minor);
    if (Version::NewVersion(&candidate, nullptr))
        PrintMessage("%s is NEWER", argv[2]);
    else
        PrintMessage("%s is OLDER", argv[2]);
    return kExitSuccess;
}
