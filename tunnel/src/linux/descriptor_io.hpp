#pragma once

#include <string_view>

namespace ferroglade {

/// Writes all of `bytes` to `fd`, retrying short writes and EINTR.
/// Returns 0, or the error number of the write that failed.
[[nodiscard]] int write_all(int fd, std::string_view bytes);

}  // namespace ferroglade
