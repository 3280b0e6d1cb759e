#include "TReadingStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <utility>
#include <vector>

namespace {

constexpr int StoreVersion = 1;

QString Q(const std::string& Text) { return QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size())); }
std::string S(const QString& Text) { return Text.toUtf8().toStdString(); }
QString FileQ(const std::string& Path) { return QFile::decodeName(QByteArray::fromStdString(Path)); }

// An XDG base folder: the variable when it holds an absolute path, else the default under the home.
std::string BaseFolder(const char* Variable, const char* UnderHome) {
  const char* Value = std::getenv(Variable);
  if (Value && *Value == '/') return Value;
  return QFile::encodeName(QDir::homePath()).toStdString() + "/" + UnderHome;
}

// A path names a file by its bytes, which need not be UTF-8: such a one is kept in base64.
void PutPath(QJsonObject& Entry, const std::string& Path) {
  const QByteArray Bytes = QByteArray::fromStdString(Path);
  const QString Text = QString::fromUtf8(Bytes);
  if (Text.toUtf8() == Bytes)
    Entry.insert(QStringLiteral("path"), Text);
  else
    Entry.insert(QStringLiteral("pathBytes"), QString::fromLatin1(Bytes.toBase64()));
}

std::string GetPath(const QJsonObject& Entry) {
  if (Entry.contains(QStringLiteral("pathBytes")))
    return QByteArray::fromBase64(Entry.value(QStringLiteral("pathBytes")).toString().toLatin1()).toStdString();
  return S(Entry.value(QStringLiteral("path")).toString());
}

QJsonObject ToJson(const std::string& Path, const TFileRecord& Record) {
  QJsonObject Entry;
  PutPath(Entry, Path);
  Entry.insert(QStringLiteral("used"), QJsonValue(static_cast<qint64>(Record.Used)));
  if (Record.Position) {
    Entry.insert(QStringLiteral("position"), QJsonValue(static_cast<qint64>(*Record.Position)));
    if (!Record.PositionChapter.empty()) Entry.insert(QStringLiteral("chapter"), Q(Record.PositionChapter));
  }
  if (!Record.Encoding.empty()) Entry.insert(QStringLiteral("encoding"), Q(Record.Encoding));
  if (!Record.ChapterRule.empty()) Entry.insert(QStringLiteral("rule"), Q(Record.ChapterRule));
  if (!Record.Bookmarks.empty()) {
    QJsonArray Marks;
    for (const TBookmark& Mark : Record.Bookmarks)
      Marks.append(QJsonObject{{QStringLiteral("offset"), QJsonValue(static_cast<qint64>(Mark.Offset))},
                               {QStringLiteral("chapter"), Q(Mark.Chapter)},
                               {QStringLiteral("excerpt"), Q(Mark.Excerpt)},
                               {QStringLiteral("added"), QJsonValue(static_cast<qint64>(Mark.Added))}});
    Entry.insert(QStringLiteral("bookmarks"), Marks);
  }
  return Entry;
}

// A record read back; entries that are not what this program writes are skipped, never trusted.
std::optional<TFileRecord> FromJson(const QJsonObject& Entry) {
  TFileRecord Record;
  Record.Used = Entry.value(QStringLiteral("used")).toInteger();
  const QJsonValue Position = Entry.value(QStringLiteral("position"));
  if (Position.isDouble() && Position.toInteger(-1) >= 0) Record.Position = Position.toInteger();
  Record.PositionChapter = S(Entry.value(QStringLiteral("chapter")).toString());
  Record.Encoding = S(Entry.value(QStringLiteral("encoding")).toString());
  Record.ChapterRule = S(Entry.value(QStringLiteral("rule")).toString());
  for (const QJsonValue& Value : Entry.value(QStringLiteral("bookmarks")).toArray()) {
    const QJsonObject Mark = Value.toObject();
    const qint64 Offset = Mark.value(QStringLiteral("offset")).toInteger(-1);
    if (Offset < 0) continue;
    Record.Bookmarks.push_back(TBookmark{Offset, S(Mark.value(QStringLiteral("chapter")).toString()),
                                         S(Mark.value(QStringLiteral("excerpt")).toString()),
                                         Mark.value(QStringLiteral("added")).toInteger()});
  }
  return Record;
}

bool Empty(const TFileRecord& Record) {
  return !Record.Position && Record.Bookmarks.empty() && Record.Encoding.empty() && Record.ChapterRule.empty();
}

// A small JSON file of the store, read whole: missing, unreadable (there but it cannot be read),
// damaged (not a JSON object) or its object.
struct TJsonFile {
  enum { Missing, Unreadable, Damaged, Read } Outcome = Missing;
  QJsonObject Root;
};

TJsonFile ReadJsonFile(const QString& Path) {
  QFile File(Path);
  // Opened first: a file another window is replacing that moment may look missing to a separate test.
  if (!File.open(QIODevice::ReadOnly)) return {File.exists() ? TJsonFile::Unreadable : TJsonFile::Missing, {}};
  const QByteArray Bytes = File.readAll();
  if (File.error() != QFileDevice::NoError) return {TJsonFile::Unreadable, {}};
  QJsonParseError Error{};
  const QJsonDocument Document = QJsonDocument::fromJson(Bytes, &Error);
  if (Error.error != QJsonParseError::NoError || !Document.isObject()) return {TJsonFile::Damaged, {}};
  return {TJsonFile::Read, Document.object()};
}

// A damaged file is kept aside for the reader to look at, and the store starts anew.
bool SetAside(const QString& Path) {
  const QString Aside = Path + QStringLiteral(".damaged");
  QFile::remove(Aside);
  return QFile::rename(Path, Aside);
}

}  // namespace

TReadingStore::TReadingStore(std::string StateFolder, std::string ConfigFolder)
    : FStateFolder(std::move(StateFolder)), FConfigFolder(std::move(ConfigFolder)) {}

TReadingStore TReadingStore::ForUser() {
  return TReadingStore(BaseFolder("XDG_STATE_HOME", ".local/state") + "/pagorin",
                       BaseFolder("XDG_CONFIG_HOME", ".config") + "/pagorin");
}

std::string TReadingStore::StateFile() const { return FStateFolder + "/reading.json"; }

std::string TReadingStore::SettingsFile() const { return FConfigFolder + "/settings.json"; }

void TReadingStore::Load() {
  ReadSettings();
  FFiles.clear();
  if (!FSettings.Remember) return;
  TFiles Files;
  if (ReadFiles(Files)) FFiles = std::move(Files);
}

void TReadingStore::Problem(const std::string& Text) {
  if (FProblem.empty() && !FProblemSaid) FProblem = Text;
}

std::string TReadingStore::TakeProblem() {
  if (FProblem.empty()) return "";
  FProblemSaid = true;
  return std::exchange(FProblem, std::string());
}

void TReadingStore::ReadSettings() {
  const QString Path = FileQ(SettingsFile());
  const TJsonFile File = ReadJsonFile(Path);
  if (File.Outcome == TJsonFile::Unreadable) {
    FSettingsBroken = true;
    Problem("无法读取设置文件，本次的设置不会保存");
    return;
  }
  if (File.Outcome == TJsonFile::Missing) return;
  if (File.Outcome == TJsonFile::Damaged) {
    if (!SetAside(Path)) FSettingsBroken = true;
    Problem("设置文件已损坏，已改名为 settings.json.damaged，设置恢复为默认");
    return;
  }
  const QJsonObject& Root = File.Root;
  TReaderSettings Kept;
  Kept.Remember = Root.value(QStringLiteral("remember")).toBool(true);
  const QJsonObject Font = Root.value(QStringLiteral("font")).toObject();
  Kept.FontName = S(Font.value(QStringLiteral("name")).toString());
  Kept.FontHeight = Font.value(QStringLiteral("height")).toInt();
  Kept.FontStyle = static_cast<unsigned>(Font.value(QStringLiteral("style")).toInt());
  Kept.ColourScheme = S(Root.value(QStringLiteral("colours")).toString());
  if (Root.contains(QStringLiteral("folder")))
    Kept.LastFolder = QByteArray::fromBase64(Root.value(QStringLiteral("folder")).toString().toLatin1()).toStdString();
  const QJsonObject Layout = Root.value(QStringLiteral("layout")).toObject();
  for (auto Field = Layout.begin(); Field != Layout.end(); ++Field)
    if (Field.value().isDouble()) Kept.PageLayout[S(Field.key())] = Field.value().toInteger();
  FSettings = Kept;
}

void TReadingStore::WriteSettings() {
  if (FSettingsBroken) return;
  QJsonObject Root{{QStringLiteral("version"), StoreVersion}, {QStringLiteral("remember"), FSettings.Remember}};
  // Turned off, the flag alone is kept: nothing else of the reader's stays behind.
  if (FSettings.Remember) {
    if (!FSettings.FontName.empty())
      Root.insert(QStringLiteral("font"), QJsonObject{{QStringLiteral("name"), Q(FSettings.FontName)},
                                                      {QStringLiteral("height"), FSettings.FontHeight},
                                                      {QStringLiteral("style"), static_cast<int>(FSettings.FontStyle)}});
    if (!FSettings.ColourScheme.empty()) Root.insert(QStringLiteral("colours"), Q(FSettings.ColourScheme));
    // A folder's name is bytes, as a file's.
    if (!FSettings.LastFolder.empty())
      Root.insert(QStringLiteral("folder"), QString::fromLatin1(QByteArray::fromStdString(FSettings.LastFolder).toBase64()));
    if (!FSettings.PageLayout.empty()) {
      QJsonObject Layout;
      for (const auto& [Name, Value] : FSettings.PageLayout) Layout.insert(Q(Name), QJsonValue(static_cast<qint64>(Value)));
      Root.insert(QStringLiteral("layout"), Layout);
    }
  }
  WriteAtomically(SettingsFile(), QJsonDocument(Root).toJson(QJsonDocument::Indented).toStdString(), "设置");
}

void TReadingStore::SetSettings(const TReaderSettings& Settings) {
  const bool Remember = FSettings.Remember;
  FSettings = Settings;
  FSettings.Remember = Remember;
  if (Remember) WriteSettings();
}

void TReadingStore::SetRemember(bool On) {
  if (On == FSettings.Remember) return;
  FSettings.Remember = On;
  if (On) {
    // Whatever another window kept meanwhile is read again; this one's settings are written.
    FStateBroken = false;
    TFiles Files;
    if (ReadFiles(Files)) FFiles = std::move(Files);
    WriteSettings();
    return;
  }
  FFiles.clear();
  QFile::remove(FileQ(StateFile()));
  QDir().rmdir(FileQ(FStateFolder));
  WriteSettings();
}

bool TReadingStore::ReadFiles(TFiles& Files) {
  const QString Path = FileQ(StateFile());
  const TJsonFile File = ReadJsonFile(Path);
  if (File.Outcome == TJsonFile::Unreadable) {
    FStateBroken = true;
    Problem("无法读取阅读记录，本次的阅读位置和书签不会保存");
    return false;
  }
  if (File.Outcome == TJsonFile::Missing) return true;
  const QJsonObject& Root = File.Root;
  if (File.Outcome == TJsonFile::Damaged || Root.value(QStringLiteral("version")).toInt() != StoreVersion ||
      !Root.value(QStringLiteral("files")).isArray()) {
    if (!SetAside(Path)) {
      FStateBroken = true;
      Problem("阅读记录已损坏，本次的阅读位置和书签不会保存");
      return false;
    }
    Problem("阅读记录已损坏，已改名为 reading.json.damaged，重新开始记录");
    return true;
  }
  for (const QJsonValue& Value : Root.value(QStringLiteral("files")).toArray()) {
    const QJsonObject Entry = Value.toObject();
    const std::string FilePath = GetPath(Entry);
    if (FilePath.empty()) continue;
    if (std::optional<TFileRecord> Record = FromJson(Entry)) Files[FilePath] = std::move(*Record);
  }
  return true;
}

bool TReadingStore::WriteFiles(const TFiles& Files) {
  QJsonArray Entries;
  for (const auto& [Path, Record] : Files) Entries.append(ToJson(Path, Record));
  const QJsonObject Root{{QStringLiteral("version"), StoreVersion}, {QStringLiteral("files"), Entries}};
  return WriteAtomically(StateFile(), QJsonDocument(Root).toJson(QJsonDocument::Compact).toStdString(), "阅读记录");
}

bool TReadingStore::WriteAtomically(const std::string& Path, const std::string& Bytes, const std::string& What) {
  const QString Target = FileQ(Path);
  QDir().mkpath(QFileInfo(Target).absolutePath());
  QSaveFile File(Target);
  bool Written = File.open(QIODevice::WriteOnly) &&
                 File.write(Bytes.data(), static_cast<qint64>(Bytes.size())) == static_cast<qint64>(Bytes.size()) &&
                 File.flush();
  if (Written && BeforeRename) BeforeRename();
  Written = Written && File.commit();
  if (!Written) {
    const QFileDevice::FileError Error = File.error();
    File.cancelWriting();
    Problem("无法保存" + What + "（" +
            (Error == QFileDevice::OpenError || Error == QFileDevice::PermissionsError
                 ? std::string("文件夹不可写")
                 : std::string("写入失败，磁盘可能已满")) +
            "），原有的记录未受影响");
  }
  return Written;
}

std::optional<TFileRecord> TReadingStore::Record(const std::string& Path) const {
  const auto Found = FFiles.find(Path);
  if (Found == FFiles.end()) return std::nullopt;
  return Found->second;
}

void TReadingStore::Update(const std::string& Path, const std::function<void(TFileRecord&)>& Change) {
  const auto Apply = [&](TFiles& Files) {
    TFileRecord& Record = Files[Path];
    Change(Record);
    Record.Used = QDateTime::currentMSecsSinceEpoch();
    if (Empty(Record)) Files.erase(Path);
    // The bound: the files kept longest ago go first.
    while (Files.size() > MaxFiles) {
      const auto Oldest = std::min_element(Files.begin(), Files.end(), [](const auto& A, const auto& B) {
        return A.second.Used < B.second.Used;
      });
      Files.erase(Oldest);
    }
  };
  ChangeFiles(Apply);
}

void TReadingStore::ChangeFiles(const std::function<void(TFiles&)>& Change) {
  // What another window kept since is read first, and only this change is made to it; where the store
  // cannot be read or written the change holds for this run alone.
  TFiles Files;
  if (!CanWrite() || !ReadFiles(Files)) return Change(FFiles);
  Change(Files);
  if (WriteFiles(Files))
    FFiles = std::move(Files);
  else
    Change(FFiles);
}

void TReadingStore::ClearReading() {
  const auto Clear = [](TFiles& Files) {
    for (auto Entry = Files.begin(); Entry != Files.end();) {
      Entry->second.Position.reset();
      Entry->second.PositionChapter.clear();
      Entry->second.Bookmarks.clear();
      Entry = Empty(Entry->second) ? Files.erase(Entry) : std::next(Entry);
    }
  };
  ChangeFiles(Clear);
}
