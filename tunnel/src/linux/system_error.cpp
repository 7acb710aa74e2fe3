#include "linux/system_error.hpp"

#include <string.h>

#include <array>
#include <string>
#include <type_traits>

namespace ferroglade {
namespace {

// strerror_r comes in two shapes; take the text from whichever this libc has.
[[maybe_unused]] const char* pick(int /*status*/, const char* buffer) { return buffer; }
[[maybe_unused]] const char* pick(const char* text, const char* /*buffer*/) { return text; }

}  // namespace

std::string system_error_text(int errnum) {
  std::array<char, 256> buffer{};
  const char* text = pick(strerror_r(errnum, buffer.data(), buffer.size()), buffer.data());
  return std::string(text) + " (os error " + std::to_string(errnum) + ")";
}

}  // namespace ferroglade
