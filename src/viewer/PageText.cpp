#include "PageText.h"

#include "ReadPage.h"

TPageText ShownText(const std::string& FileName, TTextEncoding Encoding, TFileOffset PageStart, const std::string& Page,
                    bool StartWhole) {
  std::string LookBack;
  if (const std::size_t Needed = StartWhole ? 0 : LookBackNeeded(Encoding, PageStart, Page); Needed > 0) {
    LookBack = ReadBytes(FileName, PageStart - static_cast<TFileOffset>(Needed), Needed);
    if (LookBack.size() != Needed) LookBack.clear();  // the file changed under us: no look-back
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
