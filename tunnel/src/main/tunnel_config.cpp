#include "main/tunnel_config.hpp"

#include <array>
#include <bitset>
#include <limits>
#include <memory>

#include "linux/text.hpp"
#include "main/json_reader.hpp"

namespace ferroglade {
namespace {

// Declaration order: the order of the array form and of missing-field reports.
constexpr std::array<std::string_view, 8> FIELD_NAMES = {
    "private_key", "address", "dns", "mtu", "peer_public_key", "endpoint", "allowed_ips", "keepalive",
};
constexpr std::size_t DNS_FIELD = 2;
constexpr std::string_view A_STRING = "a string";

Status read_allowed_ips(JsonReader& reader, std::vector<std::string>& allowed_ips) {
  if (Status begun = reader.begin_array("a sequence"); !begun) {
    return begun;
  }
  for (bool first = true;; first = false) {
    Result<bool> more = reader.next_element(first);
    if (!more) {
      return std::move(more).error();
    }
    if (!more.value()) {
      return {};
    }
    if (Status read = reader.read_string(allowed_ips.emplace_back(), A_STRING); !read) {
      return read;
    }
  }
}

template <typename T>
Status read_unsigned(JsonReader& reader, T& field, std::string_view expectation) {
  Result<std::uint64_t> value = reader.read_unsigned(std::numeric_limits<T>::max(), expectation);
  if (!value) {
    return std::move(value).error();
  }
  field = static_cast<T>(value.value());
  return {};
}

Status read_field(JsonReader& reader, std::size_t field, TunnelConfig& config) {
  switch (field) {
    case 0:
      // Decoded in place so that the key's text is never copied or reallocated.
      return reader.read_string(config.private_key.buffer(), A_STRING);
    case 1:
      return reader.read_string(config.address, A_STRING);
    case 2: {
      Result<bool> present = reader.read_optional_string(config.dns.emplace(), A_STRING);
      if (!present) {
        return std::move(present).error();
      }
      if (!present.value()) {
        config.dns.reset();
      }
      return {};
    }
    case 3:
      return read_unsigned(reader, config.mtu, "u32");
    case 4:
      return reader.read_string(config.peer_public_key, A_STRING);
    case 5:
      return reader.read_string(config.endpoint, A_STRING);
    case 6:
      return read_allowed_ips(reader, config.allowed_ips);
    default:
      return read_unsigned(reader, config.keepalive, "u16");
  }
}

Status read_object_form(JsonReader& reader, TunnelConfig& config) {
  std::bitset<FIELD_NAMES.size()> seen;
  std::string name;
  for (bool first = true;; first = false) {
    Result<bool> more = reader.next_member(first, name);
    if (!more) {
      return std::move(more).error();
    }
    if (!more.value()) {
      break;
    }
    std::size_t field = 0;
    while (field < FIELD_NAMES.size() && FIELD_NAMES[field] != name) {
      ++field;
    }
    if (field < FIELD_NAMES.size() && seen[field]) {
      reader.skip_white_space();
      return reader.fail_here("duplicate field `" + name + "`");
    }
    if (Status colon = reader.member_colon(); !colon) {
      return colon;
    }
    if (field == FIELD_NAMES.size()) {
      if (Status skipped = reader.skip_value(); !skipped) {
        return skipped;
      }
      continue;
    }
    seen[field] = true;
    if (Status read = read_field(reader, field, config); !read) {
      return read;
    }
  }
  for (std::size_t field = 0; field < FIELD_NAMES.size(); ++field) {
    if (field != DNS_FIELD && !seen[field]) {
      return reader.fail_here("missing field `" + std::string(FIELD_NAMES[field]) + "`");
    }
  }
  return {};
}

Status read_array_form(JsonReader& reader, TunnelConfig& config) {
  for (std::size_t field = 0; field < FIELD_NAMES.size(); ++field) {
    Result<bool> more = reader.next_element(field == 0);
    if (!more) {
      return std::move(more).error();
    }
    if (!more.value()) {
      return reader.fail_here("invalid length " + std::to_string(field) +
                              ", expected struct TunnelConfig with 8 elements");
    }
    if (Status read = read_field(reader, field, config); !read) {
      return read;
    }
  }
  return reader.end_array();
}

Status read_document(std::string_view input, TunnelConfig& config) {
  JsonReader reader(input);
  Result<char> open = reader.begin_array_or_object("struct TunnelConfig");
  if (!open) {
    return std::move(open).error();
  }
  Status read = open.value() == '{' ? read_object_form(reader, config) : read_array_form(reader, config);
  if (!read) {
    return read;
  }
  return reader.end_document();
}

// Wipes the input buffer however read_config returns.
struct WipeOnExit {
  std::array<char, CONFIG_INPUT_LIMIT>& buffer;
  ~WipeOnExit() { wipe(buffer.data(), buffer.size()); }
};

}  // namespace

Result<TunnelConfig> read_config(Host& host) {
  auto buffer = std::make_unique<std::array<char, CONFIG_INPUT_LIMIT>>();
  const WipeOnExit wipe_on_exit{*buffer};
  Result<std::size_t> used = host.read_input(*buffer);
  if (!used) {
    return std::move(used).error();
  }
  return parse_config(std::string_view(buffer->data(), used.value()));
}

Result<TunnelConfig> parse_config(std::string_view input) {
  if (!is_valid_utf8(input)) {
    return fail("stream did not contain valid UTF-8");
  }
  TunnelConfig config;
  if (Status read = read_document(input, config); !read) {
    return fail("config json: " + std::move(read).error().text);
  }
  return config;
}

}  // namespace ferroglade
