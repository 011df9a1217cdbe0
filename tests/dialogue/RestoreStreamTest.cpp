// The restore half against the real agent, and whole backups restored as the
// server runs them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dialogue/AgentHarness.h"
#include "dialogue/BackupStreamSupport.h"

using namespace backup_test;

namespace {

struct stat StatOf(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
}
mode_t ModeOf(const std::string& path) { return StatOf(path).st_mode; }

std::string UnixRecord(unsigned mode) {
    char text[40];
    snprintf(text, sizeof(text), "M_UNIX00000000.00000000.%08x", mode);
    return text;
}

Stream LinkStream(const std::string& target, unsigned mode) {
    long long total = (long long)target.size() + 32 + 14;
    char head[16];
    snprintf(head, sizeof(head), "M_LINK%08x", (unsigned)target.size());
    return Stream{{0, UnixRecord(S_IFLNK | mode), total}, {1, head + target, total}, {-3, "", 0}};
}

class RestoreStreamTest : public DaemonSuite {
  protected:
    std::string InPlace(const std::string& list, const std::vector<Stream>& streams) {
        return Restore(sock_.get(), "get_fast normal", list, streams);
    }
};

// Builds the tree to back up; owners other than root only when root.
void BuildTree(const std::string& src, bool root) {
    for (const char* d : {"", "/nested", "/nested/a", "/nested/a/b", "/nested/a/b/c", "/nested/sub dir"})
        mkdir((src + d).c_str(), 0755);
    const std::string files[][2] = {{"/plain.txt", "plain text\n"}, {"/empty", ""}, {"/nested/a/empty too", ""},
                                    {"/nested/a/b/c/deep.bin", RandomBytes(100000, 1)},
                                    {"/big.bin", RandomBytes(9 * 1000 * 1000 + 123, 2)},
                                    {"/nested/sub dir/with blank.txt", "blank"}, {"/it's \"quoted\"", "quotes"},
                                    {"/caf\xe9 na\xefve \\ back", "latin-1 name"}, {"/setuid-prog", "program"}};
    for (const auto& f : files) WriteWholeFile(src + f[0], f[1]);
    WriteWholeFile(src + "/private", "secret", 0600);
    WriteWholeFile(src + "/script.sh", "#!/bin/sh\n", 0755);
    symlink("plain.txt", (src + "/link-file").c_str());
    symlink("nested", (src + "/link-dir").c_str());
    symlink("nowhere/at all", (src + "/dangling").c_str());
    if (root) {
        WriteWholeFile(src + "/owned", "someone else's", 0640);
        chown((src + "/owned").c_str(), 12345, 23456);
        chown((src + "/setuid-prog").c_str(), 12345, 23456);
        lchown((src + "/dangling").c_str(), 12345, 23456);
    }
    chmod((src + "/setuid-prog").c_str(), 04755);  // after chown, which would clear it
    long t = 1000000000;
    for (const auto& entry : Snapshot(src)) SetTime(src + entry.first, t += 3600);
}

TEST_F(RestoreStreamTest, RoundTripKeepsBytesOwnersModesTimesAndLinkTargets) {
    const bool root = geteuid() == 0;
    const std::string src = work_ + "/src";
    BuildTree(src, root);
    const auto original = Snapshot(src);
    ASSERT_EQ(root ? 15u : 14u, original.size());
    EXPECT_EQ(0u, original.at("/setuid-prog").find("4755 "));

    // Back up as the server does: the catalogue, then every listed path.
    Listing l = ListFiles(sock_.get(), "include dir \"" + ToWire(src) + "|\"");
    ASSERT_EQ("LIST_DONE", l.last_reply);
    std::vector<std::string> paths;
    std::string list;
    for (const std::string& line : l.Sorted()) {
        std::vector<std::string> f = QuotedFields(line);
        ASSERT_EQ(7u, f.size()) << line;
        paths.push_back(f[2]);
        list += f[2] + "\t" + std::to_string(atol(f[5].c_str())) + "\n";
    }
    ASSERT_EQ(original.size(), paths.size());
    std::vector<Stream> streams = SendFast(sock_.get(), paths);
    ASSERT_EQ(paths.size(), streams.size());
    for (const Stream& s : streams) ASSERT_EQ(-3, s.back().type);

    // Restored under a new location: the whole path below it.
    const std::string dst = work_ + "/elsewhere";
    EXPECT_EQ("restored", Restore(sock_.get(), "get_fast relative " + ToWire(dst) + "|", list, streams));
    EXPECT_EQ("", Differences(original, Snapshot(dst + src)));

    // In place, over a tree that changed meanwhile.
    WriteWholeFile(src + "/plain.txt", "changed since");
    chmod((src + "/plain.txt").c_str(), 0777);
    chmod((src + "/setuid-prog").c_str(), 0755);
    RemoveTree(src + "/nested/a");
    unlink((src + "/link-file").c_str());
    WriteWholeFile(src + "/link-file", "a file where a link was");
    unlink((src + "/big.bin").c_str());
    symlink("/", (src + "/big.bin").c_str());
    if (root) chown((src + "/owned").c_str(), 0, 0);
    EXPECT_EQ("restored", Restore(sock_.get(), "get_fast_2 normal", list, streams));
    EXPECT_EQ("", Differences(original, Snapshot(src)));
}

TEST_F(RestoreStreamTest, PlantedLinkNeverReceivesTheRestoredMetadata) {
    const std::string victim = work_ + "/victim";
    WriteWholeFile(victim, "victim content");
    chmod(victim.c_str(), 0644);
    // A link planted where a regular file is restored in place, and a link
    // record carrying a set-user-ID mode.
    ASSERT_EQ(0, symlink(victim.c_str(), (work_ + "/planted").c_str()));
    // A link whose folders do not exist yet gets them.
    std::string list = ToWire(work_ + "/planted") + "\t1100000000\n" + ToWire(work_ + "/as-link") +
                       "\t1100000000\n" + ToWire(work_ + "/new/folders/link") + "\t0\n";
    EXPECT_EQ("restored", InPlace(list, {FileStream("restored bytes", 04755), LinkStream(victim, 04777),
                                         LinkStream("../../victim", 0777)}));
    EXPECT_EQ("victim content", ReadWholeFile(work_ + "/new/folders/link"));
    EXPECT_EQ("victim content", ReadWholeFile(victim));
    EXPECT_EQ((mode_t)(S_IFREG | 0644), ModeOf(victim));
    EXPECT_EQ((mode_t)(S_IFREG | 04755), ModeOf(work_ + "/planted"));
    EXPECT_EQ("restored bytes", ReadWholeFile(work_ + "/planted"));
    EXPECT_TRUE(S_ISLNK(ModeOf(work_ + "/as-link")));
    EXPECT_NE(1100000000, StatOf(victim).st_mtime);
}

// Files that cannot be written here, or that the sender could not read,
// leave what was there and the following files still arrive.
TEST_F(RestoreStreamTest, RefusedOrUnwritableFilesKeepTheOriginalAndTheStreamInStep) {
    WriteWholeFile(work_ + "/kept", "keep me");
    WriteWholeFile(work_ + "/not-a-folder", "a plain file");
    std::string list;
    for (const char* name : {"/kept", "/not-a-folder/child", "/gone", "/corrupt", "/last"})
        list += ToWire(work_ + name) + "\t0\n";
    WriteWholeFile(work_ + "/gone", "still here");
    WriteWholeFile(work_ + "/corrupt", "intact");
    Stream unreadable{{0, UnixRecord(S_IFREG | 0644), 100}, {1, "partial", 100}, {-1, "", 0}};
    Stream missing{{-2, "", 0}};
    Stream corrupted{{0, UnixRecord(S_IFREG | 0644), 100}, {-4, "", 0}};
    EXPECT_EQ("restored", InPlace(list, {unreadable, FileStream(RandomBytes(5000, 4), 0644), missing,
                                         corrupted, FileStream("the last one", 0600)}));
    EXPECT_EQ("keep me", ReadWholeFile(work_ + "/kept"));
    EXPECT_EQ("a plain file", ReadWholeFile(work_ + "/not-a-folder"));
    EXPECT_EQ("still here", ReadWholeFile(work_ + "/gone"));
    EXPECT_EQ("intact", ReadWholeFile(work_ + "/corrupt"));
    EXPECT_EQ("the last one", ReadWholeFile(work_ + "/last"));
    EXPECT_EQ((std::vector<std::string>{"corrupt", "gone", "kept", "last", "not-a-folder"}), Entries(work_));
}

// Metadata from other systems is consumed from the front of the records;
// alternate data streams land beside their file ("<file>:<stream>"), a
// stream name that would leave the folder is dropped; a file announced
// empty (value 0) is created and what follows stays in step.
TEST_F(RestoreStreamTest, ForeignMetadataAndTotallyEmptyFilesAreConsumedInStep) {
    std::string list;
    for (const char* name : {"/foreign", "/announced-empty", "/streams", "/next"})
        list += ToWire(work_ + name) + "\t0\n";
    std::string items = UnixRecord(S_IFREG | 0600) + "M_WFAT00000020" + "M_XRSC00000006" + "rsr";
    Stream foreign{{0, items, 100}, {1, "c!M_UNIX data that looks like metadata", 100}, {-3, "", 0}};
    Stream empty{{0, "", 0}, {1, "dropped", 0}, {-3, "", 0}};  // an announced-empty file takes no data
    std::string streams_items = UnixRecord(S_IFREG | 0644) + "M_WADS00000004zone0000000aZoneId=3\r\n" +
                                "M_WADS00000003a/b00000003bad" + "M_WADS00000005split00000008abcd";
    Stream streams{{0, streams_items, 100}, {1, "efghfile data", 100}, {-3, "", 0}};
    EXPECT_EQ("restored", InPlace(list, {foreign, empty, streams, FileStream("next file", 0644)}));
    EXPECT_EQ("ZoneId=3\r\n", ReadWholeFile(work_ + "/streams:zone"));
    EXPECT_EQ("abcdefgh", ReadWholeFile(work_ + "/streams:split"));
    EXPECT_EQ("file data", ReadWholeFile(work_ + "/streams"));
    EXPECT_EQ((std::vector<std::string>{"announced-empty", "foreign", "foreign.rsrc", "next", "streams",
                                        "streams:split", "streams:zone"}),
              Entries(work_));
    // "rsr" + "c!M" complete the six resource bytes; the rest is data.
    EXPECT_EQ("rsrc!M", ReadWholeFile(work_ + "/foreign.rsrc"));
    EXPECT_EQ("_UNIX data that looks like metadata", ReadWholeFile(work_ + "/foreign"));
    EXPECT_EQ(0600u, ModeOf(work_ + "/foreign") & 07777);
    EXPECT_EQ("", ReadWholeFile(work_ + "/announced-empty"));
    EXPECT_EQ("next file", ReadWholeFile(work_ + "/next"));
}

// Without a location a relative restore lands under the restore folder.
TEST_F(RestoreStreamTest, SpecialNamesDriveLettersAndShareLocationsAreRelocated) {
    const std::string L = ToWire(work_) + "|";
    struct Case {
        std::string command, name, expected;  // expected: local path
    } cases[] = {
        {"get_fast relative " + L, "SYSTEM_STATE", work_ + "/system.bkf"},
        {"get_fast relative " + L, "EXCHANGE|FULL|srv|db", work_ + "/EXCHANGE/Exchange_srv.bkf"},
        {"get_fast relative " + L, "EXCHANGE|MAILBOX|box|db", work_ + "/EXCHANGE/box.PST"},
        {"get_fast relative " + L, "|C:|data|f", work_ + "/C_/data/f"},
        {"get_fast normal", "SYSTEM_STATE", daemon_->path("restaure/system.bkf")},
        {"get_fast normal", "SHARE|docs|a.txt", daemon_->path("restaure/SHARE/docs/a.txt")},
        {"get_fast relative SHARE|sub|", "|x|y.txt", daemon_->path("share/sub/y.txt")},
        {"get_fast relative", "|from|server|file.txt", daemon_->path("restaure/from/server/file.txt")},
    };
    EXPECT_EQ("restored", Restore(sock_.get(), "get_fast relative", "", {}));  // nothing to restore
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command + " / " + c.name);
        EXPECT_EQ("restored", Restore(sock_.get(), c.command, c.name + "\t0\n", {FileStream(c.name, 0644)}));
        EXPECT_EQ(c.name, ReadWholeFile(c.expected));
    }
    EXPECT_NE(std::string::npos, daemon_->Messages().find("Restauration a l'emplacement (SHARE|sub|)"));
}

// Paths far beyond 400 bytes, and a name at the system's limit, for which a
// temporary name made by adding a suffix would be too long.
TEST_F(RestoreStreamTest, LongPathsAndLongestNamesTravelAndRestore) {
    std::string dir = work_ + "/src";
    mkdir(dir.c_str(), 0755);
    for (int i = 0; i < 8; i++) {
        dir += "/" + std::string(100, (char)('a' + i));
        ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
    }
    const std::string name = dir + "/" + std::string(255, 'n');
    WriteWholeFile(name, "at the limit");
    SetTime(name, 1200000000);
    std::vector<Stream> streams = SendFast(sock_.get(), {ToWire(name)});
    ASSERT_EQ(1u, streams.size());
    const std::string list = ToWire(name) + "\t1200000000\n";
    const std::string dst = work_ + "/dst";
    EXPECT_EQ("restored", Restore(sock_.get(), "get_fast relative " + ToWire(dst) + "|", list, streams));
    EXPECT_EQ("at the limit", ReadWholeFile(dst + name));
    WriteWholeFile(name, "changed");
    EXPECT_EQ("restored", InPlace(list, streams));
    EXPECT_EQ("at the limit", ReadWholeFile(name));
    EXPECT_EQ(1u, Entries(dir).size());
}

}  // namespace
