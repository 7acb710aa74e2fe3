#include <gtest/gtest.h>

#include "linux/system_error.hpp"

namespace ferroglade {
namespace {

TEST(SystemErrorText, NamesTheErrorAndItsNumber) {
  EXPECT_EQ("No such file or directory (os error 2)", system_error_text(2));
  EXPECT_EQ("Broken pipe (os error 32)", system_error_text(32));
}

}  // namespace
}  // namespace ferroglade
