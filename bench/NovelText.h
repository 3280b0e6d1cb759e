#pragma once

#include "FileOffset.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An endless stream of novel-like GBK text: chapter headings, paragraphs indented with two full-width
// spaces, sentences of common Chinese characters with full-width punctuation, now and then a
// character from the GBK extension (whose trail byte can fall in the ASCII range), lines of very
// different lengths (many longer than a screen line, so they wrap) ending in CR LF, and blank lines
// between some paragraphs. The same seed always gives the same bytes.
class TNovelText {
public:
  explicit TNovelText(std::uint64_t Seed);

  // Writes the next Count bytes of the stream to Out. Consecutive calls hand out consecutive bytes,
  // so a character may be split between two of them.
  void Fill(char* Out, std::size_t Count);

  // True when the bytes handed out so far end with a whole character (no lead byte waits for its trail).
  bool EndsOnCharacter() const;

private:
  std::uint64_t Next();
  std::uint64_t Below(std::uint64_t Bound) { return Next() % Bound; }
  void AppendCharacter();
  void AppendSentence();
  void AppendParagraph();

  std::uint64_t FState;
  std::int64_t FParagraphs = 0;
  std::int64_t FChapter = 1;
  std::string FPending;        // generated but not yet handed out
  std::size_t FPendingAt = 0;  // how much of FPending has been handed out
};

// A stretch of a file that holds text; the rest of a sparse file is a hole.
struct TTextRegion {
  TFileOffset Offset = 0;
  TFileOffset Length = 0;
};

// Creates (or replaces) FileName with exactly Size bytes. With no regions, every byte is text. With
// regions, the file is sized with ftruncate and only the regions are written, so a file of several
// GiB takes a few MB of disk; its holes read as zero bytes. Each region starts a fresh paragraph.
// Throws std::runtime_error when the file cannot be made.
void WriteNovelFile(const std::string& FileName, TFileOffset Size, const std::vector<TTextRegion>& Regions,
                    std::uint64_t Seed = 1);

// Bytes the file really occupies on disk (st_blocks), to show that a huge file stayed sparse.
TFileOffset AllocatedBytes(const std::string& FileName);
