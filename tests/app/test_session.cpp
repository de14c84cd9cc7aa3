// The history, undo and the session file through torvane-headless: a whole
// round trip over two runs, files that must not be trusted, and a run
// killed while it writes its session.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "headless_driver.h"
#include "session_file.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using lines = std::vector<std::string>;

// A folder of its own for each test, removed afterwards.
class Session : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() / ("torvane-session-" + std::string(info->name()) + "-" +
                                              std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        file = (folder / "session").string();
    }
    void TearDown() override { fs::remove_all(folder); }

    session_output run(const script& s) { return run_headless(s.text(), {"--session", file}); }

    static std::string slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void spit(const std::string& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }

    fs::path folder;
    std::string file;
};

TEST_F(Session, RoundTripThenUndoAndRecall) {
    auto first = script().base(10).operands("12", "-5", "1000");
    first.click(IDC_OP_DIV).click(IDC_OP_PRIME).type(X, "2").type(Y, "10").click(IDC_OP_POWMOD).raw("close");
    ASSERT_EQ(run(first).exit_status, 0);
    const std::string saved = slurp(file);
    ASSERT_EQ(saved.rfind("torvane-session 1\n", 0), 0u) << saved;

    auto second = script().raw("checked").show_all().raw("history");
    second.type(X, "7").click(IDC_OP_ADD).show(ANS).raw("undo").show(X).show(ANS).show(STATUS);
    second.raw("recall 1").show_fields().show(STATUS).raw("undo").show_fields();
    const auto r = run(second);
    EXPECT_EQ(r.exit_status, 0);
    const lines expected{
        // The base, the fields and the history as the first run left them.
        "1015", "2", "10", "1000", "0", "2", "24", "Idle...\\n",
        "1 div: X=12 Y=-5 -> Ans=-2, B=2 [base 10]",
        "2 prime: X=12 -> X is NOT Prime, exactly divided by 2 (0x2) ! [base 10]",
        "3 powmod: X=2 Y=10 Z=1000 -> Ans=24 [base 10]",
        // X+Y undone: Ans as it was; X keeps the 7 typed before the press
        // (typing is the field's own undo).
        "17", "7", "24", "Undone: X+Y.",
        // Entry 1's operands and answer (B its remainder), in the current
        // base.
        "12", "-5", "1000", "0", "2", "-2", "Entry 1 recalled: X/Y.",
        // and the recall undone.
        "7", "10", "1000", "0", "2", "24"};
    EXPECT_EQ(r.lines, expected);
    // The second run's X+Y is the history's newest entry in the file now.
    const std::string resaved = slurp(file);
    EXPECT_NE(resaved.find("entry add 10 7 A 3E8 0 2 ans 11\n"), std::string::npos) << resaved;
}

// The expression line joins the history and undo like a press: a value
// into Ans and an assignment are entries (the assignment's entry keeps the
// operands it left), both come back from the file, and each is one step.
TEST_F(Session, ExpressionsAreEntriesAndUndoSteps) {
    auto first = script().base(10).type(X, "7");
    first.raw("eval 2^100 + X").raw("eval Y = 6*7").raw("close");
    ASSERT_EQ(run(first).exit_status, 0);

    auto second = script().raw("history").show(Y).raw("undo").show(Y).show(STATUS).raw("undo").show(ANS);
    second.raw("recall 2").show(X).show(Y).show(STATUS);
    const auto r = run(second);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.lines, (lines{"1 eval: 2^100 + X -> Ans=1267650600228229401496703205383 [base 10]",
                              "2 eval: Y = 6*7 [base 10]", "42",
                              // undo steps are not kept across runs
                              "42", "Nothing to undo.", "1267650600228229401496703205383",
                              "7", "42", "Entry 2 recalled: Expression."}));

    auto third = script().base(10).raw("eval Z = 5").raw("eval 3*Z").show(ANS).raw("undo").show(ANS).show(Z);
    third.show(STATUS).raw("undo").show(Z).raw("redo").show(Z);
    EXPECT_EQ(run(third).lines, (lines{"15", "1267650600228229401496703205383", "5", "Undone: expression.", "0",
                                      "5"}));
}

TEST_F(Session, UntrustedFilesAreSetAsideAndTheWindowStartsEmpty) {
    const std::string good = "torvane-session 1\nbase 10\nfield X 5\nfield Y 0\nfield Z 0\nfield A 0\nfield B 0\n"
                             "field Ans 0 empty\nentry add 10 5 0 0 0 0 ans 5\n";
    const std::string whole = good + "end " + std::to_string(good.size()) + "\n";
    session_data data;
    std::string reason;
    ASSERT_TRUE(decode_session(whole, data, reason)) << reason;
    struct Case {
        const char* what;
        std::string text;
    };
    const std::string huge(session_size_cap + 1, 'x');
    const Case cases[] = {
        {"cut short", whole.substr(0, whole.size() / 2)},
        {"no end", good},
        {"wrong length", good + "end 3\n"},
        {"newer version", "torvane-session 2\n" + whole.substr(whole.find('\n') + 1)},
        {"not a session", std::string("\x89PNG\r\n\x1a\n\0\0", 10)},
        {"value too long", "torvane-session 1\nbase 10\nfield X 1" + std::string(16392, '0') + "\n"},
        {"bad digit", "torvane-session 1\nbase 10\nfield X 5g\n"},
        {"larger than the cap", huge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        spit(file, c.text);
        fs::remove(file + ".bad");
        const auto r = run(script().raw("checked").show_all().raw("history").type(X, "3").click(IDC_OP_ADD));
        EXPECT_EQ(r.exit_status, 0);
        ASSERT_EQ(r.lines.size(), 8u);
        EXPECT_EQ(r.lines[0], "1016") << "base 16, as at a first start";
        EXPECT_EQ(lines(r.lines.begin() + 1, r.lines.begin() + 7), lines(6, ""));
        EXPECT_EQ(r.lines[7].rfind("Session not restored (", 0), 0u) << r.lines[7];
        EXPECT_NE(r.lines[7].find(file + ".bad"), std::string::npos) << r.lines[7];
        // The bad file kept whole; a new session written in its place.
        EXPECT_EQ(slurp(file + ".bad"), c.text);
        ASSERT_TRUE(decode_session(slurp(file), data, reason)) << reason;
        ASSERT_EQ(data.entries.size(), 1u);
        EXPECT_EQ(data.entries[0].op, "add");
    }
}

// Runs torvane-headless on `script_path` with the session in `file`, and
// kills it after `delay`.
void run_and_kill(const std::string& script_path, const std::string& file, std::chrono::milliseconds delay) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, script_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::string program = TORVANE_HEADLESS_PATH;
    std::string option = "--session";
    std::string path = file;
    char* argv[] = {program.data(), option.data(), path.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

// Each press of this script writes a session of megabytes: killed at any
// moment, the program leaves the session it had written before whole.
TEST_F(Session, AKilledWriteLeavesTheOldSessionWhole) {
    std::string text = "type X " + std::string(16382, 'F') + "\ntype Y " + std::string(16382, 'E') + "\n";
    for (int k = 0; k < 100; ++k) text += k % 2 == 0 ? "click add\n" : "click sub\n";
    const std::string script_path = (folder / "script").string();
    spit(script_path, text);
    std::mt19937 random(12345);
    int entries_before = 0;
    int killed_while_writing = 0;
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        run_and_kill(script_path, file, std::chrono::milliseconds(30 + random() % 400));
        if (fs::exists(file + ".tmp")) ++killed_while_writing;
        if (!fs::exists(file)) continue;  // killed before its first write
        session_data data;
        std::string reason;
        ASSERT_TRUE(decode_session(slurp(file), data, reason)) << reason;
        EXPECT_FALSE(fs::exists(file + ".bad"));
        // Each run goes on from the session the last one left.
        EXPECT_GE(static_cast<int>(data.entries.size()), entries_before);
        entries_before = static_cast<int>(data.entries.size());
    }
    EXPECT_GT(entries_before, 0);
    RecordProperty("killed_while_writing", killed_while_writing);
}

}  // namespace
