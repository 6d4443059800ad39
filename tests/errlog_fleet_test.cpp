// errlog's fleet part (tools/errlog/fleet.h) below the tool runs of tests/cases/tool_fleet: the
// merge order of many logs, the time bounds of --since and --until, the JSON strings of bytes
// that are not UTF-8, and the bounded reading of files that are no log.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "../tools/errlog/fleet.h"
#include "../tools/errlog/fleet_output.h"
#include "../tools/errlog/log_read.h"

namespace {

// A valid log whose entries have the given stamp keys (0: no readable date), newest first.
errlog::FleetLog log_with(const std::vector<long long>& keys) {
    errlog::FleetLog f;
    f.state = errlog::LogState::valid;
    for (long long k : keys) {
        errlog::FleetEntry e;
        e.key = k;
        e.dated = k != 0;
        f.entries.push_back(e);
    }
    return f;
}

std::vector<std::pair<int, int>> merged(const std::vector<errlog::FleetLog>& logs) {
    std::vector<std::pair<int, int>> out;
    errlog::NewestFirst merge(logs);
    errlog::MergedRef m;
    while (merge.next(m)) out.emplace_back(m.log, m.entry);
    return out;
}

}  // namespace

// Equal stamps go out in the order of the logs; an entry without a date goes out as soon as it
// is next in its log; each log keeps its own order even where its stamps are not sorted.
TEST(ErrlogMerge, OrdersByStampThenLogAndKeepsEachLogsOrder) {
    std::vector<errlog::FleetLog> logs;
    logs.push_back(log_with({50, 40, 40, 10}));
    logs.push_back(log_with({50, 0, 45, 30}));
    logs.push_back(log_with({}));
    logs.push_back(log_with({20, 60}));  // a clock set back: 60 stays after 20
    const std::vector<std::pair<int, int>> expected = {{0, 0}, {1, 0}, {1, 1}, {1, 2}, {0, 1},
                                                       {0, 2}, {1, 3}, {3, 0}, {3, 1}, {0, 3}};
    EXPECT_EQ(merged(logs), expected);
}

// Many logs, each sorted newest first with many equal stamps: the merge is sorted newest first,
// on equal stamps by log, and holds every entry once.
TEST(ErrlogMerge, ManyLogsComeOutSortedAndWhole) {
    std::mt19937 rng(7);
    std::vector<errlog::FleetLog> logs;
    std::size_t total = 0;
    for (int i = 0; i < 300; ++i) {
        std::vector<long long> keys(rng() % 26);
        for (auto& k : keys) k = 1 + rng() % 40;
        std::sort(keys.rbegin(), keys.rend());
        total += keys.size();
        logs.push_back(log_with(keys));
    }
    const auto out = merged(logs);
    ASSERT_EQ(out.size(), total);
    std::vector<std::size_t> next(logs.size(), 0);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto [log, entry] = out[i];
        ASSERT_EQ(static_cast<std::size_t>(entry), next[log]++) << "log " << log << " out of order";
        if (i == 0) continue;
        const auto [prev_log, prev_entry] = out[i - 1];
        const long long a = logs[prev_log].entries[prev_entry].key,
                        b = logs[log].entries[entry].key;
        ASSERT_TRUE(a > b || (a == b && prev_log <= log)) << "at " << i;
    }
}

// -n takes the newest after merging; --reverse turns the result round.
TEST(ErrlogMerge, NewestThenReverse) {
    errlog::Fleet fleet;
    fleet.logs.push_back(log_with({30, 10}));
    fleet.logs.push_back(log_with({20}));
    errlog::Filter f;
    f.newest = 2;
    f.reverse = true;
    const auto out = errlog::merged_entries(fleet, f);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].log, 1u);
    EXPECT_EQ(out[1].log, 0u);
    EXPECT_EQ(out[1].entry, 0u);
}

// A day or minute named as the lower bound starts it; as the upper bound it is taken whole.
TEST(ErrlogFilter, TimeBoundsTakeWholeDaysAndMinutes) {
    const struct {
        const char* text;
        bool end;
        long long key;  // -1: refused
    } cases[] = {
        {"2026-12-05", false, 20261205000000},
        {"2026-12-05", true, 20261205235960},
        {"2026-12-05 14:00", false, 20261205140000},
        {"2026-12-05T14:00", true, 20261205140060},
        {"2026-12-05 14:00:07", true, 20261205140007},
        {"2024-02-29", false, 20240229000000},
        {"2026-02-29", false, -1},
        {"2026-12-5", false, -1},
        {"2026-12-05 24:00", false, -1},
        {"2026-12-05 14", false, -1},
        {"05.DEC.26", false, -1},
        {"2026-12-05 14:00:07 ", false, -1},
        {"2026-12-0x", false, -1},
        {"2026-12-05 14:0x", true, -1},
        {"2026-12-05 14:00:x7", true, -1},
        {"2026/12/05", false, -1},
    };
    for (const auto& c : cases) {
        long long key = -1;
        const bool ok = errlog::parse_time_bound(c.text, c.end, key);
        EXPECT_EQ(ok, c.key >= 0) << c.text;
        if (ok) {
            EXPECT_EQ(key, c.key) << c.text;
        }
    }
}

// Codes and components select errors only; a window drops entries without a date.
TEST(ErrlogFilter, CodesComponentsAndWindow) {
    errlog::EntryFields error, marker;
    error.code_value = 300;
    error.component = "Valve";
    marker.overflow = true;
    errlog::Filter f;
    EXPECT_TRUE(f.passes(marker, std::nullopt));
    f.components = {"VALVE"};
    EXPECT_TRUE(f.passes(error, 5));
    EXPECT_FALSE(f.passes(marker, 5));
    f.codes = {100, 301};
    EXPECT_FALSE(f.passes(error, 5));
    f.codes = {100, 300};
    EXPECT_TRUE(f.passes(error, 5));
    f.since = 5;
    EXPECT_TRUE(f.passes(error, 5));
    EXPECT_FALSE(f.passes(error, 4));
    EXPECT_FALSE(f.passes(error, std::nullopt));
}

// JSON strings of stored bytes come out as the JSON library writes them, bytes that are not
// UTF-8 replaced the same way: random bytes, weighted towards UTF-8 lead and continuation bytes.
TEST(ErrlogJson, StringsMatchTheJsonLibrary) {
    std::mt19937 rng(11);
    const unsigned char pool[] = {'a',  '"',  '\\', '\r', '\n', 0x01, 0x1f, 0x7f, 0x80, 0xbf,
                                  0xc2, 0xc0, 0xdf, 0xe0, 0xa0, 0xed, 0x9f, 0xef, 0xf0, 0x90,
                                  0xf4, 0x8f, 0xf5, 0xff, 0xbd, 0xe2, 0x82, 0xac};
    for (int i = 0; i < 20000; ++i) {
        std::string text(rng() % 12, ' ');
        for (char& c : text) c = static_cast<char>(pool[rng() % sizeof pool]);
        std::string ours;
        errlog::append_json_string(ours, text);
        const std::string theirs =
            nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        ASSERT_EQ(ours, theirs) << "case " << i;
    }
}

// A FIFO, a device and a folder are refused at once without reading; a file longer than the
// bound is read only one byte beyond it, with its real length.
TEST(ErrlogRead, RefusesWhatIsNoFileAndReadsOneByteBeyond) {
    char folder[] = "/tmp/errlog_read.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string fifo = std::string(folder) + "/fifo", big = std::string(folder) + "/big";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    errlog::FileRead r;
    EXPECT_FALSE(errlog::read_bounded(fifo, 100, r));
    EXPECT_EQ(r.error, "not a regular file (a FIFO)");
    EXPECT_FALSE(errlog::read_bounded("/dev/zero", 100, r));
    EXPECT_EQ(r.error, "not a regular file (a character device)");
    EXPECT_FALSE(errlog::read_bounded(folder, 100, r));
    EXPECT_EQ(r.error, "Is a directory");
    FILE* f = std::fopen(big.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(std::string(5000, 'x').data(), 1, 5000, f), 5000u);
    std::fclose(f);
    ASSERT_TRUE(errlog::read_bounded(big, 100, r));
    EXPECT_EQ(r.bytes.size(), 101u);
    EXPECT_EQ(r.length, 5000);
    ASSERT_TRUE(errlog::read_bounded(big, 5000, r));
    EXPECT_EQ(r.bytes.size(), 5000u);
    EXPECT_EQ(r.length, 5000);
    unlink(fifo.c_str());
    unlink(big.c_str());
    rmdir(folder);
}
