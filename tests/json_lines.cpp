// Test helper: checks that stdin is JSON. With --lines every line must be one JSON object
// (JSON Lines); without, the whole input must be one JSON value. Exit 0 when it is, 1 with
// the first fault on stderr.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    const bool lines = argc > 1 && std::strcmp(argv[1], "--lines") == 0;
    if (!lines) {
        std::string all{std::istreambuf_iterator<char>(std::cin), {}};
        if (nlohmann::json::accept(all)) return 0;
        std::fprintf(stderr, "json_lines: the input is not one JSON value\n");
        return 1;
    }
    std::string line;
    for (int n = 1; std::getline(std::cin, line); ++n) {
        if (!nlohmann::json::accept(line) || !nlohmann::json::parse(line).is_object()) {
            std::fprintf(stderr, "json_lines: line %d is no JSON object: %s\n", n, line.c_str());
            return 1;
        }
    }
    return 0;
}
