// tapforge-cli summary and format, run as the user runs them: output, exit status, messages.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "CliFixture.h"
#include "model/ScriptJson.h"

namespace tapforge {
namespace {

using namespace tapforge::test;
namespace fs = std::filesystem;

TEST_F(CliTest, SummaryOfTheDemoListsEveryStep) {
    const Outcome r = run({"summary", kDemo});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_FALSE(r.out.empty());
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_EQ(r.out.find('\r'), std::string::npos);

    const ScriptDecodeResult demo = decodeScript(readAll(kDemo));
    ASSERT_TRUE(demo) << demo.error;
    const auto& steps = demo.script->steps;
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), steps.size());
    bool sawBranch = false, sawDisabled = false;
    for (size_t i = 0; i < out.size(); ++i) {
        SCOPED_TRACE(out[i]);
        const auto f = split(out[i], '\t');
        ASSERT_EQ(f.size(), 5u);
        EXPECT_EQ(f[0], std::to_string(i + 1));
        EXPECT_EQ(f[1], steps[i].enabled ? "1" : "0");
        EXPECT_EQ(f[2], steps[i].title());
        EXPECT_EQ(f[3], steps[i].summary());
        EXPECT_EQ(f[4], steps[i].branchSummary(steps).value_or(""));
        sawBranch |= !f[4].empty();
        sawDisabled |= f[1] == "0";
    }
    EXPECT_TRUE(sawBranch);
    EXPECT_TRUE(sawDisabled);
}

TEST_F(CliTest, LineBreaksAndTabsInTextsKeepOneLinePerStep) {
    const Outcome r = run({"summary", write("notes.json", R"({"steps":[{"kind":"comment","note":"a\tb\nc\r\nd"},
        {"kind":"typeText","text":"x\ny"},{"kind":"delay"}]})")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "1\t1\t注释\ta b c  d\t\n2\t1\t输入文本\t输入文本「x y」\t\n3\t1\t延迟\t延迟 500 ms\t\n");
}

struct BadFile {
    const char* name;
    std::string contents;   // empty: the file does not exist
    const char* messagePart;
};

class CliRefusal : public CliTest, public testing::WithParamInterface<BadFile> {};

TEST_P(CliRefusal, SummaryAndFormatReportOpenFailureWithStatus2) {
    std::string path = (dir_ / "missing.json").string();
    if (GetParam().contents == "<dir>") {
        path = dir_;
    } else if (!GetParam().contents.empty()) {
        path = write("bad.json", GetParam().contents);
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"summary", path}, {"format", path}, {"format", path, "--compact"}}) {
        SCOPED_TRACE(args[0]);
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("打开失败：", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(GetParam().messagePart), std::string::npos) << r.err;
        EXPECT_EQ(r.err.back(), '\n');
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, CliRefusal,
    testing::Values(BadFile{"missing", "", "missing.json"}, BadFile{"directory", "<dir>", "目录"},
                    BadFile{"syntax", "{\"steps\": [", "JSON"},
                    BadFile{"badEnum", R"({"steps":[{"kind":"delay"},{"kind":"mouseClick","mouseButton":"middle"}]})",
                            "第 2 步的 \"mouseButton\""}),
    [](const testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

TEST_F(CliTest, FileOverTheLimitIsRefusedWithoutReadingIt) {
    const fs::path big = dir_ / "big.json";
    std::ofstream(big) << "{}";
    fs::resize_file(big, kMaxScriptDocumentBytes + 1);   // sparse: costs no disk
    const Outcome r = run({"summary", big});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("64 MiB"), std::string::npos) << r.err;
}

TEST_F(CliTest, FormatRewritesTheSameScriptAndIsStable) {
    const ScriptDecodeResult demo = decodeScript(readAll(kDemo));
    ASSERT_TRUE(demo);
    const Outcome pretty = run({"format", kDemo});
    ASSERT_EQ(pretty.status, 0) << pretty.err;
    const ScriptDecodeResult fromPretty = decodeScript(pretty.out);
    ASSERT_TRUE(fromPretty) << fromPretty.error;
    EXPECT_EQ(*fromPretty.script, *demo.script);
    EXPECT_GT(lines(pretty.out).size(), 100u);

    const Outcome compact = run({"format", write("pretty.json", pretty.out), "--compact"});
    ASSERT_EQ(compact.status, 0) << compact.err;
    EXPECT_EQ(lines(compact.out).size(), 1u);
    const ScriptDecodeResult fromCompact = decodeScript(compact.out);
    ASSERT_TRUE(fromCompact) << fromCompact.error;
    EXPECT_EQ(*fromCompact.script, *demo.script);

    // Formatting the compact form again gives the same pretty bytes.
    EXPECT_EQ(run({"format", write("compact.json", compact.out)}).out, pretty.out);
    // The flag may come first.
    EXPECT_EQ(run({"format", "--compact", kDemo}).out, compact.out);
}

TEST_F(CliTest, FormatWritesFilesAtomicallyKeepingTheirMode) {
    const std::string pretty = run({"format", kDemo}).out;
    const std::string compact = run({"format", kDemo, "--compact"}).out;
    const std::string file = write("script.json", compact);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const Outcome inPlace = run({"format", file, "--in-place"});
    EXPECT_EQ(inPlace.status, 0) << inPlace.err;
    EXPECT_EQ(inPlace.out, "");
    EXPECT_EQ(readAll(file), pretty);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(run({"format", file, "--compact", "--output", (dir_ / "out.json").string()}).status, 0);
    EXPECT_EQ(readAll(dir_ / "out.json"), compact);
    const Outcome refused = run({"format", file, "--output", (dir_ / "missing" / "x.json").string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("写入失败："), std::string::npos) << refused.err;
    EXPECT_EQ(run({"format", file, "--in-place", "--output", file}).status, 2);
    // Nothing but the files named is left in the folder.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"out.json", "script.json", "stderr", "stdout"}));
}

// On a full disk `format --in-place` reports the failure and leaves the file as it was. Needs a
// small tmpfs in a private mount namespace; skipped where one cannot be made.
TEST_F(CliTest, FormatInPlaceOnAFullDiskKeepsTheFileAndSaysWhy) {
    const fs::path disk = dir_ / "disk";
    fs::create_directories(disk);
    const std::string original = write("original.json", run({"format", kDemo, "--compact"}).out);
    const std::string q = shellQuote(disk.string());
    const std::string script = "mount -t tmpfs -o size=64k tmpfs " + q + " || exit 77\n" +
                               "cp " + shellQuote(original) + " " + q + "/s.json || exit 78\n" +
                               "cat /dev/zero > " + q + "/filler 2>/dev/null\n" +
                               shellQuote(TAPFORGE_CLI_PATH) + " format " + q + "/s.json --in-place\n" +
                               "status=$?\n" +
                               "cmp -s " + shellQuote(original) + " " + q + "/s.json || exit 79\n" +
                               "[ \"$(ls " + q + ")\" = \"$(printf 'filler\\ns.json')\" ] || exit 80\n" +
                               "exit $status\n";
    const Outcome r = run({"unshare", "-rm", "/bin/sh", "-c", script}, false);
    if (r.status == 77 || r.status == 127) GTEST_SKIP() << "no private tmpfs here: " << r.err;
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("写入失败："), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(strerror(ENOSPC)), std::string::npos) << r.err;
}

TEST_F(CliTest, UsageErrorsExitWith2) {
    EXPECT_EQ(run({"summary"}).status, 2);
    EXPECT_EQ(run({"summary", kDemo, kDemo}).status, 2);
    EXPECT_EQ(run({"format"}).status, 2);
    EXPECT_EQ(run({"format", kDemo, "--pretty"}).status, 2);
    EXPECT_EQ(run({"--help"}).status, 0);
}

}  // namespace
}  // namespace tapforge
