#include "main/addresses.hpp"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "linux/text.hpp"
#include "main/number_text.hpp"

namespace ferroglade {
namespace {

constexpr std::uint8_t IPV4_PREFIX_MAX = 32;
constexpr std::uint8_t IPV6_PREFIX_MAX = 128;
constexpr std::uint64_t PREFIX_TEXT_MAX = 255;
constexpr std::uint64_t PORT_MAX = 65535;
constexpr std::uint64_t SCOPE_ID_MAX = 4294967295;
constexpr std::size_t IPV6_GROUPS = 8;

/// One or more decimal digits (leading zeros allowed) with a value of at most `max`.
std::optional<std::uint64_t> parse_decimal(std::string_view text, std::uint64_t max) {
  if (text.empty()) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (char c : text) {
    if (!is_decimal_digit(c)) {
      return std::nullopt;
    }
    // Stopping as soon as the value passes `max` keeps a long run of digits from wrapping around.
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > max) {
      return std::nullopt;
    }
  }
  return value;
}

std::optional<std::array<std::uint8_t, 4>> parse_ipv4(std::string_view text) {
  std::array<std::uint8_t, 4> bytes{};
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::size_t end = i + 1 < bytes.size() ? text.find('.', start) : text.size();
    if (end == std::string_view::npos) {
      return std::nullopt;
    }
    std::string_view number = text.substr(start, end - start);
    if (number.size() > 3 || (number.size() > 1 && number[0] == '0')) {
      return std::nullopt;
    }
    std::optional<std::uint64_t> value = parse_decimal(number, 255);
    if (!value) {
      return std::nullopt;
    }
    bytes[i] = static_cast<std::uint8_t>(*value);
    start = end + 1;
  }
  return bytes;
}

/// Appends the colon-separated groups of one side of "::" (possibly empty) to `groups`;
/// a dotted IPv4 address may stand for the last two groups when `tail_allowed`.
bool parse_groups(std::string_view text, bool tail_allowed, std::vector<std::uint16_t>& groups) {
  if (text.empty()) {
    return true;
  }
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(':', start);
    bool last = end == std::string_view::npos;
    std::string_view group = text.substr(start, last ? std::string_view::npos : end - start);
    if (last && tail_allowed && group.find('.') != std::string_view::npos) {
      std::optional<std::array<std::uint8_t, 4>> tail = parse_ipv4(group);
      if (!tail) {
        return false;
      }
      groups.push_back(static_cast<std::uint16_t>(((*tail)[0] << 8) | (*tail)[1]));
      groups.push_back(static_cast<std::uint16_t>(((*tail)[2] << 8) | (*tail)[3]));
      return true;
    }
    if (group.empty() || group.size() > 4) {
      return false;
    }
    std::uint16_t value = 0;
    for (char c : group) {
      int digit = hex_digit_value(c);
      if (digit < 0) {
        return false;
      }
      value = static_cast<std::uint16_t>((value << 4) | digit);
    }
    groups.push_back(value);
    // A bound on the count also bounds the work on very long texts.
    if (groups.size() > IPV6_GROUPS) {
      return false;
    }
    if (last) {
      return true;
    }
    start = end + 1;
  }
}

std::optional<std::array<std::uint8_t, 16>> parse_ipv6(std::string_view text) {
  std::vector<std::uint16_t> head;
  std::vector<std::uint16_t> tail;
  std::size_t gap = text.find("::");
  if (gap == std::string_view::npos) {
    if (!parse_groups(text, true, head) || head.size() != IPV6_GROUPS) {
      return std::nullopt;
    }
  } else {
    if (text.find("::", gap + 1) != std::string_view::npos) {
      return std::nullopt;
    }
    if (!parse_groups(text.substr(0, gap), false, head) || !parse_groups(text.substr(gap + 2), true, tail)) {
      return std::nullopt;
    }
    // "::" stands for at least one zero group.
    if (head.size() + tail.size() >= IPV6_GROUPS) {
      return std::nullopt;
    }
  }
  std::array<std::uint8_t, 16> bytes{};
  auto put = [&bytes](std::size_t index, std::uint16_t group) {
    bytes[2 * index] = static_cast<std::uint8_t>(group >> 8);
    bytes[2 * index + 1] = static_cast<std::uint8_t>(group & 0xff);
  };
  for (std::size_t i = 0; i < head.size(); ++i) {
    put(i, head[i]);
  }
  for (std::size_t i = 0; i < tail.size(); ++i) {
    put(IPV6_GROUPS - tail.size() + i, tail[i]);
  }
  return bytes;
}

std::optional<IpAddress> parse_ipv6_address(std::string_view text) {
  std::optional<std::array<std::uint8_t, 16>> bytes = parse_ipv6(text);
  if (!bytes) {
    return std::nullopt;
  }
  return IpAddress{Family::ipv6, *bytes};
}

std::optional<IpAddress> parse_ipv4_address(std::string_view text) {
  std::optional<std::array<std::uint8_t, 4>> bytes = parse_ipv4(text);
  if (!bytes) {
    return std::nullopt;
  }
  IpAddress address;
  std::copy(bytes->begin(), bytes->end(), address.bytes.begin());
  return address;
}

std::uint8_t prefix_max(Family family) { return family == Family::ipv4 ? IPV4_PREFIX_MAX : IPV6_PREFIX_MAX; }

void clear_host_bits(IpAddress& address, std::uint8_t prefix_length) {
  for (std::size_t i = 0; i < address.bytes.size(); ++i) {
    std::size_t first_bit = 8 * i;
    if (first_bit >= prefix_length) {
      address.bytes[i] = 0;
    } else if (prefix_length - first_bit < 8) {
      address.bytes[i] &= static_cast<std::uint8_t>(0xff << (8 - (prefix_length - first_bit)));
    }
  }
}

void append_hex(std::string& out, std::uint16_t value) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  bool started = false;
  for (int shift = 12; shift >= 0; shift -= 4) {
    unsigned digit = (value >> shift) & 0xfu;
    if (digit != 0 || started || shift == 0) {
      out.push_back(DIGITS[digit]);
      started = true;
    }
  }
}

std::string render_ipv4(const std::uint8_t* bytes) {
  std::string out;
  for (std::size_t i = 0; i < 4; ++i) {
    if (i != 0) {
      out.push_back('.');
    }
    out += std::to_string(bytes[i]);
  }
  return out;
}

bool is_ipv4_mapped(const IpAddress& address) {
  for (std::size_t i = 0; i < 10; ++i) {
    if (address.bytes[i] != 0) {
      return false;
    }
  }
  return address.bytes[10] == 0xff && address.bytes[11] == 0xff;
}

std::string render_ipv6(const IpAddress& address) {
  if (is_ipv4_mapped(address)) {
    return "::ffff:" + render_ipv4(&address.bytes[12]);
  }
  std::array<std::uint16_t, IPV6_GROUPS> groups{};
  for (std::size_t i = 0; i < IPV6_GROUPS; ++i) {
    groups[i] = static_cast<std::uint16_t>((address.bytes[2 * i] << 8) | address.bytes[2 * i + 1]);
  }
  // The longest run of two or more zero groups, the first on a tie.
  std::size_t best_start = IPV6_GROUPS;
  std::size_t best_length = 1;
  for (std::size_t i = 0; i < IPV6_GROUPS;) {
    std::size_t run = 0;
    while (i + run < IPV6_GROUPS && groups[i + run] == 0) {
      ++run;
    }
    if (run > best_length) {
      best_start = i;
      best_length = run;
    }
    i += run == 0 ? 1 : run;
  }
  std::string out;
  for (std::size_t i = 0; i < IPV6_GROUPS; ++i) {
    if (i == best_start) {
      out += "::";
      i += best_length - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') {
      out.push_back(':');
    }
    append_hex(out, groups[i]);
  }
  return out;
}

}  // namespace

std::optional<IpAddress> parse_ip_address(std::string_view text) {
  if (text.find(':') != std::string_view::npos) {
    return parse_ipv6_address(text);
  }
  return parse_ipv4_address(text);
}

Result<PrefixedAddress> parse_prefixed_address(std::string_view text) {
  text = trim(text);
  std::size_t slash = text.find('/');
  std::string_view address_part = text.substr(0, slash);
  std::optional<IpAddress> address = parse_ip_address(address_part);
  if (!address) {
    return fail("bad address " + std::string(address_part));
  }
  PrefixedAddress result{*address, prefix_max(address->family)};
  if (slash == std::string_view::npos) {
    return result;
  }
  std::string_view prefix_part = text.substr(slash + 1);
  std::string_view digits = prefix_part;
  if (!digits.empty() && digits[0] == '+') {
    digits.remove_prefix(1);
  }
  std::optional<std::uint64_t> value = parse_decimal(digits, PREFIX_TEXT_MAX);
  if (!value) {
    return fail("bad prefix " + std::string(prefix_part));
  }
  if (*value > prefix_max(address->family)) {
    return fail("prefix /" + std::to_string(*value) + " too long");
  }
  result.prefix_length = static_cast<std::uint8_t>(*value);
  return result;
}

Result<IpNetwork> parse_network(std::string_view text) {
  Result<PrefixedAddress> prefixed = parse_prefixed_address(text);
  if (!prefixed) {
    return std::move(prefixed).error();
  }
  IpNetwork network{prefixed->address, prefixed->prefix_length};
  clear_host_bits(network.address, network.prefix_length);
  return network;
}

std::optional<SocketAddress> parse_socket_address(std::string_view text) {
  SocketAddress result;
  std::string_view port_part;
  if (!text.empty() && text[0] == '[') {
    std::size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      return std::nullopt;
    }
    std::string_view inside = text.substr(1, close - 1);
    std::size_t percent = inside.find('%');
    std::optional<IpAddress> address = parse_ipv6_address(inside.substr(0, percent));
    if (!address) {
      return std::nullopt;
    }
    result.address = *address;
    if (percent != std::string_view::npos) {
      std::optional<std::uint64_t> scope = parse_decimal(inside.substr(percent + 1), SCOPE_ID_MAX);
      if (!scope) {
        return std::nullopt;
      }
      result.scope_id = static_cast<std::uint32_t>(*scope);
    }
    port_part = text.substr(close + 2);
  } else {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
      return std::nullopt;
    }
    std::optional<IpAddress> address = parse_ipv4_address(text.substr(0, colon));
    if (!address) {
      return std::nullopt;
    }
    result.address = *address;
    port_part = text.substr(colon + 1);
  }
  std::optional<std::uint64_t> port = parse_decimal(port_part, PORT_MAX);
  if (!port) {
    return std::nullopt;
  }
  result.port = static_cast<std::uint16_t>(*port);
  return result;
}

std::string render_address(const IpAddress& address) {
  return address.family == Family::ipv4 ? render_ipv4(address.bytes.data()) : render_ipv6(address);
}

std::string render_network(const IpNetwork& network) {
  return render_address(network.address) + "/" + std::to_string(network.prefix_length);
}

std::string render_socket_address(const SocketAddress& address) {
  std::string port = std::to_string(address.port);
  if (address.address.family == Family::ipv4) {
    return render_address(address.address) + ":" + port;
  }
  std::string out = "[" + render_address(address.address);
  if (address.scope_id != 0) {
    out += "%" + std::to_string(address.scope_id);
  }
  return out + "]:" + port;
}

}  // namespace ferroglade
