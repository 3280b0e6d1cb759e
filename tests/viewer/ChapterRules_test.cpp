#include "ChapterRules.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::string Encode(const std::string& Utf8, TTextEncoding Encoding) {
  if (Encoding == TTextEncoding::Utf8) return Utf8;
  iconv_t Cd = iconv_open(RulesOf(Encoding).IconvName, "UTF-8");
  if (Cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no converter");
  std::string In(Utf8), Out(In.size() * 4 + 8, '\0');
  char* InPos = In.data();
  char* OutPos = Out.data();
  std::size_t InLeft = In.size(), OutLeft = Out.size();
  const std::size_t Done = iconv(Cd, &InPos, &InLeft, &OutPos, &OutLeft);
  iconv_close(Cd);
  if (Done == static_cast<std::size_t>(-1)) throw std::runtime_error("cannot encode " + Utf8);
  Out.resize(Out.size() - OutLeft);
  return Out;
}

enum TKind { Chapter, Volume, Text };

struct TLine {
  const char* Line;
  TKind Kind;
  bool Named = false;  // a shape readers reported: it must be told right, whatever the totals
};

// Lines of real Chinese TXT novels: headings as books write them, and text that begins like one.
const std::vector<TLine> Corpus = {
    {"第一章 陨落的天才", Chapter}, {"第一章陨落的天才", Chapter}, {"第12回 山中来客", Chapter},
    {"第十二回　怒斩华雄", Chapter}, {"第三十七话 夜雨", Chapter}, {"第3話 転校生", Chapter},
    {"第 1 章 开始", Chapter, true}, {"第１２章 全角数字", Chapter, true}, {"第壹佰贰拾叁章 天命", Chapter, true},
    {"第两百章 决战", Chapter, true}, {"第一〇三章 归来", Chapter, true}, {"第一千零一章 大结局", Chapter},
    {"第五节 雨夜", Chapter}, {"第二节", Chapter}, {"第二集 归途", Chapter}, {"第一部 少年", Chapter},
    {"第三篇 秋", Chapter}, {"第一幕　开场", Chapter}, {"第十章：决战", Chapter}, {"第十章、决战", Chapter},
    {"第十章 - 决战", Chapter}, {"　　第二十章 初入江湖", Chapter}, {"第8章 他说：“走吧”", Chapter},
    {"第四十五章 你是谁？", Chapter}, {"第一章 他来了", Chapter}, {"第十二章 风起云涌（求月票）", Chapter},
    {"第二十二章 2019年的雪", Chapter}, {"第一回 宴桃园豪杰三结义", Chapter}, {"第一章 初见 ", Chapter},
    {"序", Chapter, true}, {"序章 开端", Chapter, true}, {"楔子", Chapter, true}, {"引子", Chapter, true},
    {"前言", Chapter, true}, {"后记：写在最后", Chapter, true}, {"尾声", Chapter, true}, {"最终章 再见", Chapter, true},
    {"番外篇 小师妹", Chapter, true}, {"番外之一 初遇", Chapter, true}, {"外传 剑客", Chapter, true},
    {"完本感言", Chapter, true}, {"上架感言", Chapter, true}, {"卷首语", Chapter, true}, {"作品相关", Chapter, true},
    {"内容简介", Chapter, true}, {"正文 第一章 起点", Chapter, true}, {"VIP卷 第三百章 终战", Chapter, true},
    {"【第一章 出山】", Chapter, true}, {"〖第二章 下山〗", Chapter, true}, {"☆、第一章 初见", Chapter, true},
    {"==第三章 雨==", Chapter, true}, {"CHAPTER TWO", Chapter, true}, {"Chapter 12: The Storm", Chapter, true},
    {"chapter.12", Chapter, true},
    {"第一卷 龙城风云", Volume, true}, {"第三卷：破晓", Volume}, {"卷一 少年游", Volume, true},
    {"卷之一 风起", Volume, true}, {"上卷", Volume, true}, {"下卷 归去", Volume}, {"上部 少年", Volume}, {"【第一卷】", Volume},
    {"第一卷 第一章 初入", Volume},
    // Sentences that begin like a heading, and words that begin with one.
    {"第三章我昨晚就读完了。", Text, true}, {"第二回合开始了！", Text, true}, {"第四节课下课了。", Text, true},
    {"第二集团的人来了。", Text, true}, {"Chapter 7 is my favourite.", Text, true}, {"第二章，你先看看。", Text, true},
    {"第二章，你先看看", Text, true}, {"第三回来时", Text, true}, {"第五节课", Text, true}, {"第二集团军", Text, true},
    {"第三部电话", Text, true}, {"他翻到了第三章，却发现书页被撕掉了。", Text}, {"第一次见到他的时候，她还是个孩子。", Text},
    {"第二天一早，他就出发了。", Text}, {"第三者插足。", Text}, {"序列号是多少？", Text}, {"后记得要带伞。", Text},
    {"引子弹出了枪膛。", Text}, {"番外面下雨了吗", Text}, {"终章节奏很快，他读得入迷。", Text},
    {"上卷帘门的时候小心。", Text}, {"上部电梯坏了", Text}, {"卷一根烟。", Text}, {"正文里写了什么？", Text}, {"外传来一阵脚步声。", Text},
    {"　　他说：“这是第三卷的内容。”", Text}, {"第一章节奏太慢", Text}, {"第一部电影", Text},
    {"第一幕后黑手出现了", Text}, {"第二卷起的铺盖", Text}, {"第十章里他死了，对吧？", Text},
    {"chapter twelve was boring.", Text}, {"The chapter ends here.", Text}, {"第二回，他学乖了。", Text},
    {"第三话他没说完就走了", Text}, {"第9章我看哭了 ", Text}, {"第十一章开始就没意思了", Text}, {"序号不对", Text},
    {"第一卷纸用完了。", Text}, {"第一回合，他输了", Text}, {"第三回头看了一眼", Text}, {"第一集结束了", Text},
    {"第一章　　　　　　　　　　他站在山顶上望着远方心中感慨万千不知道这一路走来究竟失去了多少", Text, true},
};

// Every line of the corpus in a file of its own encoding; the default pattern's headings, in GB18030
// (through the scan's test of the pattern's leads) and UTF-8, are scored against the kinds.
TEST(ChapterRules, TheDefaultTellsHeadingsFromTextAndVolumesFromChapters) {
  TempDir Dir;
  for (const TTextEncoding Encoding : {TTextEncoding::Gb18030, TTextEncoding::Utf8}) {
    SCOPED_TRACE(RulesOf(Encoding).MenuName);
    std::string Bytes;
    std::vector<TFileOffset> Starts;
    for (const TLine& Row : Corpus) {
      Starts.push_back(static_cast<TFileOffset>(Bytes.size()));
      Bytes += Encode(std::string(Row.Line) + "\r\n", Encoding);
    }
    const std::string File = Dir.Write("corpus.txt", Bytes);
    std::vector<TChapter> Found;
    const std::atomic<bool> Never{false};
    ScanChapters(File, TSearchPattern({DefaultChapterPattern, true, true}, Encoding), Never,
                 [&](std::vector<TChapter>&& Batch) { Found.insert(Found.end(), Batch.begin(), Batch.end()); });
    int Hits = 0, Right = 0, Headings = 0;
    for (std::size_t Row = 0, Next = 0; Row < Corpus.size(); ++Row) {
      const TLine& Line = Corpus[Row];
      const bool Taken = Next < Found.size() && Found[Next].Offset == Starts[Row];
      Headings += Line.Kind != Text;
      Hits += Taken;
      Right += Taken && Line.Kind != Text;
      if (Line.Named) {
        EXPECT_EQ(Taken, Line.Kind != Text) << Line.Line;
      }
      if (Taken && Line.Kind != Text) {
        EXPECT_EQ(Found[Next].Level, Line.Kind == Volume ? 0 : 1) << Line.Line;
      }
      Next += Taken;
    }
    const double Precision = Hits ? static_cast<double>(Right) / Hits : 0, Recall = static_cast<double>(Right) / Headings;
    EXPECT_GE(Precision, 0.95);
    EXPECT_GE(Recall, 0.90);
  }
}

// Number-only headings belong to the rule of books numbered that way.
TEST(ChapterRules, EachBuiltInRuleTakesItsOwnShapes) {
  struct TCase {
    std::size_t Rule;
    const char* Line;
    bool Heading;
  };
  const std::vector<TChapterRule> Rules = BuiltInChapterRules();
  ASSERT_EQ(Rules.front().Pattern, DefaultChapterPattern);
  TempDir Dir;
  for (const TCase& Case : std::vector<TCase>{{1, "7. 归乡", true}, {1, "三、夜雨", true}, {1, "001 标题", true},
                                               {1, "1.5倍的速度", false}, {1, "5.按时吃饭。", false},
                                               {1, "第一章 开始", false}, {2, "PART II: The Return", true},
                                               {2, "Prologue", true}, {2, "Part of me wanted to go.", false},
                                               {3, "第1章", true}, {3, "第一节 开始", false}, {3, "序章", false}}) {
    SCOPED_TRACE(Case.Line);
    const std::string File = Dir.Write("line.txt", Encode(std::string(Case.Line) + "\n", TTextEncoding::Gb18030));
    int Found = 0;
    const std::atomic<bool> Never{false};
    ScanChapters(File, TSearchPattern({Rules[Case.Rule].Pattern, true, true}, TTextEncoding::Gb18030), Never,
                 [&](std::vector<TChapter>&& Batch) { Found += static_cast<int>(Batch.size()); });
    EXPECT_EQ(Found, Case.Heading ? 1 : 0);
  }
}

TEST(ChapterRules, HeadingNumbersInEveryNotation) {
  const std::vector<std::pair<const char*, std::optional<std::uint32_t>>> Rows = {
      {"第十二回", 12},       {"第十章", 10},         {"第二十章", 20},           {"第一百零三章", 103},
      {"第一〇三章", 103},    {"第两百章", 200},      {"第壹佰贰拾叁章", 123},    {"第一千零一章", 1001},
      {"第三万二千章", 32000}, {"第１２章", 12},       {"Chapter 12: The Storm", 12}, {"正文卷 第七章 归来", 7},
      {"001 标题", 1},        {"三、夜雨", 3},        {"序章", std::nullopt},     {"楔子 一个开始的故事", std::nullopt},
      {"第12345678901章", std::nullopt}};
  for (const auto& [Title, Number] : Rows) EXPECT_EQ(HeadingNumber(Title), Number) << Title;
}

// Paragraphs of a novel, Bytes long or a little more, that neither begin nor end like a heading.
std::string Paragraphs(std::size_t Bytes, unsigned Seed) {
  static const char* const Sentences[] = {"他抬头看了看天色，心里有些不安。", "山路很长，走到天黑也没有看见一户人家。",
                                          "“我们明天再走吧。”她轻声说。", "风从谷口吹进来，带着一股潮湿的气味。",
                                          "那一年的雪下得特别大，城外的河都冻住了。", "他没有回答，只是把剑握得更紧了。"};
  std::string Text;
  while (Text.size() < Bytes) {
    Text += "　　";
    for (int Sentence = 0; Sentence < 3 + static_cast<int>(Seed % 4); ++Sentence)
      Text += Sentences[(Seed = Seed * 1103515245 + 12345) / 65536 % 6];
    Text += "\n";
  }
  return Text;
}

// A novel of Count chapters of 3 to 9 KB: Heading(I) opens chapter I, Inside(I) stands in its middle.
std::string Novel(int Count, const std::function<std::string(int)>& Heading,
                  const std::function<std::string(int)>& Inside = [](int) { return std::string(); }) {
  std::string Text;
  for (int I = 1; I <= Count; ++I) {
    const std::size_t Length = 3000 + static_cast<std::size_t>(I * 7919 % 6000);
    Text += Heading(I) + "\n" + Paragraphs(Length / 2, static_cast<unsigned>(I)) + Inside(I) +
            Paragraphs(Length / 2, static_cast<unsigned>(I) + 99);
  }
  return Text;
}

std::string Chinese(int Number) {
  static const char* const Digits[] = {"", "一", "二", "三", "四", "五", "六", "七", "八", "九"};
  std::string Text;
  if (Number >= 100) Text += std::string(Digits[Number / 100]) + "百";
  if (Number % 100 >= 10) Text += (Number >= 100 || Number % 100 >= 20 ? std::string(Digits[Number % 100 / 10]) : "") + "十";
  else if (Number >= 100 && Number % 10) Text += "零";
  return Text + Digits[Number % 10];
}

std::string Numbered(int Number, const char* Format) {
  char Text[32];
  std::snprintf(Text, sizeof Text, Format, Number);
  return Text;
}

// The rule a book is listed with, chosen on a sample: the small books are read whole, the large ones
// (some 2 MB) in pieces.
TEST(ChapterRules, TheChoiceTakesTheRuleTheBookIsNumberedBy) {
  const std::vector<TChapterRule> Rules = BuiltInChapterRules();
  struct TBook {
    const char* What;
    std::string Text;
    std::size_t Rule;
  };
  const auto Title = [](int I) { return std::string(I % 2 ? "夜雨" : "山中来客"); };
  const std::vector<TBook> Books = {
      {"第N章 with a list of 1、 lines", Novel(60, [&](int I) { return "第" + Chinese(I) + "章 " + Title(I); },
                                              [](int I) { return I == 7 ? "1、不许外出\n2、按时吃饭\n3、早睡早起\n" : ""; }),
       0},
      {"001 标题", Novel(60, [&](int I) { return Numbered(I, "%03d ") + Title(I); }), 1},
      {"三、夜雨, large", Novel(400, [&](int I) { return Chinese(I) + "、" + Title(I); }), 1},
      {"第N章 with sections 一、二、三, large",
       Novel(400, [&](int I) { return "第" + Chinese(I) + "章 " + Title(I); },
             [](int) { return "一、出发\n" + Paragraphs(900, 5) + "二、到达\n" + Paragraphs(900, 6) + "三、离开\n"; }),
       0},
      {"no headings, lists of 1. 2. 3. here and there",
       Novel(60, [](int) { return std::string("　　又是一天。"); },
             [](int I) { return I % 8 ? "" : "1.不许外出\n2.按时吃饭\n3.早睡早起\n4.按时练剑\n"; }),
       0},
  };
  TempDir Dir;
  std::vector<std::string> Patterns;
  for (const TChapterRule& Rule : Rules) Patterns.push_back(Rule.Pattern);
  for (const TBook& Book : Books) {
    SCOPED_TRACE(Book.What);
    const std::string File = Dir.Write("book.txt", Encode(Book.Text, TTextEncoding::Gb18030));
    std::vector<std::unique_ptr<TSearchPattern>> Compiled;
    std::vector<const TSearchPattern*> Candidates;
    for (const std::string& Pattern : Patterns) {
      Compiled.push_back(std::make_unique<TSearchPattern>(TSearchQuery{Pattern, true, true}, TTextEncoding::Gb18030));
      Candidates.push_back(Compiled.back().get());
    }
    const std::atomic<bool> Never{false};
    EXPECT_EQ(ChooseChapterPattern(File, Candidates, Never), Book.Rule);
  }
}

}  // namespace
