#pragma once

#include <string>

namespace ferroglade {

/// The C library's description of `errnum` followed by " (os error N)".
[[nodiscard]] std::string system_error_text(int errnum);

}  // namespace ferroglade
