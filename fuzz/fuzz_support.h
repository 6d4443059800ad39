// Common ground of the fuzz targets: a private root folder for the executive (a host system root,
// host_system/root.h), a guard that keeps every file the module touches inside it, and small
// file helpers.
//
// The fuzzers run as any user, root included, and feed the module file names they invented
// (archive names in commands 610/611, log paths in TARNBOOT.INI). The executive maps paths
// below its root folder, but a name made of ".." steps could still reach a file outside it,
// which the module may then rename, remove or overwrite. The executable therefore puts its own
// rtx_file_open, rtx_file_remove and rtx_file_rename in front of the executive's: a path whose
// host form leaves the root folder fails as a missing file would, anything else is passed on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host_system/root.h"

namespace fuzzsup {

// The root folder, made on first use (a fresh temporary folder with a LOG folder and the boot
// file, in memory where the host has /dev/shm, or in $ERR_FUZZ_TMP), with the executive pointed
// at it and its console echo off; removed at exit.
const host_system::Root& system_root();
// Its host path.
const std::string& root();

// Host path of a file below the root ("LOG/SYSERR.LOG").
std::string host_path(const std::string& relative);

void write_file(const std::string& relative, const std::uint8_t* data, std::size_t size);
void write_file(const std::string& relative, const std::string& text);
// The whole file; empty when it cannot be read (exists tells the two apart).
std::vector<std::uint8_t> read_file(const std::string& relative, bool* exists = nullptr);

// Removes everything below the root except the names in keep (relative paths), then makes
// sure the LOG folder exists again.
void clean_root(const std::vector<std::string>& keep);

// Number of guarded file operations refused so far (paths that left the root).
std::size_t refused_paths();

// Files opened for writing ("w" or "a" modes) since the last clear, by host path: whether the
// file below the root named relative was among them.
void clear_write_opens();
bool opened_for_writing(const std::string& relative);

// Ends the process with a message on stderr: libFuzzer reports it as a crash with the input.
[[noreturn]] void fail(const char* what, const std::string& detail = "");

}  // namespace fuzzsup
