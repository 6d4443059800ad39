// The report page as text: what the browser test (tests/browser) cannot see at a glance — that
// nothing from a log can leave its place in the page, that the page names nothing outside
// itself, that the data block carries every entry back as it was, and how the chart groups time.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "../tools/errlog/report_chart.h"
#include "../tools/errlog/report_page.h"

namespace {

using errlog::LogKind;
using errlog::ReportEntry;
using errlog::ReportInput;
using errlog::ReportLog;

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The inline data block of a page, parsed.
nlohmann::json data_block(const std::string& page) {
    const std::string open = "<script id=\"report-data\" type=\"application/json\">";
    const auto from = page.find(open);
    EXPECT_NE(from, std::string::npos);
    const auto to = page.find("</script>", from);
    return nlohmann::json::parse(page.substr(from + open.size(), to - from - open.size()));
}

const std::string kHostile =
    "</script><script>alert(1)</script><!-- <img src=\"http://x/y\"> "
    "'\"&amp; \xE2\x80\xA8\xE2\x80\xA9 \xFF\xC0\x80 \x01";

}  // namespace

// Texts from logs are data wherever they land: escaped, made UTF-8, and read back unchanged.
TEST(ReportPageEscapes, TextsFromLogsStayText) {
    std::string html;
    errlog::append_html(html, "<b class='x'>\"A&B\"</b>");
    EXPECT_EQ(html, "&lt;b class=&#39;x&#39;&gt;&quot;A&amp;B&quot;&lt;/b&gt;");

    std::string bad;
    errlog::append_html(bad,
                        "a\xFF"
                        "b\xE2\x82");  // a stray byte and a cut sequence
    EXPECT_EQ(bad,
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD\xEF\xBF\xBD");

    std::string lit;
    errlog::append_script_string(lit, kHostile);
    for (const char* never : {"<", ">", "&", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xFF", "\x01"})
        EXPECT_EQ(lit.find(never), std::string::npos) << "raw " << never;
    // The literal reads back as the text, with U+FFFD for each byte that is not UTF-8.
    const std::string back = nlohmann::json::parse(lit).get<std::string>();
    std::string expected = kHostile;
    expected.replace(expected.find("\xFF\xC0\x80"), 3, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(back, expected);
}

// A page whose every field from the logs is hostile still has only its own markup, asks for
// nothing outside itself, and carries the texts as they were.
TEST(ReportPage, HoldsOnlyItsOwnMarkupAndNamesNothingOutside) {
    ReportInput in;
    in.title = "fleet " + kHostile;
    in.filters = "--component " + kHostile;
    in.unreadable = {"x.log: " + kHostile};
    in.logs.push_back(
        {"a/" + kHostile + "/SYSERR.LOG", "a/" + kHostile, LogKind::system, true, 0, ""});
    in.logs.push_back({"b/USERERR.LOG", "b", LogKind::user, false, 4, kHostile});
    ReportEntry e;
    e.code = 7;
    e.text = kHostile;
    e.component = kHostile;
    e.file = kHostile;
    e.line = "12";
    e.date = kHostile;
    e.time = "?";
    in.entries.push_back(e);
    std::string page;
    errlog::write_report_page(in, page);

    EXPECT_EQ(occurrences(page, "<script"), 2u);  // the data block and the page's script
    EXPECT_EQ(occurrences(page, "</script>"), 2u);
    EXPECT_EQ(occurrences(page, "<!--"), 0u);
    EXPECT_EQ(occurrences(page, "<img"), 0u);
    // Whatever could fetch: a source or link attribute, a style import or url() but for the
    // chart's own patterns ("url(#").
    for (const char* outside : {" src=\"", " src='", "href=\"h", "href=\"/", "<link", "<iframe",
                                "<object", "<embed", "@import", "url(\"", "url(h", "url(/"})
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
    EXPECT_EQ(occurrences(page, "url("), occurrences(page, "url(#"));
    EXPECT_EQ(page.find("\xFF"), std::string::npos);

    const nlohmann::json d = data_block(page);
    ASSERT_EQ(d["code"].size(), 1u);
    std::string expected = kHostile;
    expected.replace(expected.find("\xFF\xC0\x80"), 3, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(d["strings"][d["text"][0].get<int>()], expected);
    EXPECT_EQ(d["strings"][d["comp"][0].get<int>()], expected);
    EXPECT_EQ(d["strings"][d["src"][0].get<int>()], expected + ":12");
    EXPECT_EQ(d["t"][0], expected + " ?");  // no readable stamp: the stored date and time
}

// The data block gives back each entry's stamp, log, code and texts in the page's order.
TEST(ReportPage, DataBlockCarriesEveryEntry) {
    ReportInput in;
    in.logs = {{"i1/SYSERR.LOG", "i1", LogKind::system, true, 0, ""},
               {"i2/USERERR.LOG", "i2", LogKind::user, true, 0, ""}};
    const std::vector<std::string> texts = {"Lamp 1 failed", "Door open", "Lamp 2 failed"};
    const std::int64_t base = errlog::epoch_seconds(2026, 12, 5, 17, 0, 0);
    const struct {
        std::uint32_t log;
        bool overflow, stamped;
        std::uint16_t code;
        std::int64_t stamp;
        int text;
    } rows[] = {{0, false, true, 100, base, 0},       {1, false, false, 200, 0, 1},
                {1, false, true, 200, base - 61, 1},  {1, false, true, 100, base - 61, 2},
                {0, true, true, 0, base - 7200, 0},   {1, false, true, 300, base - 90000, 1},
                {0, false, true, 100, base - 3000, 0}};
    for (const auto& r : rows) {
        ReportEntry e;
        e.log = r.log;
        e.overflow = r.overflow;
        e.code = r.code;
        e.has_stamp = r.stamped;
        e.stamp = r.stamp;
        e.date = "xx.XXX.xx";
        e.time = "99:99:99";
        e.text = texts[static_cast<std::size_t>(r.text)];
        e.component = r.text == 1 ? "DOOR" : "LAMP";
        e.file = "m.c";
        in.entries.push_back(e);
    }
    std::string page;
    errlog::write_report_page(in, page);
    const nlohmann::json d = data_block(page);
    ASSERT_EQ(d["t"].size(), std::size(rows));
    std::int64_t now = d["t0"].get<std::int64_t>();
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto& r = rows[i];
        SCOPED_TRACE(i);
        if (r.stamped) {
            now -= d["t"][i].get<std::int64_t>();
            EXPECT_EQ(now, r.stamp);
        } else {
            EXPECT_EQ(d["t"][i], "xx.XXX.xx 99:99:99");
        }
        EXPECT_EQ(d["log"][i], r.log);
        EXPECT_EQ(d["code"][i], r.overflow ? -1 : r.code);
        EXPECT_EQ(d["strings"][d["text"][i].get<int>()], texts[static_cast<std::size_t>(r.text)]);
        EXPECT_EQ(d["strings"][d["src"][i].get<int>()], "m.c");
        const auto& log = d["logs"][r.log];
        EXPECT_EQ(d["strings"][log[1].get<int>()], r.log == 0 ? "i1" : "i2");
        EXPECT_EQ(log[2], r.log == 0 ? 0 : 1);
    }
    // Code 100: the text and component of its newest error, and its two instruments.
    EXPECT_NE(page.find("data-code=\"100\" data-count=\"3\"><td class=\"num\">1</td><td "
                        "class=\"num\"><a class=\"code-link\" href=\"#entries\">100</a></td>"
                        "<td>Lamp 1 failed</td><td>LAMP</td><td class=\"num\">2</td>"),
              std::string::npos);
    // The summary counts the overflow marker as an entry, not as an error.
    EXPECT_NE(page.find("id=\"sum-entries\" data-value=\"7\""), std::string::npos);
    EXPECT_NE(page.find("6 errors, 1 overflow markers"), std::string::npos);
    // Components: their codes and errors.
    EXPECT_NE(page.find("<td>LAMP</td><td class=\"num\">1</td><td class=\"num\">3</td>"),
              std::string::npos);
    EXPECT_NE(page.find("<td>DOOR</td><td class=\"num\">2</td><td class=\"num\">3</td>"),
              std::string::npos);
    EXPECT_NE(page.find("id=\"sum-instruments\" data-value=\"2\""), std::string::npos);
}

// The most frequent codes: twenty, most first, the rest summed in one row.
TEST(ReportPage, TopTwentyCodesAndTheRestSummed) {
    ReportInput in;
    in.logs = {{"i/SYSERR.LOG", "i", LogKind::system, true, 0, ""}};
    // Code 1000 + k appears k + 1 times, k = 0..24: the top is 1024 (25 times) down to 1005.
    for (int k = 0; k < 25; ++k)
        for (int n = 0; n <= k; ++n) {
            ReportEntry e;
            e.code = static_cast<std::uint16_t>(1000 + k);
            e.text = "t";
            in.entries.push_back(e);
        }
    std::string page;
    errlog::write_report_page(in, page);
    const auto codes = page.substr(page.find("id=\"top-codes\""));
    const auto first = codes.find("data-code=\"1024\" data-count=\"25\"");
    const auto last = codes.find("data-code=\"1005\" data-count=\"6\"");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(last, std::string::npos);
    EXPECT_LT(first, last);
    EXPECT_EQ(codes.find("data-code=\"1004\""), std::string::npos);
    EXPECT_EQ(occurrences(codes.substr(0, codes.find("</table>")), "data-code="), 20u);
    // 1000..1004: 1 + 2 + 3 + 4 + 5 = 15 errors.
    EXPECT_NE(codes.find("5 other codes</td><td class=\"num\">15</td>"), std::string::npos);
}

// Seconds since 1970 and back, at dates where a calendar formula goes wrong first.
TEST(ReportChart, CalendarSecondsBothWays) {
    const struct {
        int y, mo, d, h, mi, s;
        std::int64_t seconds;
    } cases[] = {{2026, 12, 5, 17, 21, 31, 1796491291},
                 {2000, 2, 29, 0, 0, 0, 951782400},
                 {1969, 12, 31, 23, 59, 59, -1},
                 {2069, 12, 31, 23, 59, 59, 3155759999}};
    for (const auto& c : cases) {
        EXPECT_EQ(errlog::epoch_seconds(c.y, c.mo, c.d, c.h, c.mi, c.s), c.seconds);
        const errlog::CivilTime t = errlog::civil_time(c.seconds);
        EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
                  std::vector<int>({c.y, c.mo, c.d, c.h, c.mi, c.s}));
    }
}

// Hours for up to three days, then days, then several days a bar so that bars stay few.
TEST(ReportChart, BucketsFollowTheSpan) {
    const std::int64_t t = errlog::epoch_seconds(2026, 12, 5, 17, 21, 31);
    const auto b1 = errlog::choose_buckets(t, t + 3 * 86400);
    EXPECT_EQ(b1.width, 3600);
    EXPECT_EQ(b1.start, errlog::epoch_seconds(2026, 12, 5, 17, 0, 0));
    EXPECT_EQ(b1.count, 73u);
    const auto b2 = errlog::choose_buckets(t, t + 3 * 86400 + 1);
    EXPECT_EQ(b2.width, 86400);
    EXPECT_EQ(b2.start, errlog::epoch_seconds(2026, 12, 5, 0, 0, 0));
    EXPECT_EQ(b2.count, 4u);
    const auto b3 = errlog::choose_buckets(errlog::epoch_seconds(1970, 1, 1, 0, 0, 0),
                                           errlog::epoch_seconds(2069, 12, 31, 23, 59, 59));
    EXPECT_GT(b3.width, 86400);
    EXPECT_EQ(b3.width % 86400, 0);
    EXPECT_LE(b3.count, 400u);
    EXPECT_GE(b3.start + static_cast<std::int64_t>(b3.count) * b3.width,
              errlog::epoch_seconds(2069, 12, 31, 23, 59, 59));
}
