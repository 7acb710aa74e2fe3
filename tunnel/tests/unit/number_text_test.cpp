#include "main/number_text.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace ferroglade {
namespace {

TEST(FloatText, ShortestDigitsPositionalOrExponent) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {1420.0, "1420.0"},
      {1.5, "1.5"},
      {-0.0, "-0.0"},
      {0.0, "0.0"},
      {0.1, "0.1"},
      {1e-5, "0.00001"},
      {9.99e-6, "9.99e-6"},
      {1.5e-7, "1.5e-7"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e16, "1e16"},
      {1e20, "1e20"},
      {-2.5e16, "-2.5e16"},
      {123456.789, "123456.789"},
      {18446744073709551616.0, "1.8446744073709552e19"},
      {5e-324, "5e-324"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.text, float_text(c.value)) << c.text;
  }
}

}  // namespace
}  // namespace ferroglade
