#include "ChapterRules.h"

#include <algorithm>
#include <array>
#include <string>

namespace {

// The pieces headings are made of. Each is a PCRE2 fragment over one decoded line (UTF mode, the
// pattern's case as the reader set it: the rules match case and say (?i) where they need it).

// Spaces before, inside and after a heading: ASCII, and the full-width one novels indent with.
const std::string Space = R"([ \t\x{3000}])";

// A heading's number. Chinese numerals include 两 (两百), 〇 (一〇三) and the financial forms books
// sometimes number with (壹佰贰拾叁); the lengths are bounded so a long run of digits is no number.
const std::string ChineseDigits = "零〇一二三四五六七八九十百千万两壹贰叁肆伍陆柒捌玖拾佰仟";
const std::string Number = "(?:[0-9０-９]{1,9}|[" + ChineseDigits + "]{1,12})";

// 第 and a number, spaces around the number allowed (第 1 章).
const std::string Ordinal = "第" + Space + "*" + Number + Space + "*";

// A line short enough to be a heading: at most 40 characters after its leading spaces. A paragraph
// that begins like one (第一章里写着…) is longer.
const std::string Short = "(?=[^\\r\\n]{1,40}$)";

// A line that reads as a sentence is none: a full stop or a semicolon anywhere in it, a comma at its
// end (it goes on in the next line), or an English full stop after a word (Chapter 7 is my favourite.).
const std::string NoSentence =
    "(?![^\\r\\n]*[。；;])(?![^\\r\\n]*[，,]" + Space + "*$)(?![^\\r\\n]*[A-Za-z]\\." + Space + "*$)";

// What stands between a heading's number and its title.
const std::string Separator = R"([ \t\x{3000}:：、.．·\-—_])";

// A title after a separator: anything, up to the line's end (the line is short already).
const std::string SeparatedTitle = "(?:" + Separator + "+[^\\r\\n]*?)";

// A title glued to its unit (第一章陨落的天才) is a title only when the line does not go on as a
// sentence would: no comma right after the unit (第二章，你先看看), and no end of speech (第9章我看哭了,
// 第三话他没说完就走了, 第二回合开始了！).
const std::string GluedTitle = "(?:(?![，,])[^\\r\\n]*[^ \\t\\x{3000}\\r\\n！？!?…了吗呢吧啊呀])";

// A closing bracket or decoration after the heading, and the line's end.
const std::string Close = "(?:" + Space + "*(?:[】〗\\]］]|={2,}))?" + Space + "*$";

// Strong units take a title straight after them. Each is no unit when the next character makes a word
// with it: 章节, 章的, 章里; 回来, 回合, 回头, 回答; 话说, 话题.
const std::string ChapterUnit = "章(?![节的里中时后前了过完开起就也还都是又])";
const std::string StrongUnit = "(?:" + ChapterUnit + "|[话話](?![说题里的])|回(?![来去合头家到答复应首忆想的]))";

// Weak units make words with what follows (第五节课, 第二集团军, 第三部电话, 第一幕后): a separator
// or the line's end must follow them. 卷 is a volume (below).
const std::string WeakUnit = "[节節集部篇幕]";

// A volume: 第一卷, 卷一, 卷 一, 卷之一, 上卷, 中卷, 下卷, and the halves of a book in two or three
// (上部, 下篇).
const std::string Volume = "(?<volume>" + Ordinal + "卷|卷" + Space + "*之?" + Number + "|[上中下][卷部篇])";

// The front and back matter readers list, alone or before a separated title.
const std::string Keyword =
    "(?:序言|序章|序幕|序|楔子|引子|前言|后记|後記|尾声|尾聲|最终章|终章|番外篇|番外(?:之?" + Number +
    ")?|外传|外傳|完本感言|上架感言|卷首语|作品相关|内容简介)";

// English numbers as words (CHAPTER TWO, Chapter Twenty-One) and Roman ones (Chapter IV).
const std::string WordNumber =
    "(?i:(?:one|two|three|four|five|six|seven|eight|nine|ten|eleven|twelve|thirteen|fourteen|fifteen|"
    "sixteen|seventeen|eighteen|nineteen|twenty|thirty|forty|fifty|sixty|seventy|eighty|ninety|hundred)"
    "(?:[- ](?:one|two|three|four|five|six|seven|eight|nine))?)\\b";
const std::string EnglishNumber = "(?:[0-9０-９]{1,4}|" + WordNumber + "|[IVXLC]{1,7}\\b)";

// Chapter 12, CHAPTER TWO, chapter.12.
const std::string EnglishChapter = "(?i:chapter)[ \\t.．:：]*" + EnglishNumber;

// What may come before a heading: a bracket or a decoration (【 〖 ☆、 ==), then 正文, 正文卷 or VIP卷.
const std::string Open = "(?:[【〖\\[［]" + Space + "*|[☆★]、?" + Space + "*|={2,}" + Space + "*)?";
const std::string Prefix = "(?:(?:正文卷?|VIP卷)" + Space + "*)?";

std::string BuildDefault() {
  const std::string Body = "(?:" + Ordinal + StrongUnit + "(?:" + SeparatedTitle + "|" + GluedTitle + ")?" + "|(?:" +
                           Ordinal + WeakUnit + "|" + Volume + "|" + Keyword + "|" + EnglishChapter + ")" +
                           SeparatedTitle + "?)";
  return "^" + Space + "*" + Short + NoSentence + Open + Prefix + Body + Close;
}

// 1. 标题, 1、标题, 001 标题, 一、标题: a number and a title, as some books number their chapters. Such
// lines are lists in other books; the choice of rule tells them apart.
std::string BuildNumbered() {
  const std::string Lead = "(?:[0-9０-９]{1,4}" + Space + "*[.．、](?![0-9０-９])|[0-9]{3,4}(?=" + Space + ")|[" +
                           ChineseDigits + "]{1,6}、)";
  return "^" + Space + "*" + Short + NoSentence + Lead + Space + "*(?![，,])[^ \\t\\x{3000}\\r\\n][^\\r\\n]*?" + Close;
}

// Chapter 12, Part Two, Book III, Prologue, Epilogue…: parts and books are volumes.
std::string BuildEnglish() {
  const std::string Part = "(?<volume>(?i:part|book|volume))[ \\t.:]+" + EnglishNumber;
  const std::string Matter = "(?i:prologue|epilogue|preface|foreword|afterword|interlude|introduction)";
  return "^" + Space + "*" + Short + NoSentence + "(?:" + EnglishChapter + "|" + Part + "|" + Matter + ")" +
         SeparatedTitle + "?" + Close;
}

// 第N章 and nothing else.
std::string BuildStrict() {
  return "^" + Space + "*" + Short + NoSentence + Ordinal + ChapterUnit + "(?:" + SeparatedTitle + "|" + GluedTitle +
         ")?" + Close;
}

struct TBuiltIn {
  const char* Name;
  std::string Pattern;
  // What its headings begin with after spaces: in step with its pieces (the corpus test reads its lines
  // through the scan's test of these).
  std::string_view Leads;
  bool Enabled = true;
};

const std::array<TBuiltIn, 4>& BuiltIns() {
  static const std::array<TBuiltIn, 4> Rules = {{
      {"自动识别", DefaultChapterPattern,
       "第序楔引前后後尾终最番外完上中下卷作内正Vv【〖[［☆★=Cc"},
      {"数字编号", BuildNumbered(), "0123456789０１２３４５６７８９零〇一二三四五六七八九十百千万两壹贰叁肆伍陆柒捌玖拾佰仟"},
      {"英文 Chapter", BuildEnglish(), "CcPpBbVvEeIiFfAa"},
      // Off at first: its headings are some of the default's, a choice only the reader can make.
      {"仅“第N章”", BuildStrict(), "第", false},
  }};
  return Rules;
}

}  // namespace

const std::string DefaultChapterPattern = BuildDefault();

std::vector<TChapterRule> BuiltInChapterRules() {
  std::vector<TChapterRule> Rules;
  for (const TBuiltIn& Rule : BuiltIns()) Rules.push_back({Rule.Name, Rule.Pattern, Rule.Enabled});
  return Rules;
}

std::optional<TLineLeads> LineLeadsOf(std::string_view Pattern) {
  for (const TBuiltIn& Rule : BuiltIns())
    if (Rule.Pattern == Pattern) return TLineLeads{Rule.Leads, 40};
  return std::nullopt;
}
