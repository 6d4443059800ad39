#include "log_view.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "log_format.h"
#include "log_read.h"
#include "salvage_trust.h"

namespace errlog {

using namespace err::logfmt;
using err::LOG_FILE_SIZE;
using err::LOG_HEADER_SIZE;
using err::LOG_RECORD_COUNT;
using err::LOG_RECORD_SIZE;

namespace {

// The broken rule, numbered as in log_check.h.
int rule_of(const err::LogCheckResult& r) {
    switch (r.fault) {
        case err::LogFault::none:
            return 0;
        case err::LogFault::header_short:
            return 1;
        case err::LogFault::length_mismatch:
        case err::LogFault::length_not_standard:
            return 2;
        case err::LogFault::overflow_out_of_range:
            return 3;
        default:
            return r.check == 2 ? 5 : 4;
    }
}

bool is_overflow_marker(const Entry& e) {
    return e.code_value == 0 && e.component.empty() && e.text == kOverflowText;
}

// A record whose borders, labels and line ends all sit where they belong.
bool plausible_layout(const std::uint8_t* r) {
    auto is_eol = [&](std::size_t at) { return r[at] == kCR && r[at + 1] == kLF; };
    for (std::size_t i = 0; i < kBorderWidth; ++i)
        if (r[kRecTopBorder + i] != kRecordBorderChar ||
            r[kRecBottomBorder + i] != kRecordBorderChar)
            return false;
    if (!is_eol(kBorderWidth) || !is_eol(kRecBottomBorder + kBorderWidth)) return false;
    for (const LogLine& line : kRecordLines) {
        if (line.label) {
            std::uint8_t label[kLabelWidth];
            encode_text(label, kLabelWidth, line.label);
            if (std::memcmp(label, r + line.label_offset, kLabelWidth) != 0) return false;
        }
        if (!is_eol(line.value_offset + line.value_width)) return false;
    }
    auto digits = [&](std::size_t at, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i)
            if (r[at + i] < '0' || r[at + i] > '9') return false;
        return true;
    };
    return digits(kRecNr, kRecordNumberWidth) && digits(kRecCode, kCodeWidth);
}

int month_of(std::string_view m) {
    for (int i = 0; i < 12; ++i)
        if (m == kMonthNames[i]) return i + 1;
    return 0;
}

bool two_digits(std::string_view s, std::size_t at, int& out) {
    if (at + 2 > s.size() || s[at] < '0' || s[at] > '9' || s[at + 1] < '0' || s[at + 1] > '9')
        return false;
    out = (s[at] - '0') * 10 + (s[at + 1] - '0');
    return true;
}

int days_in_month(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Sortable key of a stamp; false when the entry's date or time cannot be read.
bool time_key(const Entry& e, long long& key) {
    const std::optional<long long> k = stamp_key(e);
    if (k) key = *k;
    return k.has_value();
}

}  // namespace

bool parse_stamp(const Entry& e, Stamp& out) {
    return parse_stamp(e.date, e.time, out);
}

bool parse_stamp(std::string_view date, std::string_view time, Stamp& out) {
    Stamp t;
    if (date.size() != kDateWidth || date[2] != '.' || date[6] != '.') return false;
    t.month = month_of(date.substr(3, 3));
    int year = 0;
    if (!two_digits(date, 0, t.day) || !two_digits(date, 7, year) || t.month == 0) return false;
    t.year = year < 70 ? 2000 + year : 1900 + year;
    if (time.size() != kTimeWidth || time[2] != ':' || time[5] != ':') return false;
    if (!two_digits(time, 0, t.hour) || !two_digits(time, 3, t.minute) ||
        !two_digits(time, 6, t.second))
        return false;
    if (!is_real_stamp(t)) return false;
    out = t;
    return true;
}

bool is_real_stamp(const Stamp& t) {
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > days_in_month(t.year, t.month))
        return false;
    return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
           t.second <= 60;  // 60: a leap second
}

long long stamp_key(const Stamp& t) {
    return ((((t.year * 100LL + t.month) * 100 + t.day) * 100 + t.hour) * 100 + t.minute) * 100 +
           t.second;
}

std::optional<long long> stamp_key(const Entry& e) {
    return stamp_key(e.date, e.time);
}

std::optional<long long> stamp_key(std::string_view date, std::string_view time) {
    Stamp t;
    if (!parse_stamp(date, time, t)) return std::nullopt;
    return stamp_key(t);
}

std::string iso_time(const Stamp& t) {
    // "%04d-%02d-%02dT%02d:%02d:%02d" by hand: a fleet's output has one for each entry.
    if (t.year < 0 || t.year > 9999) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day,
                      t.hour, t.minute, t.second);
        return buf;
    }
    std::string s = "0000-00-00T00:00:00";
    auto put = [&](std::size_t at, int v, int width) {
        for (int i = width - 1; i >= 0; --i, v /= 10) s[at + i] = static_cast<char>('0' + v % 10);
    };
    put(0, t.year, 4);
    put(5, t.month, 2);
    put(8, t.day, 2);
    put(11, t.hour, 2);
    put(14, t.minute, 2);
    put(17, t.second, 2);
    return s;
}

bool read_file(const std::string& path, std::vector<std::uint8_t>& out, std::string& error) {
    FileRead file;
    if (!read_bounded(path, LOG_FILE_SIZE, file)) {
        error = file.error;
        return false;
    }
    if (file.bytes.size() > LOG_FILE_SIZE) {
        error = "longer than a log (" + std::to_string(LOG_FILE_SIZE) + " bytes)";
        return false;
    }
    out = std::move(file.bytes);
    return true;
}

bool write_file(const std::string& path, const std::string& bytes, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0) ok = false;
    if (!ok) error = "write error";
    return ok;
}

EntryFields record_fields(const std::uint8_t* r, std::uint16_t nr, bool overflow) {
    auto view = [&](std::size_t offset, std::size_t width, bool trim) {
        return std::string_view(reinterpret_cast<const char*>(r + offset),
                                trim ? trimmed_width(r + offset, width) : width);
    };
    EntryFields f;
    f.record = nr;
    f.overflow = overflow;
    f.code_value = static_cast<std::uint16_t>(read_number(r + kRecCode, kCodeWidth));
    f.code = view(kRecCode, kCodeWidth, false);
    f.text = view(kRecText, kTextWidth, true);
    f.component = view(kRecComponent, kComponentWidth, true);
    f.date = view(kRecDate, kDateWidth, false);
    f.time = view(kRecTime, kTimeWidth, false);
    f.file = view(kRecFile, kFileWidth, true);
    f.line = view(kRecLine, kLineWidth, true);
    return f;
}

EntryFields fields_of(const Entry& e) {
    return EntryFields{e.record,    e.overflow, e.code_value, e.code, e.text,
                       e.component, e.date,     e.time,       e.file, e.line};
}

Entry entry_of(const EntryFields& f) {
    Entry e;
    e.record = f.record;
    e.overflow = f.overflow;
    e.code_value = f.code_value;
    e.code = f.code;
    e.text = f.text;
    e.component = f.component;
    e.date = f.date;
    e.time = f.time;
    e.file = f.file;
    e.line = f.line;
    return e;
}

Entry read_entry(const std::uint8_t* r, std::uint16_t nr) {
    Entry e = entry_of(record_fields(r, nr, false));
    e.raw.assign(r, r + LOG_RECORD_SIZE);
    return e;
}

bool holds_log_header(const std::uint8_t* h, std::size_t size) {
    if (size < LOG_HEADER_SIZE) return false;
    auto is_border = [&](std::size_t at) {
        for (std::size_t i = 0; i < kBorderWidth; ++i)
            if (h[at + i] != kHeaderBorderChar) return false;
        return h[at + kBorderWidth] == kCR && h[at + kBorderWidth + 1] == kLF;
    };
    if (!is_border(kHdrTopBorder) || !is_border(kHdrBottomBorder)) return false;
    for (const LogLine& line : kHeaderLines) {
        std::uint8_t label[kLabelWidth];
        encode_text(label, kLabelWidth, line.label);
        const std::size_t eol = line.value_offset + line.value_width;
        if (std::memcmp(label, h + line.label_offset, kLabelWidth) != 0 || h[eol] != kCR ||
            h[eol + 1] != kLF)
            return false;
    }
    return true;
}

Log inspect_log(std::vector<std::uint8_t> bytes) {
    const auto length = static_cast<std::int64_t>(bytes.size());
    return inspect_log(std::move(bytes), length);
}

Log inspect_log(std::vector<std::uint8_t> bytes, std::int64_t file_length, bool read_entries) {
    Log log;
    log.bytes = std::move(bytes);
    if (file_length == static_cast<std::int64_t>(log.bytes.size()))
        log.check = err::check_log_image(log.bytes.data(), log.bytes.size());
    else  // longer than what was read: the header's rules already fail on the length
        log.check = err::check_log_header(log.bytes.data(),
                                          std::min<std::size_t>(log.bytes.size(), LOG_HEADER_SIZE),
                                          file_length);
    char reason[256];
    err::describe_log_check(log.check, reason, sizeof reason);
    log.reason = reason;
    log.rule = rule_of(log.check);
    if (log.bytes.size() >= LOG_HEADER_SIZE) {
        const std::uint8_t* h = log.bytes.data();
        log.error_start = header_link(h, kHdrErrorStart);
        log.error_end = header_link(h, kHdrErrorEnd);
        log.new_records = header_link(h, kHdrNewRecords);
        log.overflow_record = header_link(h, kHdrOverflow);
        log.empty_record = header_link(h, kHdrEmpty);
        log.length_field = read_number(h + kHdrLength, kLengthWidth);
    }
    if (!log.valid()) return log;

    std::size_t errors = 0;
    visit_entries(log, [&](const std::uint8_t* r, std::uint16_t n, bool overflow) {
        if (!overflow) ++errors;
        if (!read_entries) return;
        if (overflow) {
            log.overflow_entry = read_entry(r, n);
            log.overflow_entry->overflow = true;
        } else {
            log.errors.push_back(read_entry(r, n));
        }
    });
    log.error_count = errors;
    log.free_records = LOG_RECORD_COUNT - errors - (is_record_number(log.overflow_record) ? 1 : 0);
    return log;
}

std::string escape(std::string_view text) {
    std::string out;
    append_escaped(out, text);
    return out;
}

void append_escaped(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\\n";
            ++i;
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            const char octal[] = {'\\', static_cast<char>('0' + (c >> 6)),
                                  static_cast<char>('0' + ((c >> 3) & 7)),
                                  static_cast<char>('0' + (c & 7))};
            out.append(octal, sizeof octal);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
}

// After the row of a record that salvage found but the header does not vouch for.
const char* const kUnconfirmedNote =
    " (unconfirmed: the header does not vouch for it, it may be torn)";

const char* const kRowsHeading =
    "  rec  code   date       time      component        source                text";

std::string format_row(const Entry& e) {
    std::string row = format_row(fields_of(e));
    if (e.unconfirmed) row += kUnconfirmedNote;
    return row;
}

std::string format_row(const EntryFields& e) {
    std::string row;
    append_row(row, e);
    return row;
}

void append_row(std::string& row, const EntryFields& e) {
    // Pads what was appended since start to width.
    auto pad_from = [&](std::size_t start, std::size_t width) {
        if (row.size() - start < width) row.append(width - (row.size() - start), ' ');
    };
    const char nr[] = {' ',
                       ' ',
                       static_cast<char>('0' + e.record / 100 % 10),
                       static_cast<char>('0' + e.record / 10 % 10),
                       static_cast<char>('0' + e.record % 10),
                       ' ',
                       ' '};
    if (e.record < 1000) {
        row.append(nr, sizeof nr);
    } else {
        char wide[16];
        std::snprintf(wide, sizeof wide, "  %03u  ", static_cast<unsigned>(e.record));
        row += wide;
    }
    row += e.overflow ? std::string_view("-----") : e.code;
    row += "  ";
    std::size_t at = row.size();
    row += e.date;
    pad_from(at, kDateWidth);
    row += "  ";
    at = row.size();
    row += e.time;
    pad_from(at, kTimeWidth);
    row += "  ";
    at = row.size();
    append_escaped(row, e.component.empty() ? "-" : e.component);
    pad_from(at, kComponentWidth);
    row += "  ";
    at = row.size();
    if (e.overflow || (e.file == "-" && e.line == "-")) {
        row += '-';
    } else {
        append_escaped(row, e.file);
        row += ':';
        append_escaped(row, e.line);
    }
    pad_from(at, 20);
    row += "  ";
    append_escaped(row, e.text);
    if (e.overflow) row += " (older errors were lost)";
}

std::vector<std::string> format_rows(const std::vector<Entry>& entries) {
    std::vector<std::string> rows{kRowsHeading};
    if (entries.empty()) rows.push_back("  (no errors)");
    for (const Entry& e : entries) rows.push_back(format_row(e));
    return rows;
}

std::string log_head(const Log& log, std::string_view title) {
    std::string head(title);
    if (!log.valid()) return head + ": corrupt: " + log.reason;
    return head + ": " + std::to_string(log.error_count) +
           (log.error_count == 1 ? " error, " : " errors, ") + std::to_string(log.new_records) +
           " new, " +
           (err::logfmt::is_record_number(log.overflow_record)
                ? "overflow record " + std::to_string(log.overflow_record)
                : std::string("no overflow")) +
           ", " + std::to_string(log.free_records) + " free";
}

std::vector<std::string> format_table(const Log& log, std::string_view title) {
    if (!log.valid()) return {log_head(log, title)};
    std::vector<Entry> rows = log.errors;
    if (log.overflow_entry) rows.push_back(*log.overflow_entry);
    std::vector<std::string> lines{log_head(log, title)};
    for (auto& r : format_rows(rows)) lines.push_back(std::move(r));
    return lines;
}

std::string archive_text(std::uint16_t new_records, const std::optional<Entry>& overflow,
                         const std::vector<Entry>& newest_first) {
    // The same lines, byte for byte, that the error task's export writes.
    std::string out;
    char line[kArchiveLineMax];
    const int count = (overflow ? 1 : 0) + static_cast<int>(newest_first.size());
    auto add = [&](int n) {
        if (n > 0 && static_cast<std::size_t>(n) < sizeof line) out.append(line, std::size_t(n));
    };
    add(format_archive_head(line, sizeof line, count, new_records, overflow.has_value()));
    if (overflow)
        add(format_overflow_entry(line, sizeof line, overflow->record, overflow->raw.data()));
    for (const Entry& e : newest_first)
        add(format_record_entry(line, sizeof line, e.record, e.raw.data()));
    return out;
}

std::vector<Entry> salvage(const std::vector<std::uint8_t>& bytes) {
    struct Found {
        Entry entry;
        std::size_t position;
        bool dated;
        long long key;
        std::size_t chain_index;
    };

    // The order of the error chain, oldest first, as far as it can still be walked.
    std::map<std::uint16_t, std::size_t> chain_order;
    if (bytes.size() >= LOG_HEADER_SIZE) {
        std::uint16_t n = header_link(bytes.data(), kHdrErrorEnd);
        while (is_record_number(n) && !chain_order.count(n)) {
            std::size_t off = record_offset(n);
            if (off + LOG_RECORD_SIZE > bytes.size()) break;
            chain_order.emplace(n, chain_order.size());
            n = next_of(bytes.data() + off);
        }
    }

    const HeaderVouch vouch = header_vouch(bytes);
    std::vector<Found> found;
    if (bytes.size() >= LOG_RECORD_SIZE) {
        for (std::size_t p = 0; p + LOG_RECORD_SIZE <= bytes.size(); ++p) {
            const std::uint8_t* r = bytes.data() + p;
            if (r[0] != kRecordBorderChar || r[kRecState] != kStateUsed || !plausible_layout(r))
                continue;
            Found f;
            f.entry = read_entry(r, record_nr(r));
            f.entry.overflow = is_overflow_marker(f.entry);
            // Not vouched for, or the overflow marker's text over an error's component: a
            // marker whose write was cut short.
            f.entry.unconfirmed =
                (vouch.speaks && is_record_number(f.entry.record) &&
                 p == record_offset(f.entry.record) && !vouch.records[f.entry.record]) ||
                (!f.entry.overflow && f.entry.code_value == 0 && f.entry.text == kOverflowText);
            f.position = p;
            f.dated = time_key(f.entry, f.key);
            auto it = chain_order.find(f.entry.record);
            f.chain_index = it != chain_order.end() && p == record_offset(f.entry.record)
                                ? it->second
                                : chain_order.size() + p;
            found.push_back(std::move(f));
            p += LOG_RECORD_SIZE - 1;  // a record does not start inside another one
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.dated != b.dated) return !a.dated;
        if (!a.dated) return a.position < b.position;
        if (a.key != b.key) return a.key < b.key;
        if (a.chain_index != b.chain_index) return a.chain_index < b.chain_index;
        return a.position < b.position;
    });
    std::vector<Entry> out;
    for (auto& f : found) out.push_back(std::move(f.entry));
    return out;
}

std::vector<std::uint8_t> new_log_image() {
    std::vector<std::uint8_t> image(LOG_FILE_SIZE);
    build_new_header(image.data(), 1);
    encode_number(image.data() + kHdrLength, kLengthWidth,
                  static_cast<std::uint16_t>(LOG_FILE_SIZE));
    for (std::uint16_t n = 1; n <= LOG_RECORD_COUNT; ++n) {
        std::uint8_t* r = image.data() + record_offset(n);
        build_new_record(r);
        encode_number(r + kRecNr, kRecordNumberWidth, n);
        encode_number(r + kRecPrevious, kRecordNumberWidth,
                      n < LOG_RECORD_COUNT ? static_cast<std::uint16_t>(n + 1) : 0);
    }
    return image;
}

}  // namespace errlog
