// Common ground of the fuzz targets (see fuzz_support.h).
#include "fuzz_support.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "rtx/rtx.h"
#include "rtx/rtx_host.h"

namespace fs = std::filesystem;

namespace fuzzsup {

namespace {

std::size_t g_refused = 0;
std::vector<fs::path> g_write_opens;

// True when the executive path maps to a host path inside the root folder: it starts with the
// root and none of its parts is "..".
bool inside_root(const char* exec_path) {
    if (exec_path == nullptr) return true;  // the executive refuses it itself
    char host[4096];
    if (rtx_map_path(exec_path, host, sizeof host) != 0) return false;
    const std::string& r = root();
    if (std::strncmp(host, r.c_str(), r.size()) != 0) return false;
    if (host[r.size()] != '/' && host[r.size()] != '\0') return false;
    for (const char* p = host; *p;) {
        const char* e = std::strchr(p, '/');
        std::size_t n = e ? std::size_t(e - p) : std::strlen(p);
        if (n == 2 && p[0] == '.' && p[1] == '.') return false;
        if (!e) break;
        p = e + 1;
    }
    return true;
}

template <typename F>
F next_symbol(const char* name) {
    void* f = dlsym(RTLD_NEXT, name);
    if (f == nullptr) fail("executive function not found", name);
    return reinterpret_cast<F>(f);
}

}  // namespace

const host_system::Root& system_root() {
    static const host_system::Root root = [] {
        // Memory-backed when the host has it: the targets write files for every input.
        std::error_code ec;
        const char* env = std::getenv("ERR_FUZZ_TMP");
        host_system::Root made = host_system::Root::temporary(
            "errfuzz",
            env && *env ? env : (fs::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp"));
        made.enter();
        rtx_host_console_echo(0);
        return made;
    }();
    return root;
}

const std::string& root() {
    return system_root().path();
}

std::string host_path(const std::string& relative) {
    return system_root().host_path(relative);
}

void write_file(const std::string& relative, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(host_path(relative), std::ios::binary | std::ios::trunc);
    if (size) out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (!out) fail("cannot write", relative);
}

void write_file(const std::string& relative, const std::string& text) {
    write_file(relative, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::vector<std::uint8_t> read_file(const std::string& relative, bool* exists) {
    return system_root().read(relative, exists);
}

void clean_root(const std::vector<std::string>& keep) {
    const fs::path base(root());
    std::error_code ec;
    std::vector<fs::path> doomed;
    for (auto it = fs::recursive_directory_iterator(base, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path rel = it->path().lexically_relative(base);
        bool kept = false;
        for (const auto& k : keep) {
            if (rel == fs::path(k)) kept = true;
        }
        if (rel == fs::path("LOG")) kept = true;
        if (!kept) doomed.push_back(it->path());
    }
    for (const auto& p : doomed) fs::remove_all(p, ec);
    fs::create_directories(base / "LOG", ec);
}

std::size_t refused_paths() {
    return g_refused;
}

void clear_write_opens() {
    g_write_opens.clear();
}

bool opened_for_writing(const std::string& relative) {
    const fs::path wanted = fs::path(host_path(relative)).lexically_normal();
    for (const auto& p : g_write_opens) {
        if (p == wanted) return true;
    }
    return false;
}

void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s %s\n", what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzzsup

// ---- The guard in front of the executive's file functions --------------------------------

extern "C" rtx_file* rtx_file_open(const char* path, const char* mode) {
    using Fn = rtx_file* (*)(const char*, const char*);
    static const Fn real = fuzzsup::next_symbol<Fn>("rtx_file_open");
    if (!fuzzsup::inside_root(path)) {
        ++fuzzsup::g_refused;
        return nullptr;
    }
    if (path && mode && (std::strchr(mode, 'w') || std::strchr(mode, 'a'))) {
        char host[4096];
        if (rtx_map_path(path, host, sizeof host) == 0)
            fuzzsup::g_write_opens.push_back(fs::path(host).lexically_normal());
    }
    return real(path, mode);
}

extern "C" int rtx_file_remove(const char* path) {
    using Fn = int (*)(const char*);
    static const Fn real = fuzzsup::next_symbol<Fn>("rtx_file_remove");
    if (!fuzzsup::inside_root(path)) {
        ++fuzzsup::g_refused;
        return -1;
    }
    return real(path);
}

extern "C" int rtx_file_rename(const char* from, const char* to) {
    using Fn = int (*)(const char*, const char*);
    static const Fn real = fuzzsup::next_symbol<Fn>("rtx_file_rename");
    if (!fuzzsup::inside_root(from) || !fuzzsup::inside_root(to)) {
        ++fuzzsup::g_refused;
        return -1;
    }
    return real(from, to);
}
