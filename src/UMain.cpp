#include "UMain.h"

#include "Beep.h"
#include "CodePage.h"
#include "ProgramResources.h"
#include "TChapterWindow.h"
#include "TElidedLabel.h"
#include "TFindBar.h"
#include "TGoToDialog.h"
#include "TMemo.h"
#include "TScrollBar.h"
#include "TStatusBar.h"
#include "TToolBar.h"
#include "UAboutBox.h"
#include "WebAddress.h"
#include "ui_UMain.h"

#include <QActionGroup>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>

#include <filesystem>

TFrmMain* FrmMain = nullptr;

namespace {

// Virtual-key codes of the keys that turn pages.
constexpr std::uint16_t VK_CONTROL = 17;
constexpr std::uint16_t VK_ESCAPE = 27;
constexpr std::uint16_t VK_SPACE = 32;
constexpr std::uint16_t VK_PRIOR = 33;  // Page Up
constexpr std::uint16_t VK_NEXT = 34;   // Page Down

// Night mode: light text on a dark ground, both a little warm, easy on the eyes in the dark.
const QColor NightText(0xC8, 0xC3, 0xB6);
const QColor NightGround(0x1E, 0x1E, 0x1C);

// Bytes in the code page for a text written here; panels and the text area hold such bytes.
std::string Ansi(const std::string& Text) { return TCodePage::Ansi().Encode(QString::fromStdString(Text)); }

TFont SimSun(int Height) {
  TFont Font;
  Font.Name = "宋体";
  Font.Height = Height;
  Font.Charset = ANSI_CHARSET;
  return Font;
}

std::array<QIcon, 2> LoadGlyphs() {
  RegisterProgramResources();
  return {QIcon(QStringLiteral(":/pagorin/ArrowUp.xpm")), QIcon(QStringLiteral(":/pagorin/ArrowDown.xpm"))};
}

}  // namespace

TFrmMain::TFrmMain() : ImageList1(LoadGlyphs()) {
  // The form definition makes the controls, owned by this window; the members keep them by name.
  Ui::TFrmMain Form;
  Form.setupUi(this);
  StsBar = Form.StsBar;
  MainMnu = Form.MainMnu;
  MnuFile = Form.MnuFile;
  MnuOpen = Form.MnuOpen;
  N1 = MnuFile->actions().at(1);
  MnuExit = Form.MnuExit;
  MnuEdit = Form.MnuEdit;
  MnuCopy = Form.MnuCopy;
  MnuSelectAll = Form.MnuSelectAll;
  N4 = MnuEdit->actions().at(2);
  MnuFind = Form.MnuFind;
  MnuFindNext = Form.MnuFindNext;
  MnuFindPrevious = Form.MnuFindPrevious;
  MnuGo = Form.MnuGo;
  MnuGoTo = Form.MnuGoTo;
  N5 = MnuGo->actions().at(1);
  MnuContents = Form.MnuContents;
  MnuPreviousChapter = Form.MnuPreviousChapter;
  MnuNextChapter = Form.MnuNextChapter;
  Memo = Form.Memo;
  SclBar = Form.SclBar;
  ToolBar = Form.ToolBar;
  TBUp = Form.TBUp;
  TBDown = Form.TBDown;
  MnuSetup = Form.MnuSetup;
  MnuFontSetup = Form.MnuFontSetup;
  MnuEncoding = Form.MnuEncoding;
  MnuEncodingAuto = Form.MnuEncodingAuto;
  N3 = MnuEncoding->actions().at(1);
  for (const TEncodingRules& Rules : Encodings()) {
    QAction* Item = MnuEncoding->addAction(QString::fromUtf8(Rules.MenuName));
    Item->setCheckable(true);
    Form.EncodingGroup->addAction(Item);
    MnuEncodings.push_back(Item);
  }
  N6 = MnuSetup->actions().at(2);
  MnuFullScreen = Form.MnuFullScreen;
  MnuNightMode = Form.MnuNightMode;
  MnuHelp = Form.MnuHelp;
  MnuAbout = Form.MnuAbout;
  N2 = MnuHelp->actions().at(1);
  MnuWeb = Form.MnuWeb;
  SetupForm();
  BindEvents();
}

void TFrmMain::SetupForm() {
  SetPosition(poDesktopCenter);
  SetWindowState(wsMaximized);
  setFont(SimSun(-12).ToQFont());

  Memo->SetFont(SimSun(-14));
  Memo->SetText(Ansi("请打开文件...\r\n\r\n"));

  StsBar->AddPanel(50, Ansi("就绪"));
  StsBar->AddPanel(200, "");
  StsBar->AddPanel(50, Ansi("Pagorin 开发组 出品"));

  TBUp->setIcon(ImageList1[0]);
  TBDown->setIcon(ImageList1[1]);
  // A fixed width: a new share redraws the label alone and never moves the tool bar's layout.
  LblWhere = new QLabel(ToolBar);
  const QFontMetrics Metrics(LblWhere->font());
  LblWhere->setFixedSize(Metrics.horizontalAdvance(QStringLiteral("100.0%")) + 16, Metrics.height() + 4);
  LblWhere->setAlignment(Qt::AlignCenter);
  // A screen reader reads each label's text as its name; the description says what the text is.
  LblWhere->setAccessibleDescription(QStringLiteral("本页在文件中的位置"));
  ToolBar->addWidget(LblWhere);
  // Room for a volume's title and a chapter's, 28 characters, which give way to the find bar in a
  // narrow window.
  LblChapter = new TElidedLabel(Metrics.horizontalAdvance(QString(28, QChar(0x7AE0))), ToolBar);
  LblChapter->setAccessibleDescription(QStringLiteral("本页所在的章节"));
  ToolBar->addWidget(LblChapter);
  FindBar = new TFindBar(ToolBar);
  FindBarShown = ToolBar->addWidget(FindBar);
  FindBarShown->setVisible(false);

  ChapterWin = new TChapterWindow(Viewer.Chapters, this);
  ChapterWin->ShowRules(Viewer.ChapterRules, Viewer.ChapterRule, Viewer.ChapterRuleInUse());

  OpenDlg.Filter = "文本文件(*.Txt)|*.txt|所有文件(*.*)|*.*";
  OpenDlg.DefaultExt = "txt";
}

void TFrmMain::BindEvents() {
  connect(MnuOpen, &QAction::triggered, this, [this] { MnuOpenClick(MnuOpen); });
  connect(MnuExit, &QAction::triggered, this, [this] { MnuExitClick(MnuExit); });
  connect(MnuFontSetup, &QAction::triggered, this, [this] { MnuFontSetupClick(MnuFontSetup); });
  std::vector<QAction*> EncodingItems = MnuEncodings;
  EncodingItems.push_back(MnuEncodingAuto);
  for (QAction* Item : EncodingItems)
    connect(Item, &QAction::triggered, this, [this, Item] { MnuEncodingClick(Item); });
  connect(MnuFullScreen, &QAction::triggered, this, [this] { MnuFullScreenClick(MnuFullScreen); });
  connect(MnuNightMode, &QAction::triggered, this, [this] { MnuNightModeClick(MnuNightMode); });
  connect(MnuCopy, &QAction::triggered, this, [this] { MnuCopyClick(MnuCopy); });
  connect(MnuSelectAll, &QAction::triggered, this, [this] { MnuSelectAllClick(MnuSelectAll); });
  connect(MnuFind, &QAction::triggered, this, [this] { MnuFindClick(MnuFind); });
  connect(MnuFindNext, &QAction::triggered, this, [this] { MnuFindNextClick(MnuFindNext); });
  connect(MnuFindPrevious, &QAction::triggered, this, [this] { MnuFindPreviousClick(MnuFindPrevious); });
  connect(MnuGoTo, &QAction::triggered, this, [this] { MnuGoToClick(MnuGoTo); });
  connect(MnuContents, &QAction::triggered, this, [this] { MnuContentsClick(MnuContents); });
  connect(MnuPreviousChapter, &QAction::triggered, this, [this] { MnuPreviousChapterClick(MnuPreviousChapter); });
  connect(MnuNextChapter, &QAction::triggered, this, [this] { MnuNextChapterClick(MnuNextChapter); });
  ChapterWin->OnJump = [this](std::size_t Index) { ChapterWinJump(ChapterWin, Index); };
  ChapterWin->OnRules = [this](const std::vector<TChapterRule>& Rules, std::optional<std::size_t> Pick) {
    return ChapterWinRules(ChapterWin, Rules, Pick);
  };
  ChapterWin->OnStop = [this] { Viewer.Chapters.Cancel(); };
  FindBar->OnFind = [this](bool Backward) { FindBarFind(FindBar, Backward); };
  FindBar->OnClose = [this] { FindBarClose(FindBar); };
  FindBar->OnPage = [this](bool Down) { Down ? TBDownClick(FindBar) : TBUpClick(FindBar); };
  connect(MnuWeb, &QAction::triggered, this, [this] { MnuWebClick(MnuWeb); });
  connect(MnuAbout, &QAction::triggered, this, [this] { MnuAboutClick(MnuAbout); });
  connect(TBUp, &QAction::triggered, this, [this] { TBUpClick(TBUp); });
  connect(TBDown, &QAction::triggered, this, [this] { TBDownClick(TBDown); });
  SclBar->OnChange = [this](QObject* Sender) { SclBarChange(Sender); };
  Memo->OnKeyDown = [this](QObject* Sender, std::uint16_t& Key, TShiftState Shift) { MemoKeyDown(Sender, Key, Shift); };
  // Paging on is what a reader does most: the next page's characters are made ready meanwhile.
  Memo->OnTextAhead = [this] { return Viewer.NextPageText(); };
  OnResize = [this](QObject* Sender) { FormResize(Sender); };
  OnDropFiles = [this](QObject* Sender, const std::vector<std::string>& Files) { FormDropFiles(Sender, Files); };
}

void TFrmMain::MnuExitClick(QObject*) { CloseForm(); }

void TFrmMain::MnuOpenClick(QObject*) { Viewer.Open(); }

void TFrmMain::SclBarChange(QObject*) { Viewer.ScrollJump(); }

void TFrmMain::TBDownClick(QObject*) { Viewer.NextPage(); }

void TFrmMain::TBUpClick(QObject*) { Viewer.PreviousPage(); }

void TFrmMain::MnuFontSetupClick(QObject*) { Viewer.FontSetup(); }

void TFrmMain::MnuCopyClick(QObject*) { Memo->copy(); }

void TFrmMain::MnuSelectAllClick(QObject*) { Memo->selectAll(); }

void TFrmMain::MnuFindClick(QObject*) {
  FindBarShown->setVisible(true);
  ToolBar->layout()->activate();  // shows the bar now, so that it can take the focus
  FindBar->Open();
}

void TFrmMain::MnuFindNextClick(QObject* Sender) {
  if (!Viewer.FindAgain(false)) MnuFindClick(Sender);
}

void TFrmMain::MnuFindPreviousClick(QObject* Sender) {
  if (!Viewer.FindAgain(true)) MnuFindClick(Sender);
}

void TFrmMain::FindBarFind(QObject*, bool Backward) {
  Viewer.Find(TSearchQuery{FindBar->Text().toStdString(), FindBar->MatchCase(), FindBar->Regex()}, Backward);
}

void TFrmMain::FindBarClose(QObject*) {
  FindBarShown->setVisible(false);
  ToolBar->layout()->activate();
  if (Viewer.CancelSearch()) ShowStatus("查找已取消");
  Memo->setFocus();
}

void TFrmMain::MnuGoToClick(QObject*) {
  if (Viewer.FileName.empty()) return;
  std::string Where = Viewer.Where();
  if (TGoToDialog::Execute(this, Where)) Viewer.GoTo(Where);
}

void TFrmMain::MnuContentsClick(QObject*) {
  if (Viewer.FileName.empty()) return;
  Viewer.FindChapters();
  ChapterWin->Open();
}

void TFrmMain::MnuPreviousChapterClick(QObject*) { Viewer.PreviousChapter(); }

void TFrmMain::MnuNextChapterClick(QObject*) { Viewer.NextChapter(); }

void TFrmMain::ChapterWinJump(QObject*, std::size_t Index) {
  activateWindow();
  Memo->setFocus();
  Viewer.GoToChapter(Index);
}

std::string TFrmMain::ChapterWinRules(QObject*, const std::vector<TChapterRule>& Rules,
                                      std::optional<std::size_t> Pick) {
  const std::string Fault = Viewer.SetChapterRules(Rules, Pick);
  ChapterWin->ShowRules(Viewer.ChapterRules, Viewer.ChapterRule, Viewer.ChapterRuleInUse());
  return Fault;
}

void TFrmMain::MnuEncodingClick(QObject* Sender) {
  std::optional<TTextEncoding> Choice;
  for (std::size_t Index = 0; Index < MnuEncodings.size(); ++Index)
    if (Sender == MnuEncodings[Index]) Choice = Encodings()[Index].Encoding;
  Viewer.ChooseEncoding(Choice);
}

void TFrmMain::MnuFullScreenClick(QObject*) { SetFullScreen(MnuFullScreen->isChecked()); }

// Only the colours change: the page stays as it is, with the glyphs already drawn.
void TFrmMain::MnuNightModeClick(QObject*) {
  const bool Night = MnuNightMode->isChecked();
  TFont Font = Memo->Font();
  Font.Color = Night ? NightText : clWindowText;
  Memo->SetFont(Font);
  Memo->SetColor(Night ? NightGround : clWindow);
}

// Full screen on or off is the reader asking for another page size: the page is fitted to it once
// the window has its new size. Any other resize keeps the page as it is.
void TFrmMain::FormResize(QObject*) {
  if (FullScreen() == FFittedFullScreen) return;
  FFittedFullScreen = FullScreen();
  MnuFullScreen->setChecked(FFittedFullScreen);
  Viewer.Refit();
}

void TFrmMain::FormDropFiles(QObject*, const std::vector<std::string>& Files) {
  if (Files.size() > 1) {
    Beep();
    ShowStatus("一次只能打开一个文件");
    return;
  }
  OpenFile(Files.front());
}

void TFrmMain::OpenFile(const std::string& Path) {
  std::error_code Failed;
  if (std::filesystem::is_directory(Path, Failed)) {
    Beep();
    ShowStatus("不能打开文件夹");
    return;
  }
  Viewer.OpenFile(Path);
  OpenDlg.FileName = Path;
}

QAction* TFrmMain::MnuEncodingOf(TTextEncoding Encoding) const {
  for (std::size_t Index = 0; Index < MnuEncodings.size(); ++Index)
    if (Encodings()[Index].Encoding == Encoding) return MnuEncodings[Index];
  return MnuEncodingAuto;
}

// The key goes on to the text area afterwards, which then handles it from the caret at the start.
// Ctrl alone keeps the selection: it is the first half of Ctrl+C, which copies it.
void TFrmMain::MemoKeyDown(QObject* Sender, std::uint16_t& Key, TShiftState) {
  if (Key == VK_CONTROL) return;
  if (Key == VK_NEXT || Key == VK_SPACE)
    TBDownClick(Sender);
  else if (Key == VK_PRIOR)
    TBUpClick(Sender);
  else if (Key == VK_ESCAPE) {
    FindBar->Close();  // and with it a search under way
    if (MnuFullScreen->isChecked()) MnuFullScreen->trigger();
  }
  Memo->SetSelStart(0);
}

void TFrmMain::MnuAboutClick(QObject*) { AboutBox->ShowFormModal(); }

void TFrmMain::MnuWebClick(QObject*) {
  if (OpenWebAddress(WebAddress)) return;
  Beep();
  ShowStatus("无法打开网页：没有可用的浏览器");
}

int TFrmMain::TextFontHeight() const { return Memo->Font().Height; }

int TFrmMain::TextFontRenderedHeight() const { return QFontMetrics(Memo->font()).height(); }

int TFrmMain::TextClientWidth() const { return Memo->ClientWidth(); }

int TFrmMain::TextClientHeight() const { return Memo->ClientHeight(); }

void TFrmMain::ShowPage(const std::string& PageText) {
  FPageText = PageText;
  Memo->SetHideSelection(true);
  Memo->SetText(PageText);
}

// The match stays highlighted while the find bar has the focus, until the next page.
void TFrmMain::ShowMatch(std::size_t From, std::size_t Length) {
  const std::string Before = FPageText.substr(0, From);
  const int Start = Memo->ShownLength(Before);
  const int End = Memo->ShownLength(FPageText.substr(0, From + Length));
  Memo->SetHideSelection(false);
  Memo->SetSelection(Start, End);
}

void TFrmMain::ShowWhere(const std::string& Share, const std::string& Chapter) {
  LblWhere->setText(QString::fromStdString(Share));
  LblChapter->SetText(QString::fromStdString(Chapter));  // a page inside the same chapter repaints nothing
  ChapterWin->MarkCurrent(Viewer.ChapterOnScreen());
}

void TFrmMain::ChaptersChanged() {
  // A window left open asks for the headings of the file opened since (a stopped scan stays stopped).
  if (ChapterWin->isVisible() && Viewer.Chapters.State() == TChapterIndex::TState::NotScanned) Viewer.FindChapters();
  ChapterWin->Refresh(Viewer.ChapterOnScreen());
  ChapterWin->ShowRules(Viewer.ChapterRules, Viewer.ChapterRule, Viewer.ChapterRuleInUse());
}

void TFrmMain::RunLater(std::function<void()> Call) {
  QMetaObject::invokeMethod(this, std::move(Call), Qt::QueuedConnection);
}

void TFrmMain::SetTextEncoding(TTextEncoding Encoding, bool Detected) {
  Memo->SetEncoding(Encoding);
  (Detected ? MnuEncodingAuto : MnuEncodingOf(Encoding))->setChecked(true);
}

void TFrmMain::ShowStatus(const std::string& Text) { StsBar->Panels(1).SetText(Ansi(Text)); }

void TFrmMain::SetCaption(const std::string& Text) { TForm::SetCaption(Text); }

bool TFrmMain::ChooseFile(std::string& FileName) {
  if (!OpenDlg.Execute(this)) return false;
  FileName = OpenDlg.FileName;
  return true;
}

bool TFrmMain::ChooseTextFont() {
  FontDlg.Font.Assign(Memo->Font());
  if (!FontDlg.Execute(this)) return false;
  Memo->SetFont(FontDlg.Font);
  return true;
}

void TFrmMain::Beep() { ::Beep(); }

TViewerScrollBar& TFrmMain::ScrollBar() { return *SclBar; }
