#include "PageText.h"
#include "ReadPage.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <iconv.h>
namespace {

std::string Convert(const std::string& Text, const char* To, const char* From) {
  const iconv_t Cd = iconv_open(To, From);
  if (Cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no converter");
  std::string Out(Text.size() * 4 + 8, '\0');
  char* In = const_cast<char*>(Text.data());
  std::size_t InLeft = Text.size();
  char* At = Out.data();
  std::size_t OutLeft = Out.size();
  const std::size_t Done = iconv(Cd, &In, &InLeft, &At, &OutLeft);
  iconv_close(Cd);
  if (Done == static_cast<std::size_t>(-1)) throw std::runtime_error("text the encoding cannot hold");
  Out.resize(Out.size() - OutLeft);
  return Out;
}

// A novel-like text: long paragraphs of Chinese with full-width punctuation, now and then a Latin
// word, digits or a character GBK lacks, CR LF between paragraphs. Odd runs of ASCII make lines fill
// inside a two-column character, so pages end inside characters too.
std::string NovelUtf8(std::size_t Paragraphs) {
  const char* const Pieces[] = {"天", "下", "大", "势", "分", "久", "必", "合", "上", "尊", "吊", "渊", "，", "。",
                                "“", "”", "剑", "心", "风", "云", "Lin", " 42 ", "a", "𠀀", "é", "！", "的", "了"};
  std::uint32_t Seed = 12345;
  std::string Text;
  for (std::size_t Paragraph = 0; Paragraph < Paragraphs; ++Paragraph) {
    Text += "\xE3\x80\x80\xE3\x80\x80";  // two ideographic spaces
    Seed = Seed * 1103515245 + 12345;
    for (std::size_t Piece = 0, Count = 20 + Seed % 200; Piece < Count; ++Piece) {
      Seed = Seed * 1103515245 + 12345;
      Text += Pieces[(Seed >> 16) % std::size(Pieces)];
    }
    Text += "\r\n";
  }
  return Text;
}

}  // namespace


// The same text pages alike whatever its encoding: page after page, each shows the same characters,
// because a character counts the columns of its GB18030 form in every encoding.
TEST(PageText, TheSameNovelGivesTheSamePagesInEveryEncoding) {
  const std::string Novel = NovelUtf8(100);
  const struct {
    TTextEncoding Encoding;
    const char* Name;
    std::string Bytes;
  } Files[] = {
      {TTextEncoding::Gb18030, "GB18030", Convert(Novel, "GB18030", "UTF-8")},
      {TTextEncoding::Utf8, "UTF-8", Novel},
      {TTextEncoding::Utf16Le, "UTF-16LE", "\xFF\xFE" + Convert(Novel, "UTF-16LE", "UTF-8")},
      {TTextEncoding::Utf16Be, "UTF-16BE", "\xFE\xFF" + Convert(Novel, "UTF-16BE", "UTF-8")},
  };
  TempDir Dir;
  std::vector<std::vector<std::string>> Pages(std::size(Files));
  int CutInside = 0;
  for (std::size_t File = 0; File < std::size(Files); ++File) {
    const std::string Path = Dir.Write(std::string(Files[File].Name) + ".txt", Files[File].Bytes);
    TFileOffset Start = 0;
    bool StartWhole = true;
    while (Pages[File].size() < 40 && Start < static_cast<TFileOffset>(Files[File].Bytes.size())) {
      TFileOffset End = Start;
      // 30 full-width characters a line, 11 counted lines a page.
      const std::string Page = ReadPage(Path, Start, 12, 30, End, Files[File].Encoding);
      const TPageText Shown = ShownText(Path, Files[File].Encoding, Start, Page, StartWhole);
      Pages[File].push_back(Convert(Shown.Text, "UTF-8", Files[File].Name));
      CutInside += File == 0 && !Shown.EndsWhole;
      StartWhole = Shown.EndsWhole;
      Start = End;
    }
  }
  ASSERT_EQ(Pages[0].size(), 40u);
  EXPECT_GT(CutInside, 0);  // the walk met pages that end inside a character
  for (std::size_t File = 1; File < std::size(Files); ++File) {
    ASSERT_EQ(Pages[File].size(), Pages[0].size()) << Files[File].Name;
    for (std::size_t Page = 0; Page < Pages[0].size(); ++Page)
      EXPECT_EQ(Pages[File][Page], Pages[0][Page]) << Files[File].Name << " page " << Page;
  }
}

// A GB18030 page that starts on a trail byte is placed from the last byte before it that starts a
// character, however far back that is within reach: here the line break lies 6,000 bytes back,
// past the short first look, and a run of 中 (D6 D0) reads just as well from the wrong byte.
TEST(PageText, AGbPageFarFromALineBreakStillFindsItsFirstWholeCharacter) {
  TempDir Dir;
  std::string Text = "a\n";
  for (int Count = 0; Count < 5000; ++Count) Text += "\xD6\xD0";
  const std::string Path = Dir.Write("far.txt", Text);
  for (const TFileOffset Start : {TFileOffset{6003}, TFileOffset{6002}, TFileOffset{3}}) {
    const std::string Page = Text.substr(static_cast<std::size_t>(Start), 40);
    const TPageText Shown = ShownText(Path, TTextEncoding::Gb18030, Start, Page, false);
    EXPECT_EQ(Shown.From, Start % 2 ? 1u : 0u) << "page at " << Start;
  }
}
