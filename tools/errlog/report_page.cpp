#include "report_page.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <utility>

#include "report_assets.h"
#include "report_chart.h"

namespace errlog {

namespace {

constexpr std::size_t kTop = 20;

// The next UTF-8 sequence of text at i: its length, 0 when the byte at i starts none.
std::size_t utf8_length(std::string_view text, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = b(i);
    std::size_t n;
    unsigned lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else
        return 0;
    if (i + n > text.size()) return 0;
    if (b(i + 1) < lo || b(i + 1) > hi) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
    return n;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

std::string shown_or_dash(std::string_view s) {
    return s.empty() ? "-" : std::string(s);
}

// Strings of the data block, each once.
class StringTable {
  public:
    std::uint32_t id(std::string_view s) {
        auto [it, added] = index_.try_emplace(s, static_cast<std::uint32_t>(strings_.size()));
        if (added) strings_.push_back(s);
        return it->second;
    }
    const std::vector<std::string_view>& strings() const { return strings_; }

  private:
    std::unordered_map<std::string_view, std::uint32_t> index_;
    std::vector<std::string_view> strings_;
};

// A count under a name, for the top lists.
struct Ranked {
    std::size_t key;  // code, component id or instrument id
    std::size_t count;
};

std::vector<Ranked> ranked(const std::vector<std::size_t>& counts) {
    std::vector<Ranked> out;
    for (std::size_t k = 0; k < counts.size(); ++k)
        if (counts[k] > 0) out.push_back({k, counts[k]});
    std::stable_sort(out.begin(), out.end(),
                     [](const Ranked& a, const Ranked& b) { return a.count > b.count; });
    return out;
}

// What the page counts, in one pass over the entries.
struct Counts {
    std::vector<std::uint32_t> instrument_of_log;  // instrument id of each log
    std::vector<std::string_view> instruments;     // by id
    std::vector<std::size_t> logs_per_instrument;
    std::size_t errors = 0, overflows = 0, without_stamp = 0;
    bool any_stamp = false;
    std::int64_t first = 0, last = 0;  // the oldest and newest stamp of an entry
    std::vector<std::size_t> per_code = std::vector<std::size_t>(65536);
    std::vector<std::size_t> per_component;  // by component id
    std::vector<std::string_view> components;
    std::vector<std::size_t> per_instrument;
    // Per code: the texts seen with it (text → count), components, instruments.
    std::unordered_map<std::uint16_t, std::unordered_map<std::string_view, std::size_t>> texts;
    std::unordered_map<std::uint16_t, std::unordered_map<std::string_view, std::size_t>> comps;
    std::vector<std::pair<std::uint16_t, std::uint32_t>> code_instrument;
};

Counts count(const ReportInput& in) {
    Counts c;
    std::unordered_map<std::string_view, std::uint32_t> inst_ids, comp_ids;
    for (const ReportLog& log : in.logs) {
        auto [it, added] =
            inst_ids.try_emplace(log.instrument, static_cast<std::uint32_t>(c.instruments.size()));
        if (added) {
            c.instruments.push_back(log.instrument);
            c.logs_per_instrument.push_back(0);
        }
        c.instrument_of_log.push_back(it->second);
        ++c.logs_per_instrument[it->second];
    }
    c.per_instrument.assign(c.instruments.size(), 0);
    for (const ReportEntry& e : in.entries) {
        if (e.has_stamp) {
            c.first = c.any_stamp ? std::min(c.first, e.stamp) : e.stamp;
            c.last = c.any_stamp ? std::max(c.last, e.stamp) : e.stamp;
            c.any_stamp = true;
        } else {
            ++c.without_stamp;
        }
        if (e.overflow) {
            ++c.overflows;
            continue;
        }
        ++c.errors;
        ++c.per_code[e.code];
        auto [it, added] =
            comp_ids.try_emplace(e.component, static_cast<std::uint32_t>(c.components.size()));
        if (added) {
            c.components.push_back(e.component);
            c.per_component.push_back(0);
        }
        ++c.per_component[it->second];
        const std::uint32_t inst =
            e.log < c.instrument_of_log.size() ? c.instrument_of_log[e.log] : 0;
        if (inst < c.per_instrument.size()) ++c.per_instrument[inst];
        ++c.texts[e.code][e.text];
        ++c.comps[e.code][e.component];
        c.code_instrument.emplace_back(e.code, inst);
    }
    std::sort(c.code_instrument.begin(), c.code_instrument.end());
    c.code_instrument.erase(std::unique(c.code_instrument.begin(), c.code_instrument.end()),
                            c.code_instrument.end());
    return c;
}

// The most frequent key of a map (the first in the map's order on equal counts is arbitrary,
// so ties go to the smaller string: the page stays the same for the same input).
std::string_view most_frequent(const std::unordered_map<std::string_view, std::size_t>& m) {
    std::string_view best;
    std::size_t n = 0;
    for (const auto& [k, v] : m)
        if (v > n || (v == n && k < best)) best = k, n = v;
    return best;
}

std::string stamp_text(std::int64_t t) {
    const CivilTime c = civil_time(t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                  c.minute, c.second);
    return buf;
}

void append_number_attr(std::string& out, const char* name, std::size_t v) {
    out += ' ';
    out += name;
    out += "=\"";
    out += std::to_string(v);
    out += '"';
}

// A summary figure: <div class="figure" id=ID data-value=N><b>N</b> LABEL</div>.
void append_figure(std::string& out, const char* id, std::size_t value, std::string_view label,
                   std::string_view detail = {}) {
    out += "<div class=\"figure\" id=\"";
    out += id;
    out += '"';
    append_number_attr(out, "data-value", value);
    out += "><b>";
    out += with_commas(value);
    out += "</b><span>";
    append_html(out, label);
    out += "</span>";
    if (!detail.empty()) {
        out += "<small>";
        append_html(out, detail);
        out += "</small>";
    }
    out += "</div>\n";
}

void append_summary(std::string& out, const ReportInput& in, const Counts& c) {
    std::size_t valid = 0;
    for (const ReportLog& log : in.logs) valid += log.valid ? 1 : 0;
    const std::size_t corrupt = in.logs.size() - valid;
    out += "<section id=\"summary\"><h2>Summary</h2>\n<div class=\"figures\">\n";
    append_figure(out, "sum-logs", in.logs.size(), "logs read",
                  with_commas(valid) + " valid, " + with_commas(corrupt) + " corrupt");
    append_figure(out, "sum-instruments", c.instruments.size(), "instruments (folders)");
    append_figure(
        out, "sum-entries", in.entries.size(), "entries",
        with_commas(c.errors) + " errors, " + with_commas(c.overflows) + " overflow markers");
    append_figure(out, "sum-corrupt", corrupt, "corrupt logs");
    append_figure(out, "sum-backups", in.backups, "backup files (.BAK)",
                  in.backups ? "read them with errlog salvage" : "");
    append_figure(out, "sum-unreadable", in.unreadable.size(), "files not readable");
    out += "</div>\n<p id=\"sum-span\">";
    if (c.any_stamp) {
        const double days = static_cast<double>(c.last - c.first) / 86400.0;
        char span[64];
        std::snprintf(span, sizeof span, " (%.1f days)", days);
        out += "Time span: <b>" + stamp_text(c.first) + "</b> to <b>" + stamp_text(c.last) +
               "</b>" + span + ", as stored in the entries (instrument time).";
    } else {
        out += "No entry has a readable date and time.";
    }
    if (c.without_stamp > 0)
        out += " " + with_commas(c.without_stamp) +
               " entries have a date or time that cannot be read.";
    out += "</p>\n";
    if (!in.filters.empty()) {
        out += "<p id=\"sum-filters\">Filters: <code>";
        append_html(out, in.filters);
        out += "</code></p>\n";
    }
    if (corrupt > 0) {
        out +=
            "<h3>Corrupt logs</h3>\n<table class=\"list\" id=\"corrupt-logs\"><thead><tr><th>Log"
            "</th><th>Rule</th><th>What breaks</th></tr></thead><tbody>\n";
        for (const ReportLog& log : in.logs) {
            if (log.valid) continue;
            out += "<tr><td>";
            append_html(out, log.path);
            out += "</td><td class=\"num\">" + std::to_string(log.rule) + "</td><td>";
            append_html(out, log.reason);
            out += "</td></tr>\n";
        }
        out += "</tbody></table>\n";
    }
    if (!in.unreadable.empty()) {
        out += "<h3>Files not readable</h3>\n<ul id=\"unreadable\">\n";
        for (const std::string& u : in.unreadable) {
            out += "<li>";
            append_html(out, u);
            out += "</li>\n";
        }
        out += "</ul>\n";
    }
    out += "</section>\n";
}

// A share bar: an SVG bar of width proportional to count/top, with the percentage written.
void append_share(std::string& out, std::size_t count, std::size_t top, std::size_t total) {
    const double w = top ? 120.0 * static_cast<double>(count) / static_cast<double>(top) : 0;
    char buf[200];
    std::snprintf(buf, sizeof buf,
                  "<td class=\"share\"><svg width=\"120\" height=\"12\" aria-hidden=\"true\">"
                  "<rect width=\"%.1f\" height=\"12\"/></svg> %.1f %%</td>",
                  w, total ? 100.0 * static_cast<double>(count) / static_cast<double>(total) : 0.0);
    out += buf;
}

// The row that sums the entries after the first kTop (no bar: it is no single name).
void append_rest(std::string& out, const std::vector<Ranked>& list, std::size_t columns,
                 const char* what, std::size_t total) {
    if (list.size() <= kTop) return;
    std::size_t rest = 0;
    for (std::size_t i = kTop; i < list.size(); ++i) rest += list[i].count;
    out += "<tr class=\"rest\"><td></td><td colspan=\"" + std::to_string(columns) + "\">" +
           with_commas(list.size() - kTop) + " other " + what + "</td><td class=\"num\">" +
           with_commas(rest) + "</td>";
    char share[64];
    std::snprintf(share, sizeof share, "<td class=\"share\">%.1f %%</td></tr>\n",
                  total ? 100.0 * static_cast<double>(rest) / static_cast<double>(total) : 0.0);
    out += share;
}

void append_top_codes(std::string& out, const Counts& c) {
    const std::vector<Ranked> list = ranked(c.per_code);
    out += "<section id=\"top-codes\" class=\"top\"><h3>Error codes</h3>\n";
    out +=
        "<table class=\"list\"><thead><tr><th>#</th><th>Code</th><th>Text (most frequent)</th>"
        "<th>Component</th><th>Instruments</th><th>Errors</th><th>Share</th></tr></thead>"
        "<tbody>\n";
    const std::size_t top = list.empty() ? 0 : list[0].count;
    for (std::size_t i = 0; i < list.size() && i < kTop; ++i) {
        const auto code = static_cast<std::uint16_t>(list[i].key);
        const auto lo = std::lower_bound(c.code_instrument.begin(), c.code_instrument.end(),
                                         std::make_pair(code, std::uint32_t{0}));
        const auto hi = std::lower_bound(
            lo, c.code_instrument.end(),
            std::make_pair(static_cast<std::uint16_t>(code + 1), std::uint32_t{0}));
        const std::size_t instruments = code == 65535
                                            ? static_cast<std::size_t>(c.code_instrument.end() - lo)
                                            : static_cast<std::size_t>(hi - lo);
        out += "<tr";
        append_number_attr(out, "data-code", code);
        append_number_attr(out, "data-count", list[i].count);
        out += "><td class=\"num\">" + std::to_string(i + 1) +
               "</td><td class=\"num\"><a class=\"code-link\" href=\"#entries\">" +
               std::to_string(code) + "</a></td><td>";
        append_html(out, most_frequent(c.texts.at(code)));
        out += "</td><td>";
        append_html(out, shown_or_dash(most_frequent(c.comps.at(code))));
        out += "</td><td class=\"num\">" + with_commas(instruments) + "</td><td class=\"num\">" +
               with_commas(list[i].count) + "</td>";
        append_share(out, list[i].count, top, c.errors);
        out += "</tr>\n";
    }
    append_rest(out, list, 4, "codes", c.errors);
    out += "</tbody></table></section>\n";
}

void append_top_named(std::string& out, const char* id, const char* heading, const char* column,
                      const char* extra_column, const std::vector<std::string_view>& names,
                      const std::vector<std::size_t>& counts, const std::vector<std::size_t>& extra,
                      const char* what, std::size_t total) {
    const std::vector<Ranked> list = ranked(counts);
    out += "<section id=\"";
    out += id;
    out += "\" class=\"top\"><h3>";
    out += heading;
    out += "</h3>\n<table class=\"list\"><thead><tr><th>#</th><th>";
    out += column;
    out += "</th><th>";
    out += extra_column;
    out += "</th><th>Errors</th><th>Share</th></tr></thead><tbody>\n";
    const std::size_t top = list.empty() ? 0 : list[0].count;
    for (std::size_t i = 0; i < list.size() && i < kTop; ++i) {
        out += "<tr";
        append_number_attr(out, "data-count", list[i].count);
        out += "><td class=\"num\">" + std::to_string(i + 1) + "</td><td>";
        append_html(out, shown_or_dash(names[list[i].key]));
        out += "</td><td class=\"num\">" + with_commas(extra[list[i].key]) +
               "</td><td class=\"num\">" + with_commas(list[i].count) + "</td>";
        append_share(out, list[i].count, top, total);
        out += "</tr>\n";
    }
    append_rest(out, list, 2, what, total);
    out += "</tbody></table></section>\n";
}

// Codes seen per component, for the components' list.
std::vector<std::size_t> codes_per_component(const ReportInput& in, const Counts& c) {
    std::unordered_map<std::string_view, std::size_t> id;
    for (std::size_t k = 0; k < c.components.size(); ++k) id[c.components[k]] = k;
    std::vector<std::pair<std::size_t, std::uint16_t>> pairs;
    pairs.reserve(c.errors);
    for (const ReportEntry& e : in.entries)
        if (!e.overflow) pairs.emplace_back(id[e.component], e.code);
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    std::vector<std::size_t> out(c.components.size());
    for (const auto& p : pairs) ++out[p.first];
    return out;
}

// The inline data block of the entries' table: a string table and one array per column.
//   strings  every text, component, source, log path and instrument, once
//   logs     per log: [path, instrument, kind (0 system, 1 user, 2 other)]
//   t0       the first stamp; t: per entry the seconds back from the previous stamp, or the
//            stored "date time" string when it cannot be read
//   log, code (-1: overflow marker), text, comp, src: per entry
void append_data(std::string& out, const ReportInput& in) {
    StringTable table;
    std::string t, log, code, text, comp, src;
    const std::size_t n = in.entries.size();
    t.reserve(n * 4);
    log.reserve(n * 5);
    code.reserve(n * 4);
    text.reserve(n * 4);
    comp.reserve(n * 3);
    src.reserve(n * 3);
    bool have_previous = false;
    std::int64_t previous = 0, t0 = 0;
    std::string source_text;
    std::unordered_map<std::string, std::uint32_t> sources;
    std::vector<std::string> source_strings;  // owned: "file:line" is made here
    sources.reserve(1024);
    std::vector<std::uint32_t> src_ids(n);
    std::vector<std::uint32_t> raw_ids;
    for (std::size_t i = 0; i < n; ++i) {
        const ReportEntry& e = in.entries[i];
        const char* sep = i ? "," : "";
        t += sep;
        if (e.has_stamp) {
            if (!have_previous) t0 = previous = e.stamp, have_previous = true;
            t += std::to_string(previous - e.stamp);
            previous = e.stamp;
        } else {
            std::string raw = std::string(e.date) + " " + std::string(e.time);
            std::string lit;
            append_script_string(lit, raw);
            t += lit;
        }
        log += sep;
        log += std::to_string(e.log);
        code += sep;
        code += e.overflow ? std::string("-1") : std::to_string(e.code);
        text += sep;
        text += std::to_string(table.id(e.text));
        comp += sep;
        comp += std::to_string(table.id(e.component));
        source_text.assign(e.file);
        if (!e.line.empty() && e.line != "-") {
            source_text += ':';
            source_text += e.line;
        }
        auto [it, added] = sources.try_emplace(source_text, 0);
        if (added) {
            source_strings.push_back(source_text);
            it->second = static_cast<std::uint32_t>(source_strings.size() - 1);
        }
        src_ids[i] = it->second;
    }
    // Sources join the table after the entries' texts: their ids are known only now.
    std::vector<std::uint32_t> source_ids(source_strings.size());
    for (std::size_t k = 0; k < source_strings.size(); ++k)
        source_ids[k] = table.id(source_strings[k]);
    for (std::size_t i = 0; i < n; ++i) {
        if (i) src += ',';
        src += std::to_string(source_ids[src_ids[i]]);
    }
    std::string logs;
    for (std::size_t k = 0; k < in.logs.size(); ++k) {
        if (k) logs += ',';
        logs += '[' + std::to_string(table.id(in.logs[k].path)) + ',' +
                std::to_string(table.id(in.logs[k].instrument)) + ',' +
                std::to_string(static_cast<int>(in.logs[k].kind)) + ']';
    }
    out += "<script id=\"report-data\" type=\"application/json\">{\"strings\":[";
    bool first = true;
    for (std::string_view s : table.strings()) {
        if (!first) out += ',';
        first = false;
        append_script_string(out, s);
    }
    out += "],\n\"oldestFirst\":";
    out += in.oldest_first ? "true" : "false";
    out += ",\n\"logs\":[" + logs + "],\n\"t0\":" + std::to_string(t0) + ",\n\"t\":[" + t +
           "],\n\"log\":[" + log + "],\n\"code\":[" + code + "],\n\"text\":[" + text +
           "],\n\"comp\":[" + comp + "],\n\"src\":[" + src + "]}</script>\n";
}

}  // namespace

std::int64_t epoch_seconds(int year, int month, int day, int hour, int minute, int second) {
    // Days from 1970-01-01 of a proleptic Gregorian date (the era-based civil-day formula).
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * static_cast<unsigned>(month + (month > 2 ? -3 : 9)) + 2) / 5 +
                         static_cast<unsigned>(day) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

void append_html(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const std::size_t n = utf8_length(text, i);
        if (n == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out.append(text.substr(i, n));
        }
        i += n;
    }
}

void append_script_string(std::string& out, std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = utf8_length(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (n == 3 && c == 0xE2 && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
             static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&' || c == 0x7F) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    out += '"';
}

void write_report_page(const ReportInput& in, std::string& out) {
    const Counts c = count(in);
    out.reserve(out.size() + in.entries.size() * 40 + 65536);
    out +=
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        // No request may leave the page: the policy refuses any that a bug would make.
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src 'none'\">\n<title>";
    append_html(out, in.title);
    out += "</title>\n<style>\n";
    out += kReportCss;
    out += "</style></head>\n<body>\n<header><h1>";
    append_html(out, in.title);
    out += "</h1></header>\n<main>\n";
    append_summary(out, in, c);

    out += "<section id=\"over-time\"><h2>Errors over time</h2>\n";
    std::vector<TimePoint> points;
    points.reserve(c.errors);
    for (const ReportEntry& e : in.entries)
        if (!e.overflow && e.has_stamp)
            points.push_back(
                {e.stamp, e.log < in.logs.size() ? in.logs[e.log].kind : LogKind::other});
    append_time_chart(out, points);
    out += "</section>\n";

    out += "<section id=\"most-frequent\"><h2>Most frequent</h2>\n";
    append_top_codes(out, c);
    append_top_named(out, "top-components", "Components", "Component", "Codes", c.components,
                     c.per_component, codes_per_component(in, c), "components", c.errors);
    append_top_named(out, "top-instruments", "Instruments with the most errors", "Instrument",
                     "Logs", c.instruments, c.per_instrument, c.logs_per_instrument, "instruments",
                     c.errors);
    out += "</section>\n";

    out += "<section id=\"entries\"><h2>Entries</h2>\n";
    out += kReportTableHtml;
    out += "<noscript><p>The table of entries needs JavaScript.</p></noscript>\n</section>\n";
    out += "</main>\n";
    append_data(out, in);
    out += "<script>\n";
    out += kReportJs;
    out += "</script>\n</body></html>\n";
}

}  // namespace errlog
