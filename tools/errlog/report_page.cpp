#include "report_page.h"

#include <algorithm>
#include <charconv>
#include <deque>
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

// Appends n in decimal.
void append_uint(std::string& out, std::uint64_t n) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}
void append_int(std::string& out, std::int64_t n) {
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, r.ptr);
}

constexpr std::uint32_t kNone = 0xFFFFFFFF;

// Every string of the page's data once, and each entry's and log's strings as numbers into it:
// made in one pass, so that counting and writing work on numbers.
struct Interned {
    std::vector<std::string_view> strings;
    std::deque<std::string> sources;  // "file:line", made here (a deque keeps their places)
    std::vector<std::uint32_t> text, comp, src;  // per entry
    std::vector<std::uint32_t> path, inst;       // per log

    std::uint32_t id(std::string_view s) {
        auto [it, added] = index_.try_emplace(s, static_cast<std::uint32_t>(strings.size()));
        if (added) strings.push_back(s);
        return it->second;
    }

  private:
    std::unordered_map<std::string_view, std::uint32_t> index_;
};

void intern(const ReportInput& in, Interned& t) {
    const std::size_t n = in.entries.size();
    t.text.resize(n);
    t.comp.resize(n);
    t.src.resize(n);
    // A source is its file and line; they are looked up apart (few of each) and joined once.
    std::unordered_map<std::string_view, std::uint32_t> files, lines;
    std::unordered_map<std::uint64_t, std::uint32_t> sources;
    for (std::size_t i = 0; i < n; ++i) {
        const ReportEntry& e = in.entries[i];
        t.text[i] = t.id(e.text);
        t.comp[i] = t.id(e.component);
        const std::uint64_t f = files.try_emplace(e.file, files.size()).first->second;
        const std::uint64_t l = lines.try_emplace(e.line, lines.size()).first->second;
        auto [it, added] = sources.try_emplace(f << 32 | l, 0);
        if (added) {
            std::string s(e.file);
            if (!e.line.empty() && e.line != "-") s.append(":").append(e.line);
            t.sources.push_back(std::move(s));
            it->second = t.id(t.sources.back());
        }
        t.src[i] = it->second;
    }
    for (const ReportLog& log : in.logs) {
        t.path.push_back(t.id(log.path));
        t.inst.push_back(t.id(log.instrument));
    }
}

// A count under a key, for the top lists.
struct Ranked {
    std::size_t key;  // code, component's string or instrument
    std::size_t count;
};

// The keys with a count, most first (equal counts: the smaller key first).
std::vector<Ranked> ranked(const std::vector<std::size_t>& counts) {
    std::vector<Ranked> out;
    for (std::size_t k = 0; k < counts.size(); ++k)
        if (counts[k] > 0) out.push_back({k, counts[k]});
    std::stable_sort(out.begin(), out.end(),
                     [](const Ranked& a, const Ranked& b) { return a.count > b.count; });
    return out;
}

// What the page counts.
struct Counts {
    std::vector<std::uint32_t> instrument_of_log;  // instrument of each log
    std::vector<std::string_view> instruments;     // by instrument
    std::vector<std::size_t> logs_per_instrument;
    std::size_t errors = 0, overflows = 0, without_stamp = 0;
    bool any_stamp = false;
    std::int64_t first = 0, last = 0;  // the oldest and newest stamp of an entry
    std::vector<std::size_t> per_code = std::vector<std::size_t>(65536);
    std::vector<std::size_t> per_component;  // by the component's string
    std::vector<std::size_t> per_instrument;
    // Of each code its newest error's text and component (strings); kNone: no error.
    std::vector<std::uint32_t> code_text = std::vector<std::uint32_t>(65536, kNone);
    std::vector<std::uint32_t> code_comp = std::vector<std::uint32_t>(65536, kNone);
    std::vector<Ranked> top_codes, top_components, top_instruments;  // all, most first
    std::vector<std::size_t> instruments_of_code;                    // by code, for the top codes
    std::vector<std::size_t> codes_of_component;  // by component, for the top components
};

Counts count(const ReportInput& in, const Interned& t) {
    Counts c;
    std::vector<std::uint32_t> instrument_of_string(t.strings.size(), kNone);
    for (std::size_t k = 0; k < in.logs.size(); ++k) {
        std::uint32_t& inst = instrument_of_string[t.inst[k]];
        if (inst == kNone) {
            inst = static_cast<std::uint32_t>(c.instruments.size());
            c.instruments.push_back(in.logs[k].instrument);
            c.logs_per_instrument.push_back(0);
        }
        c.instrument_of_log.push_back(inst);
        ++c.logs_per_instrument[inst];
    }
    c.per_instrument.assign(c.instruments.size(), 0);
    c.per_component.assign(t.strings.size(), 0);
    for (std::size_t i = 0; i < in.entries.size(); ++i) {
        const ReportEntry& e = in.entries[i];
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
        ++c.per_component[t.comp[i]];
        if (e.log < c.instrument_of_log.size()) ++c.per_instrument[c.instrument_of_log[e.log]];
        if (c.code_text[e.code] == kNone) {
            c.code_text[e.code] = t.text[i];
            c.code_comp[e.code] = t.comp[i];
        }
    }
    c.top_codes = ranked(c.per_code);
    c.top_components = ranked(c.per_component);
    c.top_instruments = ranked(c.per_instrument);

    // Instruments per top code and codes per top component: a mark per pair seen.
    std::vector<std::uint32_t> code_slot(65536, kNone), comp_slot(t.strings.size(), kNone);
    for (std::size_t k = 0; k < c.top_codes.size() && k < kTop; ++k)
        code_slot[c.top_codes[k].key] = static_cast<std::uint32_t>(k);
    for (std::size_t k = 0; k < c.top_components.size() && k < kTop; ++k)
        comp_slot[c.top_components[k].key] = static_cast<std::uint32_t>(k);
    const std::size_t insts = c.instruments.size();
    std::vector<bool> code_inst(kTop * insts), comp_code(kTop * 65536);
    c.instruments_of_code.assign(65536, 0);
    c.codes_of_component.assign(t.strings.size(), 0);
    for (std::size_t i = 0; i < in.entries.size(); ++i) {
        const ReportEntry& e = in.entries[i];
        if (e.overflow) continue;
        if (const std::uint32_t s = code_slot[e.code]; s != kNone && e.log < in.logs.size()) {
            const std::uint32_t inst = c.instrument_of_log[e.log];
            if (!code_inst[s * insts + inst]) {
                code_inst[s * insts + inst] = true;
                ++c.instruments_of_code[e.code];
            }
        }
        if (const std::uint32_t s = comp_slot[t.comp[i]];
            s != kNone && !comp_code[s * 65536 + e.code]) {
            comp_code[s * 65536 + e.code] = true;
            ++c.codes_of_component[t.comp[i]];
        }
    }
    return c;
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

void append_top_codes(std::string& out, const Counts& c, const Interned& t) {
    const std::vector<Ranked>& list = c.top_codes;
    out += "<section id=\"top-codes\" class=\"top\"><h3>Error codes</h3>\n";
    out +=
        "<table class=\"list\"><thead><tr><th>#</th><th>Code</th><th>Text (of the newest)</th>"
        "<th>Component</th><th>Instruments</th><th>Errors</th><th>Share</th></tr></thead>"
        "<tbody>\n";
    const std::size_t top = list.empty() ? 0 : list[0].count;
    for (std::size_t i = 0; i < list.size() && i < kTop; ++i) {
        const std::size_t code = list[i].key;
        out += "<tr";
        append_number_attr(out, "data-code", code);
        append_number_attr(out, "data-count", list[i].count);
        out += "><td class=\"num\">" + std::to_string(i + 1) +
               "</td><td class=\"num\"><a class=\"code-link\" href=\"#entries\">" +
               std::to_string(code) + "</a></td><td>";
        append_html(out, t.strings[c.code_text[code]]);
        out += "</td><td>";
        append_html(out, shown_or_dash(t.strings[c.code_comp[code]]));
        out += "</td><td class=\"num\">" + with_commas(c.instruments_of_code[code]) +
               "</td><td class=\"num\">" + with_commas(list[i].count) + "</td>";
        append_share(out, list[i].count, top, c.errors);
        out += "</tr>\n";
    }
    append_rest(out, list, 4, "codes", c.errors);
    out += "</tbody></table></section>\n";
}

// A list of the top names: names and extra (the third column) by the list's keys.
void append_top_named(std::string& out, const char* id, const char* heading, const char* column,
                      const char* extra_column, const std::vector<Ranked>& list,
                      const std::vector<std::string_view>& names,
                      const std::vector<std::size_t>& extra, const char* what, std::size_t total) {
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

// The inline data block of the entries' table: a string table and one array per column.
//   strings      every text, component, source, log path and instrument, once
//   oldestFirst  the entries' order
//   logs         per log: [path, instrument, kind (0 system, 1 user, 2 other)]
//   t0           the first stamp; t: per entry the seconds back from the previous stamp, or
//                the stored "date time" string when it cannot be read
//   log, code (-1: overflow marker), text, comp, src: per entry
void append_data(std::string& out, const ReportInput& in, const Interned& t) {
    const std::size_t n = in.entries.size();
    std::string times, logs, codes;
    times.reserve(n * 5);
    logs.reserve(n * 5);
    codes.reserve(n * 4);
    bool have_previous = false;
    std::int64_t previous = 0, t0 = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const ReportEntry& e = in.entries[i];
        if (i) times += ',', logs += ',', codes += ',';
        if (e.has_stamp) {
            if (!have_previous) t0 = previous = e.stamp, have_previous = true;
            append_int(times, previous - e.stamp);
            previous = e.stamp;
        } else {
            std::string raw(e.date);
            raw.append(" ").append(e.time);
            append_script_string(times, raw);
        }
        append_uint(logs, e.log);
        if (e.overflow)
            codes += "-1";
        else
            append_uint(codes, e.code);
    }
    auto column = [&](const char* name, const std::vector<std::uint32_t>& ids) {
        out += ",\n\"";
        out += name;
        out += "\":[";
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (i) out += ',';
            append_uint(out, ids[i]);
        }
        out += ']';
    };
    out += "<script id=\"report-data\" type=\"application/json\">{\"strings\":[";
    for (std::size_t k = 0; k < t.strings.size(); ++k) {
        if (k) out += ',';
        append_script_string(out, t.strings[k]);
    }
    out += "],\n\"oldestFirst\":";
    out += in.oldest_first ? "true" : "false";
    out += ",\n\"logs\":[";
    for (std::size_t k = 0; k < in.logs.size(); ++k) {
        out += k ? ",[" : "[";
        append_uint(out, t.path[k]);
        out += ',';
        append_uint(out, t.inst[k]);
        out += ',';
        append_uint(out, static_cast<unsigned>(in.logs[k].kind));
        out += ']';
    }
    out += "],\n\"t0\":";
    append_int(out, t0);
    out += ",\n\"t\":[" + times + "],\n\"log\":[" + logs + "],\n\"code\":[" + codes + "]";
    column("text", t.text);
    column("comp", t.comp);
    column("src", t.src);
    out += "}</script>\n";
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
    Interned t;
    intern(in, t);
    const Counts c = count(in, t);
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
    append_top_codes(out, c, t);
    append_top_named(out, "top-components", "Components", "Component", "Codes", c.top_components,
                     t.strings, c.codes_of_component, "components", c.errors);
    append_top_named(out, "top-instruments", "Instruments with the most errors", "Instrument",
                     "Logs", c.top_instruments, c.instruments, c.logs_per_instrument, "instruments",
                     c.errors);
    out += "</section>\n";

    out += "<section id=\"entries\"><h2>Entries</h2>\n";
    out += kReportTableHtml;
    out += "<noscript><p>The table of entries needs JavaScript.</p></noscript>\n</section>\n";
    out += "</main>\n";
    append_data(out, in, t);
    out += "<script>\n";
    out += kReportJs;
    out += "</script>\n</body></html>\n";
}

}  // namespace errlog
