#include "RegexErrors.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <iterator>

namespace {

// Each fault's words after "正则表达式第 N 个字符处": short, so that the message fits the status bar.
struct TRegexFault {
  int Code;
  const char* Words;
};

constexpr TRegexFault Faults[] = {
    {PCRE2_ERROR_END_BACKSLASH, "：“\\”后面缺少字符"},
    {PCRE2_ERROR_END_BACKSLASH_C, "：“\\c”后面缺少字符"},
    {PCRE2_ERROR_UNKNOWN_ESCAPE, "：无法识别“\\”后面的字符"},
    {PCRE2_ERROR_QUANTIFIER_OUT_OF_ORDER, "：“{}”中的数字前大后小"},
    {PCRE2_ERROR_QUANTIFIER_TOO_BIG, "：“{}”中的数字太大"},
    {PCRE2_ERROR_MISSING_SQUARE_BRACKET, "缺少“]”"},
    {PCRE2_ERROR_ESCAPE_INVALID_IN_CLASS, "：方括号中不能用这个转义"},
    {PCRE2_ERROR_CLASS_RANGE_ORDER, "：字符范围前大后小"},
    {PCRE2_ERROR_QUANTIFIER_INVALID, "：量词前面没有可重复的内容"},
    {PCRE2_ERROR_INVALID_AFTER_PARENS_QUERY, "：无法识别“(?”后面的字符"},
    {PCRE2_ERROR_POSIX_CLASS_NOT_IN_CLASS, "：POSIX 字符类只能写在方括号中"},
    {PCRE2_ERROR_MISSING_CLOSING_PARENTHESIS, "缺少“)”"},
    {PCRE2_ERROR_BAD_SUBPATTERN_REFERENCE, "：引用了不存在的分组"},
    {PCRE2_ERROR_MISSING_COMMENT_CLOSING, "：注释“(?#”缺少“)”"},
    {PCRE2_ERROR_PARENTHESES_NEST_TOO_DEEP, "：括号嵌套太深"},
    {PCRE2_ERROR_PATTERN_TOO_LARGE, "：表达式太长"},
    {PCRE2_ERROR_UNMATCHED_CLOSING_PARENTHESIS, "多了“)”"},
    {PCRE2_ERROR_MISSING_CONDITION_CLOSING, "：条件缺少“)”"},
    {PCRE2_ERROR_LOOKBEHIND_NOT_FIXED_LENGTH, "：向后断言的长度不固定"},
    {PCRE2_ERROR_UNKNOWN_POSIX_CLASS, "：未知的 POSIX 字符类"},
    {PCRE2_ERROR_CODE_POINT_TOO_BIG, "：字符编码值太大"},
    {PCRE2_ERROR_LOOKBEHIND_TOO_COMPLICATED, "：向后断言太复杂"},
    {PCRE2_ERROR_MALFORMED_UNICODE_PROPERTY, "：“\\p”或“\\P”的写法有误"},
    {PCRE2_ERROR_UNKNOWN_UNICODE_PROPERTY, "：“\\p”或“\\P”后面是未知的属性"},
    {PCRE2_ERROR_CLASS_INVALID_RANGE, "：方括号中的范围无效"},
    {PCRE2_ERROR_INVALID_HEXADECIMAL, "：“\\x{}”中有非十六进制字符"},
    {PCRE2_ERROR_MISSING_OCTAL_OR_HEX_DIGITS, "：“\\x{}”或“\\o{}”中缺少数字"},
    {PCRE2_ERROR_PATTERN_TOO_COMPLICATED, "：表达式太复杂"},
    {PCRE2_ERROR_LOOKBEHIND_TOO_LONG, "：向后断言太长"},
};

}  // namespace

std::string RegexFaultMessage(int ErrorCode, std::size_t Character) {
  std::string Message = "正则表达式第 " + std::to_string(Character) + " 个字符处";
  for (const TRegexFault& Fault : Faults)
    if (Fault.Code == ErrorCode) return Message + Fault.Words;
  PCRE2_UCHAR English[256];
  if (pcre2_get_error_message(ErrorCode, English, std::size(English)) < 0) return Message + "有误";
  return Message + "有误：" + reinterpret_cast<const char*>(English);
}
