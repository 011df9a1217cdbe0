// Log line formats, per-set logs, the progress line and rotation.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "core/Globals.h"
#include "foundation/Log.h"
#include "support/TestHome.h"

namespace {

// Captures what a call writes on standard output.
template <typename F>
std::string CaptureStdout(F body) {
    fflush(stdout);
    testing::internal::CaptureStdout();
    body();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(LogTest, LinesCarryDateTimeThreadOrCategoryAndPerSetLinesGoToDailyFiles) {
    TestHome home;
    std::string console = CaptureStdout([] {
        PrintMessage("hello %i", 42);
        PrintError("bad %s", "thing");
    });
    EXPECT_EQ("MESSAGE: hello 42\nERROR: bad thing\n", console);
    std::regex line(R"(\d\d/\d\d/\d{4} @ \d\d:\d\d:\d\d \([0-9a-f]{6,}\): )");
    std::string messages = ReadWholeFile(res->messages_file);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(messages, m, line)) << messages;
    EXPECT_EQ(0, m.position(0));
    EXPECT_EQ("hello 42\n", messages.substr(m.length(0)));
    EXPECT_NE(std::string::npos, ReadWholeFile(res->errors_file).find("): bad thing\n"));

    // Events and per-set lines carry a category and no seconds; per-set files are daily.
    CaptureStdout([] { PrintEvent("SYSTEM", "Lancement"); });
    std::string events = ReadWholeFile(res->events_file);
    EXPECT_TRUE(std::regex_match(events, std::regex(R"(\d\d/\d\d/\d{4} @ \d\d:\d\d : \(SYSTEM\) Lancement\n)")))
        << events;
    PrintLog("set1", "T", "first");
    PrintLog("set1", nullptr, "second");
    // One file per day, named day.month.year without leading zeros.
    std::vector<std::string> days = Entries(std::string(res->logs_dir) + "set1");
    ASSERT_EQ(1u, days.size());
    EXPECT_TRUE(std::regex_match(days[0], std::regex(R"([1-9]\d?\.[1-9]\d?\.\d{4})"))) << days[0];
    std::string text = ReadWholeFile(std::string(res->logs_dir) + "set1/" + days[0]);
    EXPECT_TRUE(std::regex_match(
        text, std::regex(R"(\d\d/\d\d/\d{4} @ \d\d:\d\d : \(T\) first\n\d\d/\d\d/\d{4} @ \d\d:\d\d : second\n)")))
        << text;
}

TEST(LogTest, ProgressLineIsExactlyNinetyColumns) {
    std::string long_text(120, 'x');
    EXPECT_EQ("\r" + std::string(90, 'x'), CaptureStdout([&] { PrintProgress("%s", long_text.c_str()); }));
    EXPECT_EQ("\r0123456789" + std::string(80, ' '), CaptureStdout([] { PrintProgress("0123456789"); }));
}

TEST(LogTest, RotationKeepsOneOldCopyAndDropsDebug) {
    TestHome home(true);
    CaptureStdout([] {
        PrintMessage("generation one");
        PrintError("error one");
    });
    WriteWholeFile(res->debug_file, "debug");
    ClearLogFiles();
    EXPECT_NE(std::string::npos, ReadWholeFile(std::string(res->messages_file) + ".old").find("generation one"));
    EXPECT_NE(std::string::npos, ReadWholeFile(std::string(res->errors_file) + ".old").find("error one"));
    EXPECT_FALSE(PathExists(res->debug_file));
    EXPECT_EQ("", ReadWholeFile(res->messages_file));  // opened afresh, empty

    CaptureStdout([] { PrintMessage("generation two"); });
    ClearLogFiles();
    std::string old = ReadWholeFile(std::string(res->messages_file) + ".old");
    EXPECT_NE(std::string::npos, old.find("generation two"));
    EXPECT_EQ(std::string::npos, old.find("generation one"));
    // Writers reopen the file after rotation.
    CaptureStdout([] { PrintMessage("generation three"); });
    EXPECT_NE(std::string::npos, ReadWholeFile(res->messages_file).find("generation three"));
}

TEST(LogTest, LinesOfTwoProcessesSharingTheFileNeverInterleave) {
    TestHome home(true);
    std::string text(200, 'x');
    CaptureStdout([&] {
        pid_t child = fork();
        for (int i = 0; i < 2000; i++) PrintMessage("%s %s", child == 0 ? "child" : "parent", text.c_str());
        if (child == 0) _exit(0);
        waitpid(child, nullptr, 0);
    });
    std::regex whole(R"(\d\d/\d\d/\d{4} @ \d\d:\d\d:\d\d \([0-9a-f]{6,}\): (child|parent) x{200})");
    std::istringstream in(ReadWholeFile(res->messages_file));
    int lines = 0, broken = 0;
    for (std::string line; std::getline(in, line); lines++) broken += !std::regex_match(line, whole);
    EXPECT_EQ(4000, lines);
    EXPECT_EQ(0, broken);
}

TEST(LogTest, AnErrorRepeatedEveryPassIsLoggedOnceThenCountedUntilItClears) {
    TestHome home;
    RepeatedError error;
    CaptureStdout([&] {
        for (int i = 0; i < 200; i++) error.Report("disk %s", "full");
        error.Clear();
        error.Clear();  // nothing left to report
        for (const char* text : {"first", "second", "second"}) error.Report("%s", text);
        error.Clear();
    });
    std::istringstream in(ReadWholeFile(res->errors_file));
    std::string texts;  // without their date and thread
    for (std::string line; std::getline(in, line);) texts += line.substr(line.find("): ") + 3) + "|";
    EXPECT_EQ("disk full|disk full (200 times, now cleared)|first|second|second (2 times, now cleared)|", texts);
}

TEST(LogTest, GetFileCreatesFoldersOnlyForWritingModesAndNoGlobalsMeansConsoleOnly) {
    TempDir dir;
    FILE* f = GetFILE((dir + "/a/b/file").c_str(), "r", false);
    EXPECT_EQ(nullptr, f);
    EXPECT_FALSE(PathExists(dir + "/a"));
    f = GetFILE((dir + "/a/b/file").c_str(), "w", false);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(0, CloseFILE(f));
    EXPECT_EQ(nullptr, f);
    EXPECT_EQ(-1, CloseFILE(f));
    EXPECT_TRUE(PathExists(dir + "/a/b/file"));
    // Without process globals writers only use the console.
    ASSERT_EQ(nullptr, res);
    EXPECT_EQ("MESSAGE: alone\n", CaptureStdout([] { PrintMessage("alone"); }));
}

}  // namespace
