// The command-line options over the encrypted container, gzip compression
// and version differences, as handlers of the option table
// (CommandLineOption): each takes main's argc and argv, its arguments from
// argv[2] on (the table has checked their number), and returns the exit
// status, kExitSuccess or kExitFailure (the failure itself is logged by the
// routine that met it). Their rows in the table:
//   {"-c", "--crypt", 2, 3, OptionCrypt},     in out [key]
//   {"-d", "--decrypt", 2, 3, OptionDecrypt}, in out [key]
//   {"--zip", "-z", 2, 2, OptionZip},         in out
//   {"--unzip", "-u", 2, 2, OptionUnzip},     in out
//   {"--diff", nullptr, 3, 3, OptionDiff},    file1 file2 file3
//   {"--printlogs", nullptr, 1, 1, OptionPrintLogs},  set
#pragma once

// The key of -c and -d when none is given.
extern const char* const kBuiltInCryptKey;

// Encrypts `in` into the container `out` (plain chunks); prints
// "It took: %2.2f sec\n".
int OptionCrypt(int argc, char** argv);
// Decrypts the container `in` (a file or a directory of parts) into `out`;
// prints "It took: %2.2f sec\n".
int OptionDecrypt(int argc, char** argv);
// gzip compression of one file into another, and back; each prints
// "It took: %2.2f sec\n".
int OptionZip(int argc, char** argv);
int OptionUnzip(int argc, char** argv);
// The difference of file1 against file2 into file3; prints "result is: %i".
// Succeeds when diff ran (0 identical, 1 different).
int OptionDiff(int argc, char** argv);
// Times the building of storage paths for the set; prints
// "%i done in %2.2fs".
int OptionPrintLogs(int argc, char** argv);
