#include "TextSearch.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct FaultCase {
  const char* Pattern;
  const char* Message;
};

void PrintTo(const FaultCase& Row, std::ostream* Out) { *Out << Row.Pattern; }

class RegexFaultRows : public ::testing::TestWithParam<FaultCase> {};

// A pattern that does not compile says where, counted in characters, and what, in Chinese for the
// faults readers make; a rare one keeps PCRE2's own words.
TEST_P(RegexFaultRows, SayWhereAndWhatInChinese) {
  try {
    TSearchPattern Pattern(TSearchQuery{GetParam().Pattern, false, true}, TTextEncoding::Gb18030);
    FAIL() << "compiled";
  } catch (const ESearchQuery& Error) {
    EXPECT_EQ(std::string(Error.what()), GetParam().Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    RegexErrors, RegexFaultRows,
    ::testing::Values(FaultCase{"第[一二", "正则表达式第 5 个字符处缺少“]”"},
                      FaultCase{"章)", "正则表达式第 2 个字符处多了“)”"},
                      FaultCase{"*章", "正则表达式第 1 个字符处：量词前面没有可重复的内容"},
                      FaultCase{"第\\", "正则表达式第 3 个字符处：“\\”后面缺少字符"},
                      FaultCase{"\\q", "正则表达式第 2 个字符处：无法识别“\\”后面的字符"},
                      FaultCase{"(?C256)", "正则表达式第 7 个字符处有误：number after (?C is greater than 255"}));

}  // namespace
