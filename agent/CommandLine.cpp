#include "agent/CommandLine.h"

#include <string.h>

#include "agent/ContainerOptions.h"
#include "agent/Options.h"
#include "core/Globals.h"
#include "foundation/Log.h"
#include "transport/SocketError.h"

namespace {

const int kAny = kAnyArguments;

// Compared in this order, name then alias; one line per option.
const CommandLineOption kOptions[] = {
    // Public options.
    {"--version", "-v", 0, kAny, OptionVersion},
    {"--save", "-s", 1, 1, OptionSave},
    {"--stop", nullptr, 0, kAny, OptionStop},
    {"--options", nullptr, 0, kAny, OptionCompileOptions},
    {"--help", "-h", 0, kAny, OptionHelp},
    {"-l", "--listen", 0, 1, OptionListen},
    {"--stats", nullptr, 0, 1, OptionStats},
    {"--update", nullptr, 2, 2, OptionUpdate},
    // Configuration, backup sets, keys and digests.
    {"-r", nullptr, 1, 1, OptionReadConfig},
    {"--check", nullptr, 1, 1, OptionNoSuchSet},
    {"--evaluate", nullptr, 1, 1, OptionNoSuchSet},
    {"--includes", nullptr, 1, 1, OptionNoSuchSet},
    {"--read-aes-key", nullptr, 1, 1, OptionNoSuchSet},
    {"--update-client", nullptr, 1, 1, OptionNoSuchSet},
    {"--update-clients", nullptr, 0, kAny, OptionUpdateSets},
    {"--client", nullptr, 0, kAny, OptionSetLookup},
    {"--update_clients", nullptr, 0, kAny, OptionUpdateClients},
    {"--stats-todo", nullptr, 0, 1, OptionStatsTodo},
    {"--keys", nullptr, 1, 1, OptionKeys},
    {"--password-keys", nullptr, 1, 1, OptionPasswordKeys},
    {"--priv", nullptr, 2, 2, OptionPrivateKey},
    {"-c", "--crypt", 2, 3, OptionCrypt},
    {"-d", "--decrypt", 2, 3, OptionDecrypt},
    {"--zip", "-z", 2, 2, OptionZip},
    {"--unzip", "-u", 2, 2, OptionUnzip},
    {"--md5", nullptr, 1, 1, OptionMd5},
    {"--md5sum", nullptr, 1, 1, OptionMd5Sum},
    {"--bench", nullptr, 0, kAny, OptionBench},
    {"--server_name", nullptr, 0, kAny, OptionServerName},
    {"--server_ip", nullptr, 0, kAny, OptionServerAddress},
    {"--name", nullptr, 0, kAny, OptionName},
    {"--new_version", nullptr, 1, 1, OptionNewVersion},
    // Network.
    {"--identify", nullptr, 0, kAny, OptionIdentify},
    {"--get", nullptr, 1, 3, OptionGet},
    {"--getfast", nullptr, 1, 3, OptionGetFast},
    {"--ack_bug", nullptr, 1, 2, OptionAckBug},
    {"--send", nullptr, 2, 3, OptionSend},
    {"-o", "--open", 1, 3, OptionOpen},
    {"-o2", nullptr, 2, 2, OptionRawConsole},
    {"--continuous", nullptr, 1, 2, OptionContinuous},
    {"--verify", nullptr, 1, 2, OptionVerify},
    {"--verify2", nullptr, 2, 2, OptionVerify2},
    {"--spam", nullptr, 1, 2, OptionSpam},
    {"--fasttest", nullptr, 1, 2, OptionFastTest},
    {"--challenge", nullptr, 0, kAny, OptionChallenge},
    {"--detect", nullptr, 0, kAny, OptionDetect},
    {"--read_broadcast", nullptr, 0, kAny, OptionReadBroadcast},
    {"--broadcast", nullptr, 0, kAny, OptionBroadcast},
    // Files and folders.
    {"--sortfile", nullptr, 1, 1, OptionSortFile},
    {"--verify-dirfile", nullptr, 1, 1, OptionVerifyDirFile},
    {"--write_file", nullptr, 2, 3, OptionWriteFile},
    {"--many-files", nullptr, 2, 2, OptionManyFiles},
    {"--read", nullptr, 1, 1, OptionRead},
    {"--size", nullptr, 1, 1, OptionSize},
    {"--count", nullptr, 1, 1, OptionCount},
    {"--diff", nullptr, 3, 3, OptionDiff},
    {"--copy", nullptr, 2, 2, OptionCopy},
    {"--thread_copy", nullptr, 2, 2, OptionThreadCopy},
    {"--unlink", nullptr, 1, 1, OptionUnlink},
    {"--rm", nullptr, 1, 1, OptionRemoveTree},
    {"--symlink", nullptr, 2, 2, OptionSymlink},
    {"--deconstruct", nullptr, 1, 1, OptionDeconstruct},
    {"--chmod", nullptr, 1, 1, OptionChmod},
    {"--free", nullptr, 1, 1, OptionFree},
    // Text, time, processes and the platform.
    {"--storage", nullptr, 1, 1, OptionStorage},
    {"--sophos", nullptr, 0, kAny, OptionSophos},
    {"--super-sophos", nullptr, 0, kAny, OptionSophos},
    {"--wildcompare", nullptr, 2, 2, OptionWildCompare},
    {"--deepwildcompare", nullptr, 2, 2, OptionDeepWildCompare},
    {"--wildstartswith", nullptr, 2, 2, OptionWildStartsWith},
    {"--endswith", nullptr, 2, 2, OptionEndsWith},
    {"--iconv", nullptr, 3, 3, OptionIconv},
    {"--replace", nullptr, 1, 1, OptionReplace},
    {"--execute", nullptr, 1, kAny, OptionExecute},
    {"--exec", nullptr, 1, kAny, OptionExec},
    {"--check-smb", nullptr, 0, kAny, OptionCheckSmb},
    {"--uid", nullptr, 0, kAny, OptionUid},
    {"--plugins", nullptr, 0, kAny, OptionPlugins},
    {"--timer", nullptr, 0, kAny, OptionTimer},
    {"--time", nullptr, 1, 1, OptionTime},
    {"--deb", nullptr, 2, 2, OptionDeb},
    {"--rand", nullptr, 0, kAny, OptionRand},
    {"--mutex", nullptr, 0, kAny, OptionMutex},
    {"--allocate", nullptr, 0, kAny, OptionAllocate},
    {"--vectors", nullptr, 1, 1, OptionVectors},
    {"--printlogs", nullptr, 1, 1, OptionPrintLogs},
    {"--bufsiz", nullptr, 0, kAny, OptionBufsiz},
    {"--printer", nullptr, 0, kAny, OptionPrinter},
    {"--check-bug-pthread", nullptr, 0, kAny, OptionCheckBugPthread},
    {"--check-bug-readdir", nullptr, 0, kAny, OptionCheckBugReaddir},
    {"--check-bug-exception", nullptr, 0, kAny, OptionCheckBugException},
    // Accepted; nothing visible.
    {"--move", nullptr, 0, kAny, OptionNothing},
    {"--snapshot", nullptr, 0, kAny, OptionNothing},
    {"--finfo", nullptr, 0, kAny, OptionNothing},
    {"--import", nullptr, 0, kAny, OptionNothing},
    {"--delete-test", nullptr, 0, kAny, OptionNothing},
    {"--sizeof", nullptr, 0, kAny, OptionNothing},
    {"--config", nullptr, 0, kAny, OptionNothing},
    {"--update_logs", nullptr, 0, kAny, OptionNothing},
};

}  // namespace

const CommandLineOption* FindOption(const char* name) {
    if (!name) return nullptr;
    for (const CommandLineOption& option : kOptions)
        if (strcmp(name, option.name) == 0 || (option.alias && strcmp(name, option.alias) == 0)) return &option;
    return nullptr;
}

void PrintHelp() {
    PrintScreen("Usage: zelagent [OPTIONS]\n");
    PrintScreen("  %s,  %s\t\t%s\n", "-v", "--version          ", "Displays the version number");
    PrintScreen("  %s,  %s\t\t%s\n", "-s", "--save <BACKUP SET>", "Saves the clients Files");
    PrintScreen("  %s,  %s\t\t%s\n", "-h", "--help             ", "Displays this help");
    PrintScreen("  %s   %s\t\t%s\n", "  ", "--options            ", "Prints Compile Options");
}

void PrintOptions() {
    PrintMessage(
        "Compile Options: CLIENT %s __sun __svr4__ CONSOLE ZIP CRYPT GMP AES MUTEX PTHREAD REPORTING PRINT VETRAK "
        "STAT_64 _REENTRANT",
        res ? res->system_name : "");
}

int Arguments(int argc, char** argv) {
    if (argc < 2) return kExitSuccess;
    const CommandLineOption* option = FindOption(argv[1]);
    int given = argc - 2;
    if (!option || given < option->min_arguments ||
        (option->max_arguments != kAnyArguments && given > option->max_arguments)) {
        PrintHelp();
        return kExitSuccess;
    }
    try {
        return option->run(argc, argv);
    } catch (SocketError& e) {
        ReleaseSocketError();
        PrintError("%s: Socket Exception Caught: %s", argv[1], e.message);
        return kExitFailure;
    }
}
