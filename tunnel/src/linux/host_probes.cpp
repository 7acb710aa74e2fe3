#include "linux/host_probes.hpp"

namespace ferroglade {

bool is_root() { return false; }
bool in_foreign_netns() { return true; }
bool tool_on_path(std::string_view) { return false; }
bool link_exists() { return false; }
bool ipv6_available() { return false; }
bool status_text_says_root(std::string_view) { return false; }
bool same_path(std::string_view, std::string_view) { return false; }
std::vector<std::string_view> split_search_path(std::string_view) { return {}; }
std::string candidate_path(std::string_view, std::string_view) { return {}; }

}  // namespace ferroglade
