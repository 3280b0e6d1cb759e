#include "Position.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct PositionCase {
  const char* Name;
  std::string Text;
  std::optional<TFileOffset> Offset;  // in a file of 2000 bytes
};

void PrintTo(const PositionCase& Row, std::ostream* Out) { *Out << Row.Name; }

class PositionRows : public ::testing::TestWithParam<PositionCase> {};

TEST_P(PositionRows, ReadsAShareOrAByteOffset) { EXPECT_EQ(ParsePosition(GetParam().Text, 2000), GetParam().Offset); }

INSTANTIATE_TEST_SUITE_P(
    Position, PositionRows,
    ::testing::Values(PositionCase{"Share", "37.5%", 750}, PositionCase{"ShareWithSpaces", " 50 % ", 1000},
                      PositionCase{"WholeShare", "100%", 2000}, PositionCase{"ShareAboveAll", "250%", 2000},
                      PositionCase{"FullWidth", "\xEF\xBC\x95\xEF\xBC\x90\xEF\xBC\x85", 1000},  // ５０％
                      PositionCase{"Offset", "1234", 1234}, PositionCase{"OffsetPastTheEnd", "99999999999", 2000},
                      PositionCase{"FortyDigits", std::string(40, '9'), 2000},
                      PositionCase{"FortyDigitShare", std::string(40, '9') + ".5%", 2000},
                      PositionCase{"TwoDecimals", "37.55%", std::nullopt}, PositionCase{"PointInAnOffset", "12.5", std::nullopt},
                      PositionCase{"Negative", "-5", std::nullopt}, PositionCase{"Empty", "  ", std::nullopt},
                      PositionCase{"Words", "第三章", std::nullopt}, PositionCase{"PercentAlone", "%", std::nullopt}),
    [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
