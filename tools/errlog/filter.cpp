#include "filter.h"

#include <algorithm>
#include <cctype>

namespace errlog {

namespace {

bool same_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// The digits of text[at, at + width) as a number; false when one of them is no digit.
bool number_at(std::string_view text, std::size_t at, std::size_t width, int& out) {
    if (at + width > text.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

bool Filter::passes(const EntryFields& e, std::optional<long long> key) const {
    if (since || until) {
        if (!key) return false;
        if (since && *key < *since) return false;
        if (until && *key > *until) return false;
    }
    if (!codes.empty() &&
        (e.overflow || std::find(codes.begin(), codes.end(), e.code_value) == codes.end()))
        return false;
    if (!components.empty()) {
        if (e.overflow) return false;
        bool found = false;
        for (const std::string& c : components) found = found || same_ignoring_case(c, e.component);
        if (!found) return false;
    }
    return true;
}

bool parse_time_bound(std::string_view text, bool end, long long& key) {
    Stamp t;
    if (text.size() != 10 && text.size() != 16 && text.size() != 19) return false;
    if (!number_at(text, 0, 4, t.year) || text[4] != '-' || !number_at(text, 5, 2, t.month) ||
        text[7] != '-' || !number_at(text, 8, 2, t.day))
        return false;
    bool has_second = false;
    if (text.size() >= 16) {
        if ((text[10] != ' ' && text[10] != 'T') || !number_at(text, 11, 2, t.hour) ||
            text[13] != ':' || !number_at(text, 14, 2, t.minute))
            return false;
        if (text.size() == 19) {
            if (text[16] != ':' || !number_at(text, 17, 2, t.second)) return false;
            has_second = true;
        }
    }
    if (!is_real_stamp(t)) return false;
    if (end && text.size() == 10) {
        t.hour = 23;
        t.minute = 59;
    }
    if (end && !has_second) t.second = 60;  // a leap second is the last of its minute
    key = stamp_key(t);
    return true;
}

}  // namespace errlog
