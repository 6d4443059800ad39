// The root folder of a host system: the host folder that stands for the executive's drive,
// with a LOG folder for the error logs and the boot file TARNBOOT.INI.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host_system/messages.h"

namespace host_system {

inline constexpr const char* kBootFileName = "TARNBOOT.INI";
// The boot file of a new root: both logs at their default places in the LOG folder.
inline constexpr const char* kBootFile =
    "[ErrorTask]\nSystemLogFile=\\LOG\\SYSERR.LOG\nUserLogFile=\\LOG\\USERERR.LOG\n";

class Root {
  public:
    // A new temporary folder "<base>/<name>_XXXXXX" (base empty: $TMPDIR, else /tmp) with a
    // LOG folder (unless log_folder is false) and kBootFile; removed with this object. Ends
    // the process with a message when the folder cannot be made.
    static Root temporary(const std::string& name, const std::string& base = {},
                          bool log_folder = true);
    // The folder at path, made with its LOG folder where they are missing (as mkdir without
    // -p: the parent must exist, so that a mistyped path is not made); kept. Empty, with the
    // reason in error ("PATH: WHY"), when a folder cannot be made or is no folder.
    static std::optional<Root> at(const std::string& path, std::string& error);

    Root(Root&& other) noexcept;
    Root& operator=(Root&&) = delete;
    Root(const Root&) = delete;
    ~Root();

    const std::string& path() const { return path_; }
    // The host path of relative ("LOG/SYSERR.LOG").
    std::string host_path(const std::string& relative) const { return path_ + "/" + relative; }

    // Points the executive at this folder: its root, and the folder of its INI files.
    void enter() const;

    // Whether the folder holds a file of this name, in any case.
    bool has_file_any_case(const char* name) const;
    // Writes the file at relative whole; false with the reason in *error when it cannot.
    bool write(const std::string& relative, const std::string& bytes,
               std::string* error = nullptr) const;
    // The bytes of the file at relative; empty when it cannot be read (*exists tells).
    Bytes read(const std::string& relative, bool* exists = nullptr) const;
    std::string text(const std::string& relative) const;

  private:
    Root(std::string path, bool temporary) : path_(std::move(path)), temporary_(temporary) {}

    std::string path_;
    bool temporary_ = false;
};

}  // namespace host_system
