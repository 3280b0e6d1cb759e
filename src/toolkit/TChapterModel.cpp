#include "TChapterModel.h"

#include "TChapterIndex.h"

#include <QFont>

#include <algorithm>

namespace {

// ASCII only, as the titles are UTF-8: no byte of a wider character is a Latin letter.
char Lower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

std::string Lower(std::string_view Text) {
  std::string Out(Text);
  std::transform(Out.begin(), Out.end(), Out.begin(), [](char C) { return Lower(C); });
  return Out;
}

// A top row's id; a chapter under a volume has its volume's number + 1.
constexpr quintptr TopRow = 0;

}  // namespace

TChapterModel::TChapterModel(const TChapterIndex& Chapters, QObject* Parent)
    : QAbstractItemModel(Parent), FChapters(Chapters), FGeneration(Chapters.Generation()) {}

std::size_t TChapterModel::ChildCount(std::size_t Volume) const {
  const std::size_t End = Volume + 1 < FVolumes.size() ? FVolumes[Volume + 1] : Listed();
  return End - FVolumes[Volume] - 1;
}

std::size_t TChapterModel::PositionOf(const QModelIndex& Index) const {
  const auto Row = static_cast<std::size_t>(Index.row());
  if (Index.internalId() != TopRow) return FVolumes[Index.internalId() - 1] + 1 + Row;
  return Row < Loose() ? Row : FVolumes[Row - Loose()];
}

QModelIndex TChapterModel::IndexAt(std::size_t Position) const {
  const auto After = std::upper_bound(FVolumes.begin(), FVolumes.end(), Position);
  if (After == FVolumes.begin()) return createIndex(static_cast<int>(Position), 0, TopRow);
  const auto Volume = static_cast<std::size_t>(After - FVolumes.begin() - 1);
  if (FVolumes[Volume] == Position) return createIndex(static_cast<int>(Loose() + Volume), 0, TopRow);
  return createIndex(static_cast<int>(Position - FVolumes[Volume] - 1), 0, static_cast<quintptr>(Volume + 1));
}

QModelIndex TChapterModel::index(int Row, int Column, const QModelIndex& Parent) const {
  if (Row < 0 || Column != 0) return {};
  if (!Parent.isValid()) return Row < rowCount() ? createIndex(Row, 0, TopRow) : QModelIndex();
  if (Parent.internalId() != TopRow || static_cast<std::size_t>(Parent.row()) < Loose()) return {};
  const std::size_t Volume = static_cast<std::size_t>(Parent.row()) - Loose();
  if (Volume >= FVolumes.size() || static_cast<std::size_t>(Row) >= ChildCount(Volume)) return {};
  return createIndex(Row, 0, static_cast<quintptr>(Volume + 1));
}

QModelIndex TChapterModel::parent(const QModelIndex& Child) const {
  if (!Child.isValid() || Child.internalId() == TopRow) return {};
  return createIndex(static_cast<int>(Loose() + Child.internalId() - 1), 0, TopRow);
}

int TChapterModel::rowCount(const QModelIndex& Parent) const {
  if (!Parent.isValid()) return static_cast<int>(Loose() + FVolumes.size());
  if (Parent.column() != 0 || Parent.internalId() != TopRow || static_cast<std::size_t>(Parent.row()) < Loose())
    return 0;
  return static_cast<int>(ChildCount(static_cast<std::size_t>(Parent.row()) - Loose()));
}

int TChapterModel::columnCount(const QModelIndex&) const { return 1; }

Qt::ItemFlags TChapterModel::flags(const QModelIndex& Index) const {
  if (!Index.isValid()) return Qt::NoItemFlags;
  const bool Volume = Index.internalId() == TopRow && static_cast<std::size_t>(Index.row()) >= Loose();
  // A chapter never has rows under it: the view need not ask.
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | (Volume ? Qt::NoItemFlags : Qt::ItemNeverHasChildren);
}

QVariant TChapterModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid()) return {};
  const std::size_t Chapter = ChapterOf(Index);
  // Rows of headings the engine has forgotten meanwhile are blank until Follow drops them.
  if (FChapters.Generation() != FGeneration || Chapter >= FChapters.Count()) return {};
  if (Role == Qt::DisplayRole) {
    const std::string_view Title = FChapters.Title(Chapter);
    return QString::fromUtf8(Title.data(), static_cast<qsizetype>(Title.size()));
  }
  if (Role == Qt::FontRole && Chapter == FCurrent) {
    QFont Bold;
    Bold.setBold(true);
    return Bold;
  }
  return {};
}

std::size_t TChapterModel::ChapterOf(const QModelIndex& Index) const { return HeadingAt(PositionOf(Index)); }

QModelIndex TChapterModel::IndexOf(std::size_t Chapter) const {
  if (Chapter >= FSeen) return {};
  if (FFilter.empty()) return Chapter < FListed ? IndexAt(Chapter) : QModelIndex();
  const auto At = std::lower_bound(FRows.begin(), FRows.end(), Chapter);
  if (At == FRows.end() || *At != Chapter) return {};
  return IndexAt(static_cast<std::size_t>(At - FRows.begin()));
}

QModelIndex TChapterModel::FirstPassing() const {
  for (std::size_t Position = 0; Position < Listed(); ++Position)
    if (FFilter.empty() || Passes(HeadingAt(Position))) return IndexAt(Position);
  return {};
}

std::vector<QModelIndex> TChapterModel::VolumeRows() const {
  std::vector<QModelIndex> Rows;
  for (std::size_t Volume = 0; Volume < FVolumes.size(); ++Volume)
    Rows.push_back(createIndex(static_cast<int>(Loose() + Volume), 0, TopRow));
  return Rows;
}

void TChapterModel::Follow() {
  if (FChapters.Generation() != FGeneration) {
    beginResetModel();
    FGeneration = FChapters.Generation();
    FSeen = FListed = 0;
    FRows.clear();
    FVolumes.clear();
    FSiftVolume.reset();
    endResetModel();
  }
  const std::size_t Count = FChapters.Count();
  if (Count <= FSeen) return;
  std::vector<std::size_t> NewVolumes;
  std::vector<std::uint32_t> Passing;
  std::size_t Added = 0;
  if (FFilter.empty()) {
    const std::vector<std::size_t>& Volumes = FChapters.Volumes();
    for (auto At = std::lower_bound(Volumes.begin(), Volumes.end(), FSeen); At != Volumes.end() && *At < Count; ++At)
      NewVolumes.push_back(*At);
    Added = Count - FSeen;
  } else {
    for (std::size_t Chapter = FSeen; Chapter < Count; ++Chapter) Sift(Chapter, NewVolumes, Passing);
    Added = Passing.size();
  }
  FSeen = Count;
  Grow(Added, NewVolumes, Passing);
}

void TChapterModel::Grow(std::size_t Added, const std::vector<std::size_t>& NewVolumes,
                         const std::vector<std::uint32_t>& Passing) {
  if (Added == 0) return;
  const std::size_t Old = Listed();
  const auto ListUpTo = [&](std::size_t End) {
    if (FFilter.empty())
      FListed = End;
    else
      FRows.insert(FRows.end(), Passing.begin() + static_cast<std::ptrdiff_t>(FRows.size() - Old),
                   Passing.begin() + static_cast<std::ptrdiff_t>(End - Old));
  };
  // The headings before the first new volume: chapters of the last volume, or top rows while there is none.
  const std::size_t Before = NewVolumes.empty() ? Old + Added : NewVolumes.front();
  if (Before > Old) {
    const bool Top = FVolumes.empty();
    const QModelIndex Parent = Top ? QModelIndex() : createIndex(static_cast<int>(Loose() + FVolumes.size() - 1), 0, TopRow);
    const auto First = static_cast<int>(Top ? Old : ChildCount(FVolumes.size() - 1));
    beginInsertRows(Parent, First, First + static_cast<int>(Before - Old) - 1);
    ListUpTo(Before);
    endInsertRows();
  }
  if (!NewVolumes.empty()) {
    // The new volumes come in with their chapters under them.
    const auto First = static_cast<int>(Loose() + FVolumes.size());
    beginInsertRows({}, First, First + static_cast<int>(NewVolumes.size()) - 1);
    FVolumes.insert(FVolumes.end(), NewVolumes.begin(), NewVolumes.end());
    ListUpTo(Old + Added);
    endInsertRows();
  }
}

void TChapterModel::Sift(std::size_t Chapter, std::vector<std::size_t>& NewVolumes, std::vector<std::uint32_t>& Passing) {
  const auto List = [&](std::size_t Heading, bool Volume) {
    if (Volume) NewVolumes.push_back(FRows.size() + Passing.size());
    Passing.push_back(static_cast<std::uint32_t>(Heading));
  };
  if (FChapters.Level(Chapter) == 0) {
    FSiftVolume = Chapter;
    FSiftVolumePasses = FSiftVolumeListed = Passes(Chapter);
    if (FSiftVolumePasses) List(Chapter, true);
    return;
  }
  if (!FSiftVolumePasses && !Passes(Chapter)) return;
  // A chapter shows under its volume: the volume comes in with its first chapter that passes.
  if (FSiftVolume && !FSiftVolumeListed) {
    List(*FSiftVolume, true);
    FSiftVolumeListed = true;
  }
  List(Chapter, false);
}

void TChapterModel::SetFilter(const std::string& Text) {
  beginResetModel();
  if (FChapters.Generation() != FGeneration) {  // Follow takes the new list
    FGeneration = FChapters.Generation();
    FSeen = 0;
  }
  FFilter = Lower(Text);
  FRows.clear();
  FVolumes.clear();
  FSiftVolume.reset();
  FSiftVolumePasses = FSiftVolumeListed = false;
  if (FFilter.empty()) {
    FListed = FSeen;
    const std::vector<std::size_t>& Volumes = FChapters.Volumes();
    FVolumes.assign(Volumes.begin(), std::lower_bound(Volumes.begin(), Volumes.end(), FSeen));
  } else {
    std::vector<std::uint32_t> Passing;
    for (std::size_t Chapter = 0; Chapter < FSeen; ++Chapter) Sift(Chapter, FVolumes, Passing);
    FRows = std::move(Passing);
  }
  endResetModel();
}

void TChapterModel::SetCurrent(std::optional<std::size_t> Chapter) {
  const std::optional<std::size_t> Old = FCurrent;
  FCurrent = Chapter;
  for (const std::optional<std::size_t>& Changed : {Old, Chapter})
    if (Changed)
      if (const QModelIndex Row = IndexOf(*Changed); Row.isValid()) emit dataChanged(Row, Row, {Qt::FontRole});
}

// Compared in place: a filter over a million titles makes no copy of any.
bool TChapterModel::Passes(std::size_t Chapter) const {
  const std::string_view Title = FChapters.Title(Chapter);
  return std::search(Title.begin(), Title.end(), FFilter.begin(), FFilter.end(),
                     [](char InTitle, char InFilter) { return Lower(InTitle) == InFilter; }) != Title.end();
}
