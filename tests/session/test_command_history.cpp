// The command history's walk, search and file, and the known-commands files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "command_history.h"
#include "known_commands.h"
#include "link_watch.h"

namespace {

namespace fs = std::filesystem;

struct TempDir {
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "lumo-history-XXXXXX").string();
        path = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string path;
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(CommandHistory, WalksBackAndForthKeepingTheDraft) {
    session::CommandHistory h;
    for (const char* c : {"za 1", "za 1", "", "zh", "za 1"})
        h.Add(c);
    EXPECT_EQ(h.Entries(), (std::vector<std::string>{"za 1", "zh", "za 1"}));
    std::string out;
    EXPECT_FALSE(h.Forward(out)); // not walking
    ASSERT_TRUE(h.Back("zs", out));
    EXPECT_EQ(out, "za 1");
    ASSERT_TRUE(h.Back("edited", out)); // the draft is taken on the first step only
    EXPECT_EQ(out, "zh");
    ASSERT_TRUE(h.Back("", out));
    EXPECT_FALSE(h.Back("", out)); // the oldest
    ASSERT_TRUE(h.Forward(out));
    EXPECT_EQ(out, "zh");
    ASSERT_TRUE(h.Forward(out));
    ASSERT_TRUE(h.Forward(out));
    EXPECT_EQ(out, "zs");
    EXPECT_FALSE(h.Walking());
    EXPECT_EQ(h.Find("A"), (std::vector<std::string>{"za 1"}));
    EXPECT_EQ(h.Find(""), (std::vector<std::string>{"za 1", "zh"}));
}

TEST(CommandHistory, FileKeepsTheNewestThousand) {
    TempDir dir;
    const std::string path = dir.path + "/sub/command_history";
    for (int i = 0; i < 1005; ++i)
        ASSERT_TRUE(session::CommandHistory::Append(path, "zw " + std::to_string(i)));
    EXPECT_TRUE(session::CommandHistory::Append(path, "zw 1004")); // the newest again: unchanged
    EXPECT_TRUE(session::CommandHistory::Append(path, "two\nlines")); // never kept: it would read as two
    EXPECT_EQ(Read(path).find("two"), std::string::npos);
    session::CommandHistory h;
    h.Load(path);
    ASSERT_EQ(h.Entries().size(), session::kHistoryKept);
    EXPECT_EQ(h.Entries().front(), "zw 5");
    EXPECT_EQ(h.Entries().back(), "zw 1004");
    // CR LF lines and empty lines from another editor.
    std::ofstream(path, std::ios::binary) << "za 1\r\n\r\nzh\n";
    h.Load(path);
    EXPECT_EQ(h.Entries(), (std::vector<std::string>{"za 1", "zh"}));
    // A folder that cannot be written says so.
    std::string why;
    EXPECT_FALSE(session::CommandHistory::Append(path + "/below-a-file", "zh", &why));
    EXPECT_NE(why.find("below-a-file"), std::string::npos);
}

TEST(KnownCommands, ParsedAndAmendedByALaterFile) {
    TempDir dir;
    std::ofstream(dir.path + "/installed") << "# comment\n zh | | device information \n"
                                              "zw | 000000 | window position\n |no command\nexit\n";
    std::ofstream(dir.path + "/own") << "zw|111111|mine\r\nzq | 1 | new\n";
    const auto all = session::ReadKnownCommands({dir.path + "/installed", dir.path + "/missing", dir.path + "/own"});
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].command, "zh");
    EXPECT_EQ(all[0].hint, "");
    EXPECT_EQ(all[0].description, "device information");
    EXPECT_EQ(all[1].command, "zw");
    EXPECT_EQ(all[1].hint, "111111");
    EXPECT_EQ(all[1].description, "mine");
    EXPECT_EQ(all[2].command, "exit");
    EXPECT_EQ(all[3].command, "zq");
}

TEST(KnownCommands, InstalledFileIsWellFormed) {
    const auto all = session::ReadKnownCommands({LUMO_KNOWN_COMMANDS});
    ASSERT_GE(all.size(), 8u);
    for (const auto& c : all)
        EXPECT_FALSE(c.description.empty()) << c.command;
}

TEST(Reconnect, Schedule) {
    std::vector<int> seconds;
    for (int attempt = 1; attempt <= 8; ++attempt)
        seconds.push_back(session::ReconnectDelaySeconds(attempt));
    EXPECT_EQ(seconds, (std::vector<int>{1, 2, 4, 8, 16, 30, 30, 30}));
}
