// Saving, opening, the autosave's failures and flushes, the Lua file operations, and the kill
// loop: a save killed at any moment leaves the old file or the new one.
#include <csignal>
#include <cstdlib>
#include <random>
#include <regex>

#include <sys/resource.h>
#include <sys/stat.h>

#include <QProcess>
#include <QThread>

#include "AppFixture.h"
#include "app/FileAccess.h"
#include "model/ScriptJson.h"

namespace tapforge::app::test {

TEST_F(AppTest, SaveWritesIndentedFileAndAFailedSaveKeepsTheOldBytes) {
    start();
    state().setScriptName("");
    const std::string target = path("out.json");
    panels_->answers = {target};
    state().saveScript();
    EXPECT_EQ(panels_->titles.back(), "保存脚本|脚本.json");
    EXPECT_EQ(state().currentScriptPath(), target);
    EXPECT_EQ(state().statusMessage(), "已保存到 out.json");
    EXPECT_EQ(logTexts(state()).back(), "💾 已保存 " + target);
    const std::string saved = readFile(target);
    EXPECT_NE(saved.find("\n  "), std::string::npos);

    // A full disk, as a file-size limit: the longer document cannot be written.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = saved.size();
    setrlimit(RLIMIT_FSIZE, &limit);
    panels_->answers = {target};
    state().addStep(StepKind::delay);
    state().saveScript();
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(state().alertMessage());
    EXPECT_EQ(state().alertMessage()->rfind("保存失败：", 0), 0u);
    EXPECT_EQ(readFile(target), saved);
}

TEST_F(AppTest, OpenTakesTheFileNameSelectsTheFirstStepAndRefusesBadFilesWithoutBlocking) {
    Script stored;
    stored.name = "abc";
    stored.steps = {Step(StepKind::delay), Step(StepKind::comment), Step(StepKind::comment)};
    writeFile(path("demo.json"), *encodeScript(stored).json);
    writeFile(path("bad.json"), "not a script");
    ASSERT_EQ(mkfifo(path("fifo.json").c_str(), 0600), 0);
    start();
    state().addStep(StepKind::delay);   // pending autosave, flushed before the document changes
    panels_->answers = {path("demo.json")};
    state().openScript();
    EXPECT_EQ(decodeScript(readFile(locations_.autosavePath())).script->steps.size(), 2u);
    ASSERT_TRUE(spinUntil([&] { return !state().isOpening(); }));
    EXPECT_EQ(state().script().name, "demo");
    EXPECT_EQ(state().selectedStepID(), stored.steps[0].id);
    EXPECT_EQ(state().statusMessage(), "已打开 demo.json");
    for (const char* name : {"bad.json", "fifo.json", "missing.json"}) {
        state().dismissAlert();
        panels_->answers = {path(name)};
        state().openScript();
        ASSERT_TRUE(spinUntil([&] { return !state().isOpening(); }));
        ASSERT_TRUE(state().alertMessage()) << name;
        EXPECT_EQ(state().alertMessage()->rfind("打开失败：", 0), 0u);
        EXPECT_EQ(state().script().name, "demo");
    }
    state().newScript();
    EXPECT_FALSE(state().currentScriptPath());
}

TEST_F(AppTest, AFailingAutosaveIsLoggedOnceAndQuitAndRelaunchFlushTheLastEdit) {
    // A file where the application folder should be: every autosave write fails.
    std::filesystem::create_directories(path("data"));
    writeFile(locations_.appFolder, "");
    start();
    for (int i = 0; i < 3; ++i) {
        state().addStep(StepKind::delay);
        settleAutosave();
    }
    ASSERT_TRUE(spinUntil([&] { return !logTexts(state()).empty(); }));
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(logTexts(state()).size(), 1u);
    EXPECT_EQ(logTexts(state())[0].rfind("⚠️ 自动保存失败：", 0), 0u);

    std::filesystem::remove(locations_.appFolder);
    state().addStep(StepKind::comment);
    state().relaunch();   // less than a second after the edit
    EXPECT_EQ(launcher_->relaunches, 1);
    EXPECT_EQ(decodeScript(readFile(locations_.autosavePath())).script->steps.size(), 5u);
}

TEST_F(AppTest, LuaSampleNeverReplacesAFileAndPreviewAndInfoReadRegularFilesOnly) {
    start();
    state().addStep(StepKind::lua);
    const Uuid id = *state().selectedStepID();
    state().createLuaSample(id);
    state().createLuaSample(id);   // same second, or not: two different files
    ASSERT_EQ(launcher_->opened.size(), 2u);
    EXPECT_NE(launcher_->opened[0], launcher_->opened[1]);
    EXPECT_EQ(state().step(id).luaFile, launcher_->opened[1]);
    const std::string sample = readFile(launcher_->opened[0]);
    EXPECT_EQ(sample, AppState::luaSampleText());
    EXPECT_EQ(std::count(sample.begin(), sample.end(), '\n'), 40);
    EXPECT_EQ(sample.substr(sample.size() - 11), "return true");

    std::string hundred;
    for (int i = 1; i <= 100; ++i) hundred += "line" + std::to_string(i) + "\n";
    writeFile(path("a.lua"), hundred);
    const auto preview = state().luaFilePreview(path("a.lua"), 40);
    ASSERT_TRUE(preview);
    EXPECT_EQ(std::count(preview->begin(), preview->end(), '\n'), 39);
    EXPECT_EQ(preview->substr(0, 7), "1\tline1");
    EXPECT_EQ(preview->substr(preview->size() - 9), "40\tline40");
    const std::string all = *state().luaFilePreview(path("a.lua"), 200);
    EXPECT_EQ(all.substr(all.size() - 5), "\n101\t");   // the final line feed ends an empty line
    writeFile(path("bad.lua"), "\xff\xfe");
    EXPECT_FALSE(state().luaFilePreview(path("bad.lua"), 40));
    ASSERT_EQ(mkfifo(path("pipe.lua").c_str(), 0600), 0);
    EXPECT_FALSE(state().luaFilePreview(path("pipe.lua"), 40));

    writeFile(path("s.lua"), std::string(1234, 'x'));
    EXPECT_TRUE(std::regex_match(state().luaFileInfo(path("s.lua")),
                                 std::regex("1234 字节 · 修改于 \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")));
    EXPECT_EQ(state().luaFileInfo(path("none.lua")), "文件不存在");
    EXPECT_EQ(state().luaFileInfo(""), "未选择文件");
    state().openLuaFile("");
    EXPECT_EQ(state().alertMessage(), "还没有选择 Lua 脚本文件。");
    state().openLuaFile(path("none.lua"));
    EXPECT_EQ(state().alertMessage(), "文件不存在：" + path("none.lua"));
}

// The child side of the kill loop: saves two documents in turn until it is killed.
TEST(AtomicFileKillLoop, DISABLED_Child) {
    const char* target = std::getenv("TAPFORGE_KILL_TARGET");
    ASSERT_TRUE(target);
    const std::string a(3 << 20, 'a'), b(2 << 20, 'b');
    for (int i = 0;; ++i) ASSERT_FALSE(writeFileAtomically(target, i % 2 ? a : b));
}

TEST(AtomicFileKillLoop, KilledWriterLeavesTheOldFileOrTheNewOneNeverATruncatedOne) {
    QTemporaryDir dir;
    const std::string target = dir.filePath("autosave.json").toStdString();
    const std::string a(3 << 20, 'a'), b(2 << 20, 'b');
    ASSERT_FALSE(writeFileAtomically(target, a));
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TAPFORGE_KILL_TARGET", QString::fromStdString(target));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=AtomicFileKillLoop.DISABLED_Child", "--gtest_also_run_disabled_tests"});
        ASSERT_TRUE(child.waitForStarted());
        QThread::msleep(20 + random() % 200);
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        child.waitForFinished();
        const std::string now = readFile(target);
        ASSERT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
    }
}

}  // namespace tapforge::app::test
