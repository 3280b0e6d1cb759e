#include "TOpenDialog.h"

#include "TFileTypeByName.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QScopeGuard>
#include <QSettings>
#include <QTimer>

namespace {

// Qt's file dialog adds the default extension to every name without one. Here a name that already
// names an existing file as it stands is taken as it is: many text files on this platform have no
// extension at all, and "novel" must open the file "novel", not fail looking for "novel.txt".
class TFileChooser : public QFileDialog {
public:
  using QFileDialog::QFileDialog;

protected:
  void accept() override {
    const QString Suffix = defaultSuffix();
    QStringList Files = selectedFiles();
    if (!Suffix.isEmpty() && !NamesAFile(Files)) {
      setDefaultSuffix(QString());
      const QStringList AsTyped = selectedFiles();
      setDefaultSuffix(Suffix);
      // A FIFO or a device typed by name is that thing, not a missing "name.txt".
      if (NamesAFile(AsTyped) || NamesSpecialFile(AsTyped)) {
        setDefaultSuffix(QString());
        Files = AsTyped;
      }
    }
    if (NamesSpecialFile(Files)) {
      setDefaultSuffix(Suffix);
      QMessageBox::warning(this, windowTitle(),
                           QStringLiteral("%1\n不是普通文件，不能作为文本打开。").arg(QDir::toNativeSeparators(Files.first())));
      return;
    }
    QFileDialog::accept();
  }

private:
  static bool NamesAFile(const QStringList& Files) { return Files.size() == 1 && QFileInfo(Files.first()).isFile(); }
  // Only a regular file has pages: a FIFO, a device or a socket would block or never end.
  static bool NamesSpecialFile(const QStringList& Files) {
    if (Files.size() != 1) return false;
    const QFileInfo Info(Files.first());
    return Info.exists() && !Info.isFile() && !Info.isDir();
  }
};

// The detail view's size and date columns in the program's language. Qt writes them in the
// language of the user's locale ("3 bytes", "9 Dec"), which need not be the program's.
class TDetailsInProgramLocale : public QIdentityProxyModel {
public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& Index, int Role) const override {
    enum { SizeColumn = 1, DateColumn = 3 };
    auto* Files = qobject_cast<QFileSystemModel*>(sourceModel());
    if (!Files || Role != Qt::DisplayRole || (Index.column() != SizeColumn && Index.column() != DateColumn))
      return QIdentityProxyModel::data(Index, Role);
    const QModelIndex Source = mapToSource(Index);
    if (Index.column() == DateColumn) return QLocale().toString(Files->lastModified(Source), QLocale::ShortFormat);
    if (Files->isDir(Source)) return QIdentityProxyModel::data(Index, Role);
    return QLocale().formattedDataSize(Files->size(Source));
  }
};

}  // namespace

QStringList TOpenDialog::NameFilters(const std::string& Filter) {
  const QStringList Parts = QString::fromStdString(Filter).split(QLatin1Char('|'));
  QStringList Filters;
  for (qsizetype Index = 0; Index + 1 < Parts.size(); Index += 2) {
    QStringList Patterns = Parts[Index + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& Pattern : Patterns) {
      Pattern = Pattern.trimmed();
      // "*.*" means every file, also one without a dot in its name, which Qt's "*.*" would miss.
      if (Pattern == QStringLiteral("*.*")) Pattern = QStringLiteral("*");
    }
    Filters << Parts[Index] + QStringLiteral(" (") + Patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return Filters;
}

// Qt's file dialog does its settings work as it is destroyed (see KeepQtSettingsAway) and lets its
// file system model's threads go: not in the middle of opening the chosen file. A finished dialog is
// therefore destroyed after its owner's window has next painted (the chosen file shown), a second at
// the latest, or at the next run. Its icon provider goes after it.
class TOpenDialog::TFinished : public QObject {
public:
  TFinished() {
    for (QTimer* Timer : {&FAfterPaint, &FAtTheLatest}) {
      Timer->setSingleShot(true);
      connect(Timer, &QTimer::timeout, this, &TFinished::Dispose);
    }
    FAfterPaint.setInterval(0);
    FAtTheLatest.setInterval(1000);
  }
  ~TFinished() override { Dispose(); }

  void Hold(std::unique_ptr<QFileDialog> Dialog, std::unique_ptr<TFileTypeByName> TypeByName, QWidget* Owner) {
    Dispose();
    FDialog = Dialog.release();
    FTypeByName = std::move(TypeByName);
    FWindow = Owner ? Owner->window() : nullptr;
    if (FWindow) FWindow->installEventFilter(this);
    FAtTheLatest.start();
  }

  void Dispose() {
    if (FWindow) FWindow->removeEventFilter(this);
    FWindow = nullptr;
    FAfterPaint.stop();
    FAtTheLatest.stop();
    delete FDialog.data(); // unless its owner went first
    FDialog = nullptr;
    FTypeByName.reset();
  }

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    // The window is painting; a zero timer started now fires once the whole pass is done.
    if (Watched == FWindow && Event->type() == QEvent::Paint) FAfterPaint.start();
    return false;
  }

private:
  QPointer<QFileDialog> FDialog;
  std::unique_ptr<TFileTypeByName> FTypeByName;
  QPointer<QWidget> FWindow;
  QTimer FAfterPaint;
  QTimer FAtTheLatest;
};

TOpenDialog::TOpenDialog() = default;
TOpenDialog::TOpenDialog(TOpenDialog&&) noexcept = default;
TOpenDialog& TOpenDialog::operator=(TOpenDialog&&) noexcept = default;
TOpenDialog::~TOpenDialog() = default;

// Qt's file dialog keeps its history, view and last folder in the user's settings
// (~/.config/QtProject.conf), read when it is made and written when it is destroyed, whatever the
// program wants. The program keeps the reader's last folder itself, and nothing at all when he asks
// it to remember nothing: Qt's per-user settings are pointed at a folder that can never be made (a
// folder inside /dev/null), so the dialog starts from its defaults and its write goes nowhere. The
// program itself keeps nothing in Qt's settings.
static void KeepQtSettingsAway() {
  static const bool Done = [] {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null/pagorin"));
    return true;
  }();
  (void)Done;
}

bool TOpenDialog::Execute(QWidget* Owner) {
  KeepQtSettingsAway();
  if (!FFinished) FFinished = std::make_unique<TFinished>();
  FFinished->Dispose();
  auto TypeByName = std::make_unique<TFileTypeByName>(); // outlives the dialog, whose file list uses it to the end
  auto Chooser = std::make_unique<TFileChooser>(Owner);
  TFileChooser& Dialog = *Chooser;
  const auto Finish = qScopeGuard([&] { FFinished->Hold(std::move(Chooser), std::move(TypeByName), Owner); });
  Dialog.setIconProvider(TypeByName.get());
  Dialog.setOption(QFileDialog::DontUseNativeDialog);
  Dialog.setProxyModel(new TDetailsInProgramLocale(&Dialog));
  // The list shows each description as written; the patterns are already part of it.
  Dialog.setOption(QFileDialog::HideNameFilterDetails);
  Dialog.setAcceptMode(QFileDialog::AcceptOpen);
  Dialog.setFileMode(QFileDialog::ExistingFile);
  Dialog.setWindowModality(Qt::ApplicationModal);
  if (!Title.empty()) Dialog.setWindowTitle(QString::fromStdString(Title));
  Dialog.setDefaultSuffix(QString::fromStdString(DefaultExt));

  const QStringList Filters = NameFilters(Filter);
  if (!Filters.isEmpty()) {
    Dialog.setNameFilters(Filters);
    if (FilterIndex >= 1 && FilterIndex <= Filters.size()) Dialog.selectNameFilter(Filters[FilterIndex - 1]);
  }

  // Start where the current file is, with its name filled in; without a folder in it, in InitialDir.
  const QFileInfo Current(QFile::decodeName(QByteArray::fromStdString(FileName)));
  const bool NamesAFolder = FileName.find('/') != std::string::npos;
  if (NamesAFolder)
    Dialog.setDirectory(Current.absolutePath());
  else if (!InitialDir.empty())
    Dialog.setDirectory(QFile::decodeName(QByteArray::fromStdString(InitialDir)));
  if (!FileName.empty()) Dialog.selectFile(Current.fileName());

  if (Dialog.exec() != QDialog::Accepted) return false;
  const QStringList Chosen = Dialog.selectedFiles();
  if (Chosen.isEmpty()) return false;
  FileName = QFile::encodeName(QDir::cleanPath(QFileInfo(Chosen.first()).absoluteFilePath())).toStdString();
  // With the details hidden, the dialog names the selected filter by its description alone.
  const QString Selected = Dialog.selectedNameFilter();
  for (qsizetype Index = 0; Index < Filters.size(); ++Index) {
    if (Filters[Index] == Selected || Filters[Index].startsWith(Selected + QStringLiteral(" ("))) {
      FilterIndex = static_cast<int>(Index) + 1;
      break;
    }
  }
  return true;
}
