// Expansion of error texts: "%s" places take the "$"-separated parts of the info text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "task_parts.h"

namespace {

std::string expand(const char* tmpl, const char* args, std::uint16_t size = 81) {
    char out[300];
    std::memset(out, '#', sizeof out);
    err::expand_error_text(out, size, tmpl, args);
    // Nothing is written past the buffer's size.
    for (std::size_t i = size; i < sizeof out; ++i) EXPECT_EQ(out[i], '#') << "byte " << i;
    return std::string(out);
}

TEST(ExpandErrorText, PlacesTakeArgumentsInOrder) {
    EXPECT_EQ(expand("%s and %s", "a$b"), "a and b");
    EXPECT_EQ(expand("%s and %s", "a"), "a and ");
    EXPECT_EQ(expand("%s and %s", nullptr), " and ");
    EXPECT_EQ(expand("%s and %s", ""), " and ");
    // Surplus parts are not used; an empty part expands to nothing.
    EXPECT_EQ(expand("<%s>", "x$y$z"), "<x>");
    EXPECT_EQ(expand("<%s|%s|%s>", "$$c"), "<||c>");
    // A "$" in the template is ordinary text.
    EXPECT_EQ(expand("cost $%s", "5"), "cost $5");
    // The module's own test texts.
    EXPECT_EQ(expand("Test Error: E_TEST_TWO_PARAMS, param1:\"%s\", param2:\"%s\"", "one$two"),
              "Test Error: E_TEST_TWO_PARAMS, param1:\"one\", param2:\"two\"");
}

TEST(ExpandErrorText, PercentWithoutSIsOrdinaryText) {
    EXPECT_EQ(expand("%d items", "x"), "%d items");
    EXPECT_EQ(expand("100%", "x"), "100%");
    EXPECT_EQ(expand("%%s", "x"), "%x");
    EXPECT_EQ(expand("a%", nullptr), "a%");
    EXPECT_EQ(expand("%", "x"), "%");
    EXPECT_EQ(expand("no places", "a$b"), "no places");
    EXPECT_EQ(expand(nullptr, "a$b"), "");
    EXPECT_EQ(expand("", "a"), "");
}

TEST(ExpandErrorText, CutsAtTheBufferSize) {
    const std::string eighty(80, 'x');
    // Exactly 80 characters fit in 81 bytes; more are cut to the first 80.
    EXPECT_EQ(expand(eighty.c_str(), nullptr), eighty);
    EXPECT_EQ(expand((eighty + "yz").c_str(), nullptr), eighty);
    const std::string fifty(50, 'a');
    const std::string forty(40, 'b');
    EXPECT_EQ(expand("%s-%s", (fifty + "$" + forty).c_str()), fifty + "-" + forty.substr(0, 29));
    // A cut in the middle of the template text and the place that follows it.
    EXPECT_EQ(expand("abcdef%s", "XYZ", 5), "abcd");
    EXPECT_EQ(expand("ab%s", "XYZ", 5), "abXY");
    EXPECT_EQ(expand("ab%s", "XY", 5), "abXY");
    EXPECT_EQ(expand("a%d", nullptr, 3), "a%");
    EXPECT_EQ(expand("abc", nullptr, 1), "");
}

TEST(ExpandErrorText, SizeZeroWritesNothing) {
    char out[4] = {'#', '#', '#', '#'};
    err::expand_error_text(out, 0, "abc", nullptr);
    EXPECT_EQ(std::string(out, 4), "####");
    err::expand_error_text(nullptr, 10, "abc", nullptr);  // no buffer: nothing happens
}

}  // namespace
