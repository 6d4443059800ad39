// Internal hooks of the power cut (host_power_cut.cpp) in the host executive's file calls. Each
// is called just before the call changes a file; it counts the call, traces it when a trace is
// on, and ends the process there when the armed cut falls on it.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace rtx_host_detail {

// An open that creates host_path when missing, and truncates it when truncate is true.
void power_cut_open(const char* host_path, bool truncate);
// A write of size bytes of data at offset (ignored for an append stream) to the open file fd.
void power_cut_write(int fd, const void* data, std::size_t size, off_t offset, bool append);
// A rename of host_from to host_to.
void power_cut_rename(const char* host_from, const char* host_to);
// A remove of host_path.
void power_cut_remove(const char* host_path);

}  // namespace rtx_host_detail
