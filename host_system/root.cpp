#include "host_system/root.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "rtx/rtx_host.h"

namespace host_system {

namespace {

// Makes the folder at path when it is missing, as mkdir without -p does: its parent must
// exist. False with "PATH: WHY" when it cannot be made or path is no folder.
bool make_folder(const std::string& path, std::string& error) {
    struct stat sb;
    if (stat(path.c_str(), &sb) == 0) {
        if (S_ISDIR(sb.st_mode)) return true;
        error = path + ": not a folder";
        return false;
    }
    if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
    error = path + ": " + std::strerror(errno);
    return false;
}

}  // namespace

Root Root::temporary(const std::string& name, const std::string& base, bool log_folder) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        (base.empty() ? std::string(tmp && *tmp ? tmp : "/tmp") : base) + "/" + name + "_XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        std::fprintf(stderr, "host_system: cannot make a temporary folder %s: %s\n", folder.c_str(),
                     std::strerror(errno));
        std::abort();
    }
    Root root(folder, true);
    std::string error;
    if ((log_folder && !make_folder(folder + "/LOG", error)) ||
        !root.write(kBootFileName, kBootFile, &error)) {
        std::fprintf(stderr, "host_system: cannot prepare %s: %s\n", folder.c_str(), error.c_str());
        std::abort();
    }
    return root;
}

std::optional<Root> Root::at(const std::string& path, std::string& error) {
    std::string folder = path.empty() ? std::string(".") : path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!make_folder(folder, error) || !make_folder(folder + "/LOG", error)) return std::nullopt;
    return Root(folder, false);
}

Root::Root(Root&& other) noexcept
    : path_(std::move(other.path_)), temporary_(std::exchange(other.temporary_, false)) {}

Root::~Root() {
    if (!temporary_) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void Root::enter() const {
    rtx_host_set_root(path_.c_str());
    rtx_host_set_ini_dir(path_.c_str());
}

bool Root::has_file_any_case(const char* name) const {
    DIR* d = opendir(path_.c_str());
    if (!d) return false;
    bool found = false;
    while (dirent* e = readdir(d))
        if (strcasecmp(e->d_name, name) == 0) found = true;
    closedir(d);
    return found;
}

bool Root::write(const std::string& relative, const std::string& bytes, std::string* error) const {
    FILE* f = std::fopen(host_path(relative).c_str(), "wb");
    if (!f) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0) ok = false;
    if (!ok && error) *error = "write error";
    return ok;
}

Bytes Root::read(const std::string& relative, bool* exists) const {
    std::ifstream in(host_path(relative), std::ios::binary);
    if (exists) *exists = bool(in);
    if (!in) return {};
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Root::text(const std::string& relative) const {
    const Bytes bytes = read(relative);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace host_system
