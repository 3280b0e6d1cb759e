#include "PageText.h"

#include "ReadPage.h"

#include <algorithm>

namespace {
constexpr std::size_t ShortLookBack = 4096;
}  // namespace

TPageText ShownText(const std::string& FileName, TTextEncoding Encoding, TFileOffset PageStart, const std::string& Page,
                    bool StartWhole) {
  std::string LookBack;
  if (const std::size_t Needed = StartWhole ? 0 : LookBackNeeded(Encoding, PageStart, Page); Needed > 0) {
    // A line break or a space is seldom far before a page: a short look settles nearly every page,
    // and the whole reach is read only when it does not.
    const auto Read = [&](std::size_t Count) {
      LookBack = ReadBytes(FileName, PageStart - static_cast<TFileOffset>(Count), Count);
      if (LookBack.size() != Count) LookBack.clear();  // the file changed under us: no look-back
    };
    Read(std::min(Needed, ShortLookBack));
    if (Needed > ShortLookBack && !LookBackSettles(Encoding, LookBack)) Read(Needed);
  }
  const TWholeCharacters Whole = WholeCharacters(Encoding, PageStart, LookBack, Page);
  TPageText Shown{Page.substr(Whole.From, Whole.To - Whole.From), Whole.From, !Page.empty() && Whole.To == Page.size()};
  if (Whole.To < Page.size()) {
    const std::string Tail = ReadBytes(FileName, PageStart + static_cast<TFileOffset>(Page.size()), 3);
    for (std::size_t Taken = 1; Taken <= Tail.size(); ++Taken) {
      const std::string Finished = Page + Tail.substr(0, Taken);
      if (WholeCharacters(Encoding, PageStart, LookBack, Finished).To == Finished.size()) {
        Shown.Text = Finished.substr(Whole.From);
        break;
      }
    }
  }
  return Shown;
}
