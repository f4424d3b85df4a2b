// tapforge-cli summary, format and keys as the user runs them: output, exit status, messages.
#include <cstring>
#include <set>

#include "CliFixture.h"
#include "model/ScriptJson.h"

namespace tapforge {
namespace {

using namespace tapforge::test;

// A file that does not load fails the test by the exception.
Script decodeOk(const std::string& json) { return decodeScript(json).script.value(); }

TEST_F(CliTest, SummaryPrintsOneLinePerStep) {
    const Outcome r = run({"summary", kDemo});
    ASSERT_TRUE(r.status == 0 && r.err.empty()) << r.err;
    const std::vector<Step> steps = decodeOk(readAll(kDemo)).steps;
    std::string expected;   // number, enabled, title, summary, branches; one line each
    bool sawBranch = false, sawDisabled = false;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        expected += std::to_string(i + 1) + "\t" + (s.enabled ? "1" : "0") + "\t" + s.title() + "\t" + s.summary() + "\t" +
                    s.branchSummary(steps).value_or("") + "\n";
        sawBranch |= s.branchSummary(steps).has_value(), sawDisabled |= !s.enabled;
    }
    EXPECT_EQ(r.out, expected);
    EXPECT_TRUE(sawBranch && sawDisabled) << "the demo should show both";
    // Line breaks and tabs in texts keep one line per step.
    const Outcome notes = run({"summary", write("notes.json", R"({"steps":[{"kind":"comment","note":"a\tb\nc\r\nd"},
        {"kind":"typeText","text":"x\ny"},{"kind":"delay"}]})")});
    ASSERT_EQ(notes.status, 0) << notes.err;
    EXPECT_EQ(notes.out, "1\t1\t注释\ta b c  d\t\n2\t1\t输入文本\t输入文本「x y」\t\n3\t1\t延迟\t延迟 500 ms\t\n");
}

// Every way a file cannot be opened, through every reading command: status 2, one line.
TEST_F(CliTest, OpenFailuresAreReportedWithStatus2) {
    const fs::path big = dir_ / "big.json";
    std::ofstream(big) << "{}";
    fs::resize_file(big, kMaxScriptDocumentBytes + 1);   // sparse: costs no disk, and is never read
    const std::pair<std::string, const char*> cases[] = {{dir_ / "missing.json", "missing.json"}, {dir_, "目录"}, {big, "64 MiB"},
        {write("syntax.json", "{\"steps\": ["), "JSON"},
        {write("enum.json", R"({"steps":[{"kind":"delay"},{"kind":"mouseClick","mouseButton":"middle"}]})"), "第 2 步的 \"mouseButton\""}};
    for (const auto& [path, messagePart] : cases)
        for (const std::vector<std::string>& args : {std::vector<std::string>{"summary", path}, {"format", path}, {"format", path, "--compact"}}) {
            SCOPED_TRACE(args[0] + " " + messagePart);
            const Outcome r = run(args);
            EXPECT_TRUE(r.status == 2 && r.out.empty() && r.err.rfind("打开失败：", 0) == 0 && r.err.back() == '\n') << r.status << r.err;
            EXPECT_NE(r.err.find(messagePart), std::string::npos) << r.err;
        }
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"summary"}, {"summary", kDemo, kDemo}, {"format"}, {"format", kDemo, "--pretty"}})
        EXPECT_EQ(run(args).status, 2) << args.size();
    EXPECT_EQ(run({"--help"}).status, 0);
    const Outcome keys = run({"keys"});
    EXPECT_TRUE(keys.status == 0 && keys.out.find("  Escape（也可写 esc）\t键码 53\n") != std::string::npos) << keys.out;
}

TEST_F(CliTest, FormatRewritesTheSameScriptStablyAndAtomically) {
    const Script demo = decodeOk(readAll(kDemo));
    const Outcome pretty = run({"format", kDemo}), compact = run({"format", write("pretty.json", pretty.out), "--compact"});
    ASSERT_TRUE(pretty.status == 0 && compact.status == 0) << pretty.err << compact.err;
    EXPECT_TRUE(decodeOk(pretty.out) == demo && decodeOk(compact.out) == demo);
    EXPECT_TRUE(lines(pretty.out).size() > 100u && lines(compact.out).size() == 1u);
    EXPECT_EQ(run({"format", write("compact.json", compact.out)}).out, pretty.out);   // the same pretty bytes again
    EXPECT_EQ(run({"format", "--compact", kDemo}).out, compact.out);                   // the flag may come first

    // Written files are replaced whole and keep their mode; nothing else is left in the folder.
    const std::string file = write("script.json", compact.out);
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(file, mode);
    const Outcome inPlace = run({"format", file, "--in-place"});
    EXPECT_TRUE(inPlace.status == 0 && inPlace.out.empty()) << inPlace.err;
    EXPECT_TRUE(readAll(file) == pretty.out && (fs::status(file).permissions() & fs::perms::all) == mode);
    EXPECT_TRUE(run({"format", file, "--compact", "--output", dir_ / "out.json"}).status == 0 && readAll(dir_ / "out.json") == compact.out);
    const Outcome refused = run({"format", file, "--output", dir_ / "missing" / "x.json"});
    EXPECT_TRUE(refused.status == 1 && refused.err.find("写入失败：") != std::string::npos) << refused.err;
    EXPECT_EQ(run({"format", file, "--in-place", "--output", file}).status, 2);
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"compact.json", "out.json", "pretty.json", "script.json", "stderr", "stdout"}));
}

// On a full disk `format --in-place` says why and leaves the file as it was (skipped without a private tmpfs).
TEST_F(CliTest, FormatInPlaceOnAFullDiskKeepsTheFileAndSaysWhy) {
    const std::string original = write("original.json", run({"format", kDemo, "--compact"}).out), disk = dir_ / "disk";
    fs::create_directories(disk);
    const Outcome r = run({"unshare", "-rm", "/bin/sh", "-c", R"sh(
        mount -t tmpfs -o size=64k tmpfs "$1" || exit 77
        cp "$2" "$1/s.json" || exit 78
        cat /dev/zero > "$1/filler" 2>/dev/null
        "$3" format "$1/s.json" --in-place; status=$?
        cmp -s "$2" "$1/s.json" || exit 79
        [ "$(ls "$1")" = "$(printf 'filler\ns.json')" ] || exit 80
        exit $status)sh", "sh", disk, original, TAPFORGE_CLI_PATH}, false);
    if (r.status == 77 || r.status == 127) GTEST_SKIP() << "no private tmpfs here: " << r.err;
    EXPECT_TRUE(r.status == 1 && r.err.find("写入失败：") != std::string::npos && r.err.find(strerror(ENOSPC)) != std::string::npos) << r.err;
}

}  // namespace
}  // namespace tapforge
