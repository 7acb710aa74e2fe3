#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "main/addresses.hpp"
#include "unit/test_support.hpp"

namespace ferroglade {
namespace {

/// The rendered network, or the error text.
std::string network_outcome(std::string_view text) {
  Result<IpNetwork> network = parse_network(text);
  return network ? render_network(network.value()) : network.error().text;
}

std::string address_outcome(std::string_view text) {
  std::optional<IpAddress> address = parse_ip_address(text);
  return address ? render_address(*address) : "invalid";
}

std::string socket_outcome(std::string_view text) {
  std::optional<SocketAddress> address = parse_socket_address(text);
  return address ? render_socket_address(*address) : "invalid";
}

TEST(ParseIpAddress, AcceptsOnlyTheStrictForms) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"0.0.0.0", "0.0.0.0"},
      {"255.255.255.255", "255.255.255.255"},
      {"10.8.0.2", "10.8.0.2"},
      {"010.8.0.2", "invalid"},
      {"10.8.0.256", "invalid"},
      {"10.8.0", "invalid"},
      {"10..0.2", "invalid"},
      {" 1.2.3.4", "invalid"},
      {"localhost", "invalid"},
      {"", "invalid"},
      {"::", "::"},
      {"::1", "::1"},
      {"1::", "1::"},
      {"FD00::2", "fd00::2"},
      {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
      {"0001:0002:0003:0004:0005:0006:0007:0008", "1:2:3:4:5:6:7:8"},
      {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},  // "::" may stand for a single group
      {"1:2:3:4::5:6:7:8", "invalid"},         // eight groups leave nothing for "::"
      {"1:2:3:4:5:6:7", "invalid"},
      {"1:2:3:4:5:6:7:8:9", "invalid"},
      {"1::2::3", "invalid"},
      {":::", "invalid"},
      {":1::", "invalid"},
      {"::1:", "invalid"},
      {"12345::", "invalid"},
      {"::ffff:1.2.3.4", "::ffff:1.2.3.4"},
      {"::10.0.0.53", "::a00:35"},
      {"1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:102:304"},
      {"1:2:3:4:5:6:7:1.2.3.4", "invalid"},
      {"1.2.3.4::", "invalid"},
      {"::1.2.3.4:5", "invalid"},
      {"::ffff:01.2.3.4", "invalid"},
      {"fe80::1%3", "invalid"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(expected, address_outcome(text)) << '"' << text << '"';
  }
}

TEST(ParseNetwork, ClearsHostBitsAndQuotesWhatIsWrong) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"10.1.2.3/8", "10.0.0.0/8"},
      {"10.8.0.2", "10.8.0.2/32"},
      {"  10.8.0.2/24\n", "10.8.0.0/24"},
      {"\u00a010.8.0.2/24\u2029", "10.8.0.0/24"},
      {"0.0.0.0/0", "0.0.0.0/0"},
      {"255.255.255.255/0", "0.0.0.0/0"},
      {"255.255.255.255/31", "255.255.255.254/31"},
      {"::/0", "::/0"},
      {"fd00::2", "fd00::2/128"},
      {"2001:db8:ffff:ffff::1/33", "2001:db8:8000::/33"},
      {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff/127", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe/127"},
      {"10.8.0.2/", "bad prefix "},
      {"10.8.0.2/ 24", "bad prefix  24"},
      {"10.8.0.2/-1", "bad prefix -1"},
      {"10.8.0.2/256", "bad prefix 256"},
      {"10.8.0.2/18446744073709551648", "bad prefix 18446744073709551648"},  // 2^64 + 32
      {"10.8.0.2/33", "prefix /33 too long"},
      {"10.8.0.2/+033", "prefix /33 too long"},
      {"fd00::2/200", "prefix /200 too long"},
      {"10.8.0.2 /24", "bad address 10.8.0.2 "},
      {"10.8.0.256/24", "bad address 10.8.0.256"},
      {"010.8.0.2/24", "bad address 010.8.0.2"},
      {"vpn.example/24", "bad address vpn.example"},
      {"", "bad address "},
      {"10.8\x01.0.2/24", "bad address 10.8\x01.0.2"},
      {"10.8.0.2/2\x7f", "bad prefix 2\x7f"},
      {"fe80::1%eth0/64", "bad address fe80::1%eth0"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(expected, network_outcome(text)) << '"' << text << '"';
  }
}

TEST(ParseSocketAddress, AcceptsAddressAndPortForms) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"198.51.100.7:51820", "198.51.100.7:51820"},
      {"198.51.100.7:00051820", "198.51.100.7:51820"},
      {"198.51.100.7:0", "198.51.100.7:0"},
      {"[2001:DB8::1]:51820", "[2001:db8::1]:51820"},
      {"[fe80::1%3]:51820", "[fe80::1%3]:51820"},
      {"[fe80::1%0]:51820", "[fe80::1]:51820"},
      {"[fe80::1%4294967295]:1", "[fe80::1%4294967295]:1"},
      {"[::ffff:1.2.3.4]:53", "[::ffff:1.2.3.4]:53"},
      {"198.51.100.7:65536", "invalid"},
      {"198.51.100.7:" + std::string(50, '9'), "invalid"},
      {"198.51.100.7", "invalid"},
      {"198.51.100.7:+80", "invalid"},
      {"198.51.100.7:80:80", "invalid"},
      {"vpn.example:51820", "invalid"},
      {"2001:db8::1:51820", "invalid"},
      {"[2001:db8::1]", "invalid"},
      {"[2001:db8::1]51820", "invalid"},
      {"[1.2.3.4]:80", "invalid"},
      {"[fe80::1%]:51820", "invalid"},
      {"[fe80::1%eth0]:51820", "invalid"},
      {"[fe80::1%4294967296]:51820", "invalid"},
      {"[fe80::1%3%4]:51820", "invalid"},
      {"", "invalid"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(expected, socket_outcome(text)) << '"' << text << '"';
  }
}

TEST(RenderAddress, CompressesTheFirstLongestZeroRun) {
  const std::vector<std::pair<std::array<std::uint16_t, 8>, std::string>> cases = {
      {{0, 0, 0, 0, 0, 0, 0, 0}, "::"},
      {{1, 0, 1, 0, 0, 1, 0, 0}, "1:0:1::1:0:0"},
      {{1, 0, 0, 1, 0, 0, 0, 1}, "1:0:0:1::1"},
      {{1, 0, 0, 2, 0, 0, 3, 4}, "1::2:0:0:3:4"},
      {{1, 2, 3, 4, 5, 6, 7, 0}, "1:2:3:4:5:6:7:0"},
      {{0x2001, 0xdb8, 0, 0, 0, 0, 0, 0}, "2001:db8::"},
      {{0xabcd, 0x0a0b, 0x00f0, 0, 0, 0, 0, 1}, "abcd:a0b:f0::1"},
      {{0, 0, 0, 0, 0, 0xffff, 0x0102, 0x0304}, "::ffff:1.2.3.4"},
      {{0, 0, 0, 0, 0, 0xfffe, 0x0102, 0x0304}, "::fffe:102:304"},
      {{0, 0, 0, 0, 0xffff, 0xffff, 0x0102, 0x0304}, "::ffff:ffff:102:304"},
  };
  for (const auto& [groups, expected] : cases) {
    EXPECT_EQ(expected, render_address(testing::ipv6(groups)));
  }
}

TEST(RenderAddress, ParsesBackToTheSameAddress) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> group(0, 0xffff);
  std::bernoulli_distribution zero(0.6);
  for (int round = 0; round < 5000; ++round) {
    IpAddress address;
    if (round % 4 == 0) {
      for (std::size_t i = 0; i < 4; ++i) {
        address.bytes[i] = static_cast<std::uint8_t>(byte(random));
      }
    } else {
      std::array<std::uint16_t, 8> groups{};
      for (std::uint16_t& g : groups) {
        g = zero(random) ? 0 : static_cast<std::uint16_t>(group(random));
      }
      if (round % 4 == 1) {
        groups = {0, 0, 0, 0, 0, 0xffff, groups[6], groups[7]};
      }
      address = testing::ipv6(groups);
    }
    std::string text = render_address(address);
    std::optional<IpAddress> parsed = parse_ip_address(text);
    ASSERT_TRUE(parsed.has_value()) << text;
    EXPECT_EQ(address, *parsed) << text;
  }
}

}  // namespace
}  // namespace ferroglade
