#pragma once

#include <QAbstractItemModel>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TChapterIndex;

// The table of contents' rows over the engine's headings, never copied out of it: a million rows at
// once. Volumes (第一卷) are rows at the top with their chapters under them; chapters before the first
// volume, and all of a book without volumes, are rows at the top. The headings listed are every one
// found, or those the filter lets pass (the text in a title, Latin letters in either case): a chapter
// that passes, under its volume, and a volume that passes, with all its chapters. It follows the
// engine's list as it grows; a list replaced is taken anew.
class TChapterModel : public QAbstractItemModel {
public:
  TChapterModel(const TChapterIndex& Chapters, QObject* Parent);

  QModelIndex index(int Row, int Column, const QModelIndex& Parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& Child) const override;
  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  Qt::ItemFlags flags(const QModelIndex& Index) const override;

  // The heading a row stands for, and the row of a heading (none when it is not listed).
  std::size_t ChapterOf(const QModelIndex& Index) const;
  QModelIndex IndexOf(std::size_t Chapter) const;
  // The first row whose own title passes the filter (a volume listed for its chapters does not).
  QModelIndex FirstPassing() const;
  // The rows of the volumes listed, in order.
  std::vector<QModelIndex> VolumeRows() const;
  bool HasVolumes() const { return !FVolumes.empty(); }

  // New headings become rows; a list that was replaced is taken anew, the filter's rows with it.
  void Follow();
  void SetFilter(const std::string& Text);
  // Shows Chapter's row in bold, and the row of the one before plain again.
  void SetCurrent(std::optional<std::size_t> Chapter);

private:
  // Rows stand for positions in the list of headings shown: position P is heading P when no filter is
  // set, else FRows[P]. The volumes are the positions FVolumes; the top rows are the positions before
  // the first volume, then the volumes; a volume's chapters are the positions up to the next.
  std::size_t Listed() const { return FFilter.empty() ? FListed : FRows.size(); }
  std::size_t HeadingAt(std::size_t Position) const { return FFilter.empty() ? Position : FRows[Position]; }
  std::size_t Loose() const { return FVolumes.empty() ? Listed() : FVolumes.front(); }
  std::size_t ChildCount(std::size_t Volume) const;
  std::size_t PositionOf(const QModelIndex& Index) const;
  QModelIndex IndexAt(std::size_t Position) const;
  // Lists the headings Listed() more, NewVolumes (positions) among them, with Passing as their headings
  // when a filter is set, telling the view: the chapters of the last volume first, then the new volumes.
  void Grow(std::size_t Added, const std::vector<std::size_t>& NewVolumes, const std::vector<std::uint32_t>& Passing);
  // Adds heading Chapter to Passing (and its volume before it, when not listed yet) if the filter lets it.
  void Sift(std::size_t Chapter, std::vector<std::size_t>& NewVolumes, std::vector<std::uint32_t>& Passing);
  bool Passes(std::size_t Chapter) const;

  const TChapterIndex& FChapters;
  unsigned FGeneration;           // the engine's list the rows stand for
  std::size_t FSeen = 0;          // headings taken so far
  std::size_t FListed = 0;        // positions listed, without a filter
  std::string FFilter;            // lower case
  std::vector<std::uint32_t> FRows;      // with a filter: the headings listed
  std::vector<std::size_t> FVolumes;     // the positions of the volumes listed
  // With a filter, the volume of the headings being sifted: whether it passes, and whether it is listed.
  std::optional<std::size_t> FSiftVolume;
  bool FSiftVolumePasses = false;
  bool FSiftVolumeListed = false;
  std::optional<std::size_t> FCurrent;
};
