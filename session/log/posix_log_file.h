// The system calls behind the session log's file: local time, and a file
// opened for appending whose every write goes straight to the kernel.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "session_record.h"

namespace session::posix_log {

// Local calendar time (the TZ rules of the process) of wallMs, milliseconds since 1970 UTC.
LocalStamp LocalTime(int64_t wallMs);

// Opens path write-only for appending, creating it with mode 0600; with
// exclusive an existing file is an error (EEXIST). Returns the descriptor,
// or -errno. Any thread.
int OpenAppend(const std::string& path, bool exclusive);

// Writes all of data with as few calls as it takes (retrying on EINTR);
// returns 0 or the errno of the failure.
int WriteAll(int fd, std::string_view data);

void Close(int fd);

} // namespace session::posix_log
