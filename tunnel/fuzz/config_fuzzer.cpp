// libFuzzer entry: reading and validating a document from arbitrary bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "main/tunnel_config.hpp"
#include "main/validation.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > ferroglade::CONFIG_INPUT_LIMIT) {
    return -1;
  }
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  ferroglade::Result<ferroglade::TunnelConfig> config = ferroglade::parse_config(input);
  if (!config) {
    // Reading errors are single lines of one of two known shapes.
    const std::string_view text = config.error().text;
    if (text.find('\n') != std::string_view::npos ||
        (text != "stream did not contain valid UTF-8" && !text.starts_with("config json: "))) {
      std::abort();
    }
    return 0;
  }
  ferroglade::Result<ferroglade::ValidatedConfig> validated = ferroglade::validate_config(config.value());
  (void)validated.ok();
  return 0;
}
