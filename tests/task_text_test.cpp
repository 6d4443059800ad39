// Expansion of error texts: "%s" places take the "$"-separated parts of the info text, and
// nothing is written past the buffer's size.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "task_parts.h"

namespace {

std::string expand(const char* tmpl, const char* args, std::uint16_t size = 81) {
    char out[300];
    std::memset(out, '#', sizeof out);
    err::expand_error_text(out, size, tmpl, args);
    for (std::size_t i = size; i < sizeof out; ++i) EXPECT_EQ(out[i], '#') << "byte " << i;
    return std::string(out);
}

TEST(ExpandErrorText, PlacesPercentsAndCuts) {
    struct Case {
        const char *tmpl, *args;
        std::uint16_t size;
        const char* want;
    };
    const Case cases[] = {
        {"%s and %s", "a$b", 81, "a and b"},
        {"%s and %s", "a", 81, "a and "},
        {"%s and %s", nullptr, 81, " and "},
        {"%s and %s", "", 81, " and "},
        {"<%s>", "x$y$z", 81, "<x>"},
        {"<%s|%s|%s>", "$$c", 81, "<||c>"},
        {"cost $%s", "5", 81, "cost $5"},
        {"%d items", "x", 81, "%d items"},
        {"100%", "x", 81, "100%"},
        {"%%s", "x", 81, "%x"},
        {"a%", nullptr, 81, "a%"},
        {"%", "x", 81, "%"},
        {"no places", "a$b", 81, "no places"},
        {nullptr, "a$b", 81, ""},
        {"", "a", 81, ""},
        {"abcdef%s", "XYZ", 5, "abcd"},
        {"ab%s", "XYZ", 5, "abXY"},
        {"ab%s", "XY", 5, "abXY"},
        {"a%d", nullptr, 3, "a%"},
        {"abc", nullptr, 1, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(expand(c.tmpl, c.args, c.size), c.want) << (c.tmpl ? c.tmpl : "null");
    // Exactly 80 characters fit in 81 bytes; more are cut to the first 80.
    const std::string eighty(80, 'x'), fifty(50, 'a'), forty(40, 'b');
    EXPECT_EQ(expand(eighty.c_str(), nullptr), eighty);
    EXPECT_EQ(expand((eighty + "yz").c_str(), nullptr), eighty);
    EXPECT_EQ(expand("%s-%s", (fifty + "$" + forty).c_str()), fifty + "-" + forty.substr(0, 29));
    // Size 0 or no buffer: nothing is written.
    char out[4] = {'#', '#', '#', '#'};
    err::expand_error_text(out, 0, "abc", nullptr);
    EXPECT_EQ(std::string(out, 4), "####");
    err::expand_error_text(nullptr, 10, "abc", nullptr);
}

}  // namespace
