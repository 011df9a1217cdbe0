// A throw-away agent home for one test: a temporary folder holding the
// process globals' layout. The globals are built on construction and torn
// down (files removed, working directory restored) on destruction.
#pragma once

#include <string>
#include <vector>

class TestHome {
public:
    // `daemon` builds the globals as the daemon would (argc 1); otherwise as
    // a command-line run, which logs under conf/cli_logs/.
    explicit TestHome(bool daemon = false);
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    const std::string& dir() const { return dir_; }
    // dir() + "/" + relative
    std::string path(const std::string& relative) const;

private:
    std::string dir_;
    std::string old_cwd_;
};

// Small file helpers for tests.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& content, int mode = 0644);
// Sets the access and modification times of `path` itself (not of a link's target).
void SetTime(const std::string& path, long seconds);
// True when lstat finds the path (a dangling link counts).
bool PathExists(const std::string& path);
// A character device behaving as /dev/null or, with `full`, as /dev/full,
// made at `path` so that a test never risks the machine's own; false where
// device nodes cannot be made.
bool MakeMemoryDevice(const std::string& path, bool full);
bool IsCharDevice(const std::string& path);
// True when `dir` holds a temporary file or folder of ReplacementFile.
bool HasTemporaryLeftovers(const std::string& dir);
// The 32 hexadecimal digits of the MD5 digest of `bytes`.
std::string Md5Text(const std::string& bytes);
// `n` bytes from a seeded generator: the same seed gives the same bytes.
std::string RandomBytes(size_t n, unsigned seed);
// A local path in the server's form: every '/' becomes '|'.
std::string ToWire(std::string path);
// Makes a fresh temporary folder; RemoveTree deletes it recursively.
std::string MakeTempDir();
void RemoveTree(const std::string& path);
// Names in `dir` (not below it), sorted; empty when it cannot be read.
std::vector<std::string> Entries(const std::string& dir);

// A fresh temporary folder that is the string of its path, removed with
// everything in it when the object goes, however the test ends.
struct TempDir : std::string {
    TempDir() : std::string(MakeTempDir()) {}
    ~TempDir() { RemoveTree(*this); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};
