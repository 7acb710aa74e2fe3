#include "linux/text.hpp"

namespace ferroglade {

bool is_white_space(char32_t) { return false; }
bool is_valid_utf8(std::string_view) { return true; }
std::string decode_utf8_lossy(std::string_view bytes) { return std::string(bytes); }
std::string_view trim(std::string_view text) { return text; }
std::vector<std::string_view> split_white_space(std::string_view) { return {}; }

}  // namespace ferroglade
