#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "platform/debug.h"
#include "platform/event_loop.h"
#include "platform/module.h"
#include "platform/sqlite.h"
#include "platform/strings.h"
#include "tests/support/hostile_input.h"
#include "tests/support/log_capture.h"
#include "tests/support/sqlite_builder.h"
#include "tests/support/temp_root.h"

TEST(DebugLog, LevelsPassOnlyThroughTheHostsMask) {
    LogCapture log;
    CDebug::setLevelMask(CDebug::kWarning | CDebug::kError);
    logLine(2, "progress ", 1);
    logLine(8, "warning ", 2);
    CDebug::Main << CDebug::level(16) << "error " << 3 << CDebug::endl;
    CDebug::Main << CDebug::level(4) << "notable" << CDebug::endl;
    ASSERT_EQ(log.lines().size(), 2u) << log.dump();
    EXPECT_EQ(log.lines()[0].level, 8);
    EXPECT_EQ(log.lines()[0].text, "warning 2");
    EXPECT_EQ(log.lines()[1].level, 16);
    EXPECT_EQ(log.lines()[1].text, "error 3");
    EXPECT_FALSE(CDebug::messageLevelAboveOne());
    CDebug::setLevelMask(CDebug::kProgress);
    EXPECT_TRUE(CDebug::messageLevelAboveOne());
}

TEST(DebugLog, LinesFromSeveralThreadsStayWhole) {
    LogCapture log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                if (t % 2)
                    CDebug::Main << CDebug::level(8 << (t / 2)) << "thread " << t << " line " << i << CDebug::endl;
                else
                    logLine(8 << (t / 2), "thread ", t, " line ", i);
            }
        });
    for (auto& thread : threads) thread.join();
    ASSERT_EQ(log.lines().size(), 800u);
    for (const auto& line : log.lines()) {
        int t = line.text.size() > 7 ? line.text[7] - '0' : -1;
        EXPECT_EQ(line.text.rfind("thread ", 0), 0u) << line.text;
        EXPECT_EQ(line.level, 8 << (t / 2)) << line.text;
    }
}

TEST(EventLoop, PeriodicTimerRunsOnTheLoopUntilStopped) {
    CEventLoop loop;
    struct Context {
        CEventLoop* loop;
        vorn_timer_t* timer;
        int ticks = 0;
    };
    vorn_timer_t timer;
    Context context{&loop, &timer};
    auto tick = [](void* c) {
        auto* ctx = static_cast<Context*>(c);
        if (++ctx->ticks == 3) {
            EXPECT_EQ(vorn_timer_stop(ctx->timer), 0);
            ctx->loop->stop();
        }
    };
    ASSERT_EQ(vorn_timer_init(&timer, tick, &context, 0, 10), 0);
    ASSERT_EQ(vorn_timer_start(&timer, loop), 0);
    loop.run();
    EXPECT_EQ(context.ticks, 3);
    close(timer.fd);
}

TEST(EventLoop, TimerErrorsAreNegatedErrnoValues) {
    vorn_timer_t timer;
    CEventLoop loop;
    EXPECT_EQ(vorn_timer_start(&timer, loop), -EINVAL);  // not initialised
    EXPECT_EQ(vorn_timer_stop(&timer), -EINVAL);
    EXPECT_EQ(vorn_timer_init(&timer, nullptr, nullptr, 0, 2000), -EINVAL);
    EXPECT_EQ(vorn_timer_init(nullptr, [](void*) {}, nullptr, 0, 2000), -EINVAL);
}

TEST(ModuleTags, BroadcastHandsOverWhatWasSetSinceTheLastOne) {
    CModule module(CModuleParmMap(), "Test", 1);
    std::vector<std::vector<SymbolValue>> broadcasts;
    module.setBroadcastSink([&](const std::vector<SymbolValue>& s) { broadcasts.push_back(s); });
    module.Tags().SetValueByTag("a", "1");
    module.Tags().SetValueByTag("b", "2");
    module.Broadcast();
    module.Tags().SetValueByTag("a", "3");
    module.Broadcast();
    module.Broadcast();
    ASSERT_EQ(broadcasts.size(), 3u);
    EXPECT_EQ(broadcasts[0], (std::vector<SymbolValue>{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(broadcasts[1], (std::vector<SymbolValue>{{"a", "3"}}));
    EXPECT_TRUE(broadcasts[2].empty());
    EXPECT_EQ(module.Tags().GetValueByTag("a"), "3");
}

TEST(Sqlite, BoundValuesFindRowsAndNeverChangeTheStatement) {
    TempFileRoot root;
    std::string path = root.path("/db/test.db");
    SqliteBuilder(path)
        .exec("create table t (k text, v integer);")
        .insert("insert into t values (?, ?);", {"O'Brien", "7"})
        .insert("insert into t values (?, ?);", {"plain", "8"});

    Csqlite db;
    ASSERT_TRUE(db.Open(path, false));
    for (const std::string key : {"O'Brien", "' or '1'='1", "plain"}) {
        CsqliteQuerySelect query("select v from t where k = ?;", db);
        query.Bind(1, key);
        bool found = query.Step();
        EXPECT_EQ(found, key != "' or '1'='1") << key;
        if (found) {
            EXPECT_EQ(query.GetColumnAsInt(0, -1), key == "plain" ? 8 : 7) << key;
        }
    }
    CsqliteQuerySelect invalid("select nonsense from nowhere", db);
    EXPECT_FALSE(invalid.IsValid());
    EXPECT_FALSE(invalid.Step());

    Csqlite missing;
    EXPECT_FALSE(missing.Open(root.path("/db/missing.db"), false));
    EXPECT_FALSE(CsqliteQuerySelect("select 1", missing).IsValid());
}

TEST(Sqlite, OpensOnlyRegularFilesAndOnlyForReading) {
    TempFileRoot root;
    const std::string path = root.path("/db/test.db");
    SqliteBuilder(path).exec("create table t (k text);");
    // SQLite's own open would wait for a writer on a FIFO; the journal is
    // opened whenever it exists, the WAL path only for a WAL database.
    struct Case {
        const char* name;
        std::string planted;
        HostileFile kind;
    } cases[] = {
        {"FIFO at the path", path, HostileFile::Fifo},
        {"link to a device at the path", path, HostileFile::LinkToDevZero},
        {"FIFO at the journal", path + "-journal", HostileFile::Fifo},
        {"FIFO at the WAL", path + "-wal", HostileFile::Fifo},
    };
    for (const auto& c : cases) {
        const std::string saved = root.path("/db/saved.db");
        if (c.planted == path) std::filesystem::rename(path, saved);
        plantHostileFile(c.planted, c.kind);
        LogCapture log;
        Csqlite db;
        EXPECT_FALSE(db.Open(path, false)) << c.name;
        EXPECT_FALSE(db.IsOpen()) << c.name;
        EXPECT_TRUE(log.contains(c.planted + " is not a regular file", 8)) << c.name << "\n" << log.dump();
        std::filesystem::remove(c.planted);
        if (c.planted == path) std::filesystem::rename(saved, path);
    }

    Csqlite db;
    ASSERT_TRUE(db.Open(path, false));
    EXPECT_EQ(sqlite3_exec(db.Handle(), "insert into t values ('x');", nullptr, nullptr, nullptr), SQLITE_READONLY);
}

TEST(StringUtilities, SplitTrimUpperAndExists) {
    EXPECT_EQ(CSVsplit("a,b,,c", ","), (std::vector<std::string>{"a", "b", "", "c"}));
    EXPECT_EQ(CSVsplit("a::b", "::"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(CSVsplit("", ","), (std::vector<std::string>{""}));
    EXPECT_EQ(CSVsplit("abc", ""), (std::vector<std::string>{"abc"}));
    EXPECT_EQ(trim(" \t x y \n"), "x y");
    EXPECT_EQ(trim("   "), "");
    EXPECT_EQ(toupper("None-1"), "NONE-1");
    EXPECT_TRUE(FileExists("/"));
    EXPECT_FALSE(FileExists("/no/such/file"));
}
