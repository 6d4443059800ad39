// errlog's own reading rules that the tool runs (tests/cases/tool_*.errsim) cannot reach: the
// calendar check of stored dates and times, and the escapes of control characters.
#include <gtest/gtest.h>

#include "../tools/errlog/log_view.h"

// A stored date and time read as a calendar time, or not at all.
TEST(ErrlogStamp, ReadsOnlyRealDatesAndTimes) {
    const struct {
        const char* date;
        const char* time;
        const char* iso;  // null: no time
    } cases[] = {
        {"07.MAR.04", "09:05:31", "2004-03-07T09:05:31"},
        {"31.DEC.99", "23:59:60", "1999-12-31T23:59:60"},  // years 70 to 99: 19xx
        {"01.JAN.69", "00:00:00", "2069-01-01T00:00:00"},  // 00 to 69: 20xx
        {"29.FEB.24", "12:00:00", "2024-02-29T12:00:00"},
        {"29.FEB.00", "12:00:00", "2000-02-29T12:00:00"},
        {"29.FEB.25", "12:00:00", nullptr},
        {"31.APR.26", "12:00:00", nullptr},
        {"00.JAN.26", "12:00:00", nullptr},
        {"01.Jan.26", "12:00:00", nullptr},
        {"01.JAN.26", "24:00:00", nullptr},
        {"01.JAN.26", "12:60:00", nullptr},
        {"01.JAN.26", "12:00:61", nullptr},
        {"DD.MMM.YY", "HH:MM:SS", nullptr},
        {"01-JAN-26", "12:00:00", nullptr},
        {"01.JAN.26", "12.00.00", nullptr},
    };
    for (const auto& c : cases) {
        errlog::Entry e;
        e.date = c.date;
        e.time = c.time;
        errlog::Stamp t;
        const bool read = errlog::parse_stamp(e, t);
        EXPECT_EQ(read, c.iso != nullptr) << c.date << " " << c.time;
        if (read && c.iso) {
            EXPECT_EQ(errlog::iso_time(t), c.iso);
        }
    }
}

// Texts are escaped so that each stays on one line; CR LF reads \n, a lone CR \r.
TEST(ErrlogEscape, KeepsEachTextOnOneLine) {
    EXPECT_EQ(errlog::escape("a\r\nb"), "a\\nb");
    EXPECT_EQ(errlog::escape("q\"\\\t\x01\r"), "q\\\"\\\\\\t\\001\\r");
}
