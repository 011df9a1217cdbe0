// The handlers of the command-line options, by the file that holds them.
// Each takes main's argc and argv (its arguments start at argv[2]; the
// option table has checked their number) and returns the exit status.
#pragma once

// Public options (PublicOptions.cpp).
int OptionVersion(int argc, char** argv);
int OptionSave(int argc, char** argv);
int OptionStop(int argc, char** argv);
int OptionCompileOptions(int argc, char** argv);
int OptionHelp(int argc, char** argv);
int OptionListen(int argc, char** argv);
int OptionStats(int argc, char** argv);
int OptionUpdate(int argc, char** argv);

// Network diagnostics (NetworkDiagnostics.cpp).
int OptionIdentify(int argc, char** argv);
int OptionGet(int argc, char** argv);
int OptionGetFast(int argc, char** argv);
int OptionAckBug(int argc, char** argv);
int OptionSend(int argc, char** argv);
int OptionOpen(int argc, char** argv);
int OptionRawConsole(int argc, char** argv);
int OptionContinuous(int argc, char** argv);
int OptionVerify(int argc, char** argv);
int OptionVerify2(int argc, char** argv);
int OptionSpam(int argc, char** argv);
int OptionFastTest(int argc, char** argv);
int OptionChallenge(int argc, char** argv);
int OptionDetect(int argc, char** argv);
int OptionReadBroadcast(int argc, char** argv);
int OptionBroadcast(int argc, char** argv);

// Configuration, backup sets, keys and digests (RecordDiagnostics.cpp).
int OptionReadConfig(int argc, char** argv);
int OptionNoSuchSet(int argc, char** argv);
int OptionUpdateSets(int argc, char** argv);
int OptionSetLookup(int argc, char** argv);
int OptionUpdateClients(int argc, char** argv);
int OptionStatsTodo(int argc, char** argv);
int OptionKeys(int argc, char** argv);
int OptionPasswordKeys(int argc, char** argv);
int OptionPrivateKey(int argc, char** argv);
int OptionMd5(int argc, char** argv);
int OptionMd5Sum(int argc, char** argv);
int OptionBench(int argc, char** argv);
int OptionServerName(int argc, char** argv);
int OptionServerAddress(int argc, char** argv);
int OptionName(int argc, char** argv);
int OptionNewVersion(int argc, char** argv);

// Files and folders (FileDiagnostics.cpp).
int OptionSortFile(int argc, char** argv);
int OptionVerifyDirFile(int argc, char** argv);
int OptionWriteFile(int argc, char** argv);
int OptionManyFiles(int argc, char** argv);
int OptionRead(int argc, char** argv);
int OptionSize(int argc, char** argv);
int OptionCount(int argc, char** argv);
int OptionCopy(int argc, char** argv);
int OptionThreadCopy(int argc, char** argv);
int OptionUnlink(int argc, char** argv);
int OptionRemoveTree(int argc, char** argv);
int OptionSymlink(int argc, char** argv);
int OptionDeconstruct(int argc, char** argv);
int OptionChmod(int argc, char** argv);
int OptionFree(int argc, char** argv);

// Text, time, processes and the platform (SystemDiagnostics.cpp).
int OptionStorage(int argc, char** argv);
int OptionSophos(int argc, char** argv);
int OptionWildCompare(int argc, char** argv);
int OptionDeepWildCompare(int argc, char** argv);
int OptionWildStartsWith(int argc, char** argv);
int OptionEndsWith(int argc, char** argv);
int OptionIconv(int argc, char** argv);
int OptionReplace(int argc, char** argv);
int OptionExecute(int argc, char** argv);
int OptionExec(int argc, char** argv);
int OptionCheckSmb(int argc, char** argv);
int OptionUid(int argc, char** argv);
int OptionPlugins(int argc, char** argv);
int OptionTimer(int argc, char** argv);
int OptionTime(int argc, char** argv);
int OptionDeb(int argc, char** argv);
int OptionRand(int argc, char** argv);
int OptionMutex(int argc, char** argv);
int OptionAllocate(int argc, char** argv);
int OptionVectors(int argc, char** argv);
int OptionBufsiz(int argc, char** argv);
int OptionPrinter(int argc, char** argv);
int OptionCheckBugPthread(int argc, char** argv);
int OptionCheckBugReaddir(int argc, char** argv);
int OptionCheckBugException(int argc, char** argv);
// Accepted names that do nothing visible.
int OptionNothing(int argc, char** argv);
