// Command-line diagnostics over the encrypted container, gzip compression
// and version differences. Each operation returns the process exit status:
// 0 on success, 1 on failure (the failure itself is logged by the routine
// that met it).
#pragma once

// The key of -c and -d when none is given.
extern const char* const kBuiltInCryptKey;

// -c, --crypt in out [key]: encrypts `in` into the container `out` (plain
// chunks); prints "It took: %2.2f sec\n".
int CryptOption(const char* in, const char* out, const char* key);
// -d, --decrypt in out [key]: decrypts the container `in` (a file or a
// directory of parts) into `out`; prints "It took: %2.2f sec\n".
int DecryptOption(const char* in, const char* out, const char* key);
// --zip, -z in out and --unzip, -u in out: gzip compression of one file
// into another; prints "It took: %2.2f sec\n".
int ZipOption(const char* in, const char* out);
int UnzipOption(const char* in, const char* out);
// --diff file1 file2 file3: the difference of file1 against file2 into
// file3; prints "result is: %i". Success when diff ran (0 identical, 1
// different).
int DiffOption(const char* first, const char* second, const char* out);
// --printlogs set: times storage-path building for the set; prints
// "%i done in %2.2fs".
int PrintLogsOption(const char* set);

// Runs argv[1] when it names one of the options above and its arguments
// are there; -1 otherwise (the caller then prints the help).
int RunContainerOption(int argc, char** argv);
