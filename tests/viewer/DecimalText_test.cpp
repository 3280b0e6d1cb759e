#include "DecimalText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

struct DecimalCase {
  std::int64_t Value;
  const char* Text;
};

class DecimalRows : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalRows, PlainDigitsWithMinus) { EXPECT_EQ(IntToStr(GetParam().Value), GetParam().Text); }

INSTANTIATE_TEST_SUITE_P(DecimalText, DecimalRows,
                         ::testing::Values(DecimalCase{0, "0"}, DecimalCase{7, "7"}, DecimalCase{-7, "-7"},
                                           DecimalCase{1234567, "1234567"},
                                           DecimalCase{std::numeric_limits<std::int32_t>::min(), "-2147483648"},
                                           DecimalCase{5000000000LL, "5000000000"},
                                           DecimalCase{std::numeric_limits<std::int64_t>::min(),
                                                       "-9223372036854775808"}));

} // namespace
