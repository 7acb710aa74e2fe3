#include "linux/tool_runner.hpp"

namespace ferroglade {

void reset_search_path() {}
Status run_tool(const CommandLine&) { return fail("tool runner not built yet"); }
bool tool_succeeds(const CommandLine&) { return false; }
Status run_tool_with_input(InputInstance, const CommandLine&, std::string_view) {
  return fail("tool runner not built yet");
}
std::string failed_command_text(const CommandLine&, std::string_view) { return {}; }

}  // namespace ferroglade
