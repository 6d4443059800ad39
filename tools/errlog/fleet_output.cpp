#include "fleet_output.h"

namespace errlog {

namespace {

void pad_to(std::string& s, std::size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
}

// Length of the UTF-8 sequence at text[i] (1 to 4), or 0 when it is none; *prefix gets the
// number of its bytes that still fit a sequence (its maximal invalid part, at least 1).
std::size_t utf8_length(std::string_view text, std::size_t i, std::size_t* prefix) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char c = b(0);
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
    *prefix = 1;
    if (n == 0) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if (i + k >= text.size()) return 0;
        const unsigned char lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
        if (b(k) < lo || b(k) > hi) return 0;
        *prefix = k + 1;
    }
    return n;
}

void append_number(std::string& out, long value) {
    out += std::to_string(value);
}

void append_key(std::string& out, const char* key) {
    out += '"';
    out += key;
    out += "\":";
}

void append_csv_field(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

bool source_line_number(std::string_view text, long& out) {
    std::size_t i = text.size() > 1 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size()) return false;
    long value = 0;
    for (std::size_t k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') return false;
        value = value * 10 + (text[k] - '0');
    }
    out = text[0] == '-' ? -value : value;
    return true;
}

void append_json_string(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        // A run of bytes that stand for themselves goes out in one piece.
        std::size_t run = i;
        while (run < text.size()) {
            const auto b = static_cast<unsigned char>(text[run]);
            if (b < 0x20 || b >= 0x80 || b == '"' || b == '\\') break;
            ++run;
        }
        if (run > i) {
            out.append(text.data() + i, run - i);
            i = run;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            std::size_t prefix = 1;
            const std::size_t n = utf8_length(text, i, &prefix);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                i += prefix;
            } else {
                out.append(text.data() + i, n);
                i += n;
            }
            continue;
        }
        ++i;
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

std::string merged_heading(std::size_t width) {
    std::string s = "  log";
    pad_to(s, width + 2);
    return s + kRowsHeading;
}

std::string merged_row(std::string_view log, std::size_t width, const EntryFields& e) {
    std::string s;
    append_merged_row(s, log, width, e);
    return s;
}

void append_merged_row(std::string& out, std::string_view log, std::size_t width,
                       const EntryFields& e) {
    out += "  ";
    out += log;
    if (log.size() < width) out.append(width - log.size(), ' ');
    append_row(out, e);
}

std::string jsonl_line(std::string_view log, const EntryFields& e) {
    std::string j;
    append_jsonl_line(j, log, e);
    return j;
}

void append_jsonl_line(std::string& j, std::string_view log, const EntryFields& e) {
    j += '{';
    append_key(j, "log");
    append_json_string(j, log);
    j += ",\"type\":";
    j += e.overflow ? "\"overflow\"" : "\"error\"";
    j += ',';
    append_key(j, "record");
    append_number(j, e.record);
    if (!e.overflow) {
        j += ',';
        append_key(j, "code");
        append_number(j, e.code_value);
    }
    j += ',';
    append_key(j, "date");
    append_json_string(j, e.date);
    j += ',';
    append_key(j, "time");
    append_json_string(j, e.time);
    j += ',';
    append_key(j, "timestamp");
    Stamp t;
    if (parse_stamp(e.date, e.time, t))
        append_json_string(j, iso_time(t));
    else
        j += "null";
    if (!e.overflow) {
        j += ',';
        append_key(j, "component");
        append_json_string(j, e.component);
        j += ',';
        append_key(j, "file");
        if (e.file == "-" || e.file.empty())
            j += "null";
        else
            append_json_string(j, e.file);
        j += ',';
        append_key(j, "line");
        long line = 0;
        if (source_line_number(e.line, line))
            append_number(j, line);
        else
            j += "null";
    }
    j += ',';
    append_key(j, "text");
    append_json_string(j, e.text);
    j += '}';
}

const char* const kCsvHeader = "log,type,record,code,date,time,timestamp,component,file,line,text";

std::string csv_row(std::string_view log, const EntryFields& e) {
    std::string r;
    append_csv_field(r, log);
    r += e.overflow ? ",overflow," : ",error,";
    r += std::to_string(e.record);
    r += ',';
    if (!e.overflow) r += std::to_string(e.code_value);
    r += ',';
    append_csv_field(r, e.date);
    r += ',';
    append_csv_field(r, e.time);
    r += ',';
    Stamp t;
    if (parse_stamp(e.date, e.time, t)) r += iso_time(t);
    r += ',';
    if (!e.overflow) {
        append_csv_field(r, e.component);
        r += ',';
        if (e.file != "-") append_csv_field(r, e.file);
        r += ',';
        long line = 0;
        if (source_line_number(e.line, line)) r += std::to_string(line);
    } else {
        r += ",,";
    }
    r += ',';
    append_csv_field(r, e.text);
    return r;
}

}  // namespace errlog
