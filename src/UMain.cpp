#include "UMain.h"

#include "Beep.h"
#include "CodePage.h"
#include "ColourSchemes.h"
#include "ProgramResources.h"
#include "TBookmarkWindow.h"
#include "TChapterWindow.h"
#include "TElidedLabel.h"
#include "TFindBar.h"
#include "TGoToDialog.h"
#include "TLayoutDialog.h"
#include "TMemo.h"
#include "TScrollBar.h"
#include "TStatusBar.h"
#include "TToolBar.h"
#include "UAboutBox.h"
#include "WebAddress.h"
#include "ui_UMain.h"

#include <QActionGroup>
#include <QDateTime>
#include <QFileInfo>
#include <QPushButton>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <map>
#include <filesystem>
#include <iterator>

TFrmMain* FrmMain = nullptr;

namespace {

// Virtual-key codes of the keys that turn pages.
constexpr std::uint16_t VK_CONTROL = 17;
constexpr std::uint16_t VK_ESCAPE = 27;
constexpr std::uint16_t VK_SPACE = 32;
constexpr std::uint16_t VK_PRIOR = 33;  // Page Up
constexpr std::uint16_t VK_NEXT = 34;   // Page Down
// The keys that pace the auto turn, on the main keys and on the keypad, and the modifiers, which
// alone stop nothing: they are the first half of a key with them.
constexpr std::uint16_t VK_SHIFT = 16;
constexpr std::uint16_t VK_MENU = 18;  // Alt
constexpr std::uint16_t VK_ADD = 107;
constexpr std::uint16_t VK_SUBTRACT = 109;
constexpr std::uint16_t VK_OEM_PLUS = 187;
constexpr std::uint16_t VK_OEM_MINUS = 189;

// The seconds between pages the auto turn can take, + and - stepping from one to the next.
constexpr int AutoTurnPaces[] = {1, 2, 3, 4, 5, 6, 8, 10, 12, 15, 20, 25, 30, 40, 50, 60};

// Bytes in the code page for a text written here; panels and the text area hold such bytes.
std::string Ansi(const std::string& Text) { return TCodePage::Ansi().Encode(QString::fromStdString(Text)); }

// The encoding a file is read in, and whether it was detected rather than chosen.
QString EncodingInUse(TTextEncoding Encoding, bool Detected) {
  const QString Name = QString::fromUtf8(RulesOf(Encoding).MenuName);
  return Detected ? Name + QStringLiteral("（自动检测）") : Name;
}

TFont SimSun(int Height) {
  TFont Font;
  Font.Name = "宋体";
  Font.Height = Height;
  Font.Charset = ANSI_CHARSET;
  return Font;
}

// A place in a file as a share of it with one decimal, rounded down, as the tool bar says it ("37.5%").
std::string ShareOf(TFileOffset Offset, TFileOffset Size) {
  const TFileOffset Permille = Size > 0 ? std::clamp<TFileOffset>(Offset, 0, Size) * 1000 / Size : 0;
  return std::to_string(Permille / 10) + "." + std::to_string(Permille % 10) + "%";
}

const char* SchemeName(TColourScheme Scheme) {
  return Scheme == TColourScheme::Night ? "night" : Scheme == TColourScheme::Paper ? "paper" : "desktop";
}

std::array<QIcon, 2> LoadGlyphs() {
  return {QIcon(ProgramPicture(TProgramPicture::ArrowUp)), QIcon(ProgramPicture(TProgramPicture::ArrowDown))};
}

}  // namespace

TFrmMain::TFrmMain() : ImageList1(LoadGlyphs()) {
  // The form definition makes the controls, owned by this window, members by their names there.
  setupUi(this);
  N1 = MnuFile->actions().at(1);
  N4 = MnuEdit->actions().at(2);
  N5 = MnuGo->actions().at(1);
  N7 = MnuGo->actions().at(5);
  N8 = MnuGo->actions().at(7);
  N3 = MnuEncoding->actions().at(1);
  for (const TEncodingRules& Rules : Encodings()) {
    QAction* Item = MnuEncoding->addAction(QString::fromUtf8(Rules.MenuName));
    Item->setCheckable(true);
    EncodingGroup->addAction(Item);
    MnuEncodings.push_back(Item);
  }
  N6 = MnuSetup->actions().at(4);
  N9 = MnuSetup->actions().at(8);
  N2 = MnuHelp->actions().at(1);
  SetupForm();
  BindEvents();
  Store.Load();
  KeepChapters();
  ApplyKeptSettings();
  SayStoreProblem();
}

// Closing the window, ending the program and the session's end all come here: the place is kept.
TFrmMain::~TFrmMain() { KeepPosition(); }

void TFrmMain::SetupForm() {
  SetPosition(poDesktopCenter);
  SetWindowState(wsMaximized);
  setFont(SimSun(-12).ToQFont());

  Memo->SetFont(SimSun(-14));
  // Ctrl+= is Ctrl++ without the Shift that + needs on most keyboards.
  MnuZoomIn->setShortcuts({QKeySequence(QStringLiteral("Ctrl+=")), QKeySequence(QStringLiteral("Ctrl++"))});
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
  // Room for the longest encoding's name as detected, so that a wrong guess is seen at once; it gives way
  // to the find bar in a narrow window.
  int EncodingWidth = 0;
  for (const TEncodingRules& Rules : Encodings())
    EncodingWidth = std::max(EncodingWidth, Metrics.horizontalAdvance(EncodingInUse(Rules.Encoding, true)));
  LblEncoding = new TElidedLabel(EncodingWidth + 16, ToolBar);
  ToolBar->addWidget(LblEncoding);
  FEncodingTitle = MnuEncoding->title();
  // Room for a volume's title and a chapter's, 28 characters, which give way to the find bar in a
  // narrow window.
  LblChapter = new TElidedLabel(Metrics.horizontalAdvance(QString(28, QChar(0x7AE0))), ToolBar);
  LblChapter->setAccessibleDescription(QStringLiteral("本页所在的章节"));
  ToolBar->addWidget(LblChapter);
  TBResume = new QPushButton(ToolBar);
  TBResume->setFocusPolicy(Qt::NoFocus);
  TBResume->setAccessibleDescription(QStringLiteral("回到上次阅读的位置"));
  TBResumeShown = ToolBar->addWidget(TBResume);
  TBResumeShown->setVisible(false);
  FindBar = new TFindBar(ToolBar);
  FindBarShown = ToolBar->addWidget(FindBar);
  FindBarShown->setVisible(false);

  ChapterWin = new TChapterWindow(Viewer.Chapters(), this);
  ChapterWin->ShowRules(Viewer.ChapterRules(), Viewer.ChapterRule(), Viewer.ChapterRuleInUse());
  BookmarkWin = new TBookmarkWindow(this);
  TmrAutoTurn = new QTimer(this);

  OpenDlg.Filter = "文本文件(*.Txt)|*.txt|所有文件(*.*)|*.*";
  OpenDlg.DefaultExt = "txt";
}

void TFrmMain::BindEvents() {
  // First: a command stops the auto turn before it runs, so that the command's own message is the last.
  for (QAction* Item : findChildren<QAction*>())
    if (Item != MnuAutoTurn) connect(Item, &QAction::triggered, this, [this] { StopAutoTurn(); });
  const auto OnClick = [this](QAction* Item, void (TFrmMain::*Handler)(QObject*)) {
    connect(Item, &QAction::triggered, this, [this, Item, Handler] { (this->*Handler)(Item); });
  };

  // File
  OnClick(MnuOpen, &TFrmMain::MnuOpenClick);
  OnDropFiles = [this](QObject* Sender, const std::vector<std::string>& Files) { FormDropFiles(Sender, Files); };
  OnClick(MnuExit, &TFrmMain::MnuExitClick);

  // Paging
  OnClick(TBUp, &TFrmMain::TBUpClick);
  OnClick(TBDown, &TFrmMain::TBDownClick);
  SclBar->OnChange = [this](QObject* Sender) { SclBarChange(Sender); };
  Memo->OnKeyDown = [this](QObject* Sender, std::uint16_t& Key, TShiftState Shift) { MemoKeyDown(Sender, Key, Shift); };
  Memo->OnMouseWheel = [this](QObject* Sender, int Notches, TShiftState Shift) { MemoMouseWheel(Sender, Notches, Shift); };
  // Paging on is what a reader does most: the next page's characters are made ready meanwhile.
  Memo->OnTextAhead = [this] { return Viewer.NextPageText(); };
  OnResize = [this](QObject* Sender) { FormResize(Sender); };

  // Edit and find
  connect(MnuCopy, &QAction::triggered, Memo, &TMemo::copy);
  connect(MnuSelectAll, &QAction::triggered, Memo, &TMemo::selectAll);
  OnClick(MnuFind, &TFrmMain::MnuFindClick);
  connect(MnuFindNext, &QAction::triggered, this, [this] {
    if (!Viewer.FindAgain(false)) MnuFindClick(MnuFindNext);
  });
  connect(MnuFindPrevious, &QAction::triggered, this, [this] {
    if (!Viewer.FindAgain(true)) MnuFindClick(MnuFindPrevious);
  });
  FindBar->OnFind = [this](bool Backward) { FindBarFind(FindBar, Backward); };
  FindBar->OnClose = [this] { FindBarClose(FindBar); };
  FindBar->OnPage = [this](bool Down) { Down ? TBDownClick(FindBar) : TBUpClick(FindBar); };

  // Go
  OnClick(MnuGoTo, &TFrmMain::MnuGoToClick);
  OnClick(MnuContents, &TFrmMain::MnuContentsClick);
  connect(MnuPreviousChapter, &QAction::triggered, this, [this] { Viewer.PreviousChapter(); });
  connect(MnuNextChapter, &QAction::triggered, this, [this] { Viewer.NextChapter(); });
  ChapterWin->OnJump = [this](std::size_t Index) { ChapterWinJump(ChapterWin, Index); };
  ChapterWin->OnRules = [this](const std::vector<TChapterRule>& Rules, std::optional<std::size_t> Pick) {
    return ChapterWinRules(ChapterWin, Rules, Pick);
  };
  ChapterWin->OnStop = [this] { Viewer.StopChapterScan(); };
  OnClick(MnuAutoTurn, &TFrmMain::MnuAutoTurnClick);
  connect(TmrAutoTurn, &QTimer::timeout, this, [this] { TmrAutoTurnTimer(TmrAutoTurn); });
  OnUserInput = [this](QObject* Sender, std::uint16_t Key, TShiftState Shift) { FormUserInput(Sender, Key, Shift); };
  OnDeactivate = [this](QObject*) { StopAutoTurn(); };

  // Reading memory
  OnClick(MnuResume, &TFrmMain::MnuResumeClick);
  connect(TBResume, &QPushButton::clicked, this, [this] {
    StopAutoTurn();
    MnuResumeClick(TBResume);
  });
  OnClick(MnuAddBookmark, &TFrmMain::MnuAddBookmarkClick);
  OnClick(MnuBookmarks, &TFrmMain::MnuBookmarksClick);
  BookmarkWin->OnJump = [this](std::size_t Row) { BookmarkWinJump(BookmarkWin, Row); };
  BookmarkWin->OnDelete = [this](std::size_t Row) { BookmarkWinDelete(BookmarkWin, Row); };
  OnClick(MnuRemember, &TFrmMain::MnuRememberClick);
  OnClick(MnuClearReading, &TFrmMain::MnuClearReadingClick);

  // Setup
  OnClick(MnuFontSetup, &TFrmMain::MnuFontSetupClick);
  connect(MnuZoomIn, &QAction::triggered, this, [this] { Viewer.StepFontSize(1); });
  connect(MnuZoomOut, &QAction::triggered, this, [this] { Viewer.StepFontSize(-1); });
  for (QAction* Item : MnuEncodings) OnClick(Item, &TFrmMain::MnuEncodingClick);
  OnClick(MnuEncodingAuto, &TFrmMain::MnuEncodingClick);
  connect(MnuFullScreen, &QAction::triggered, this, [this] { SetFullScreen(MnuFullScreen->isChecked()); });
  for (QAction* Item : {MnuColourDesktop, MnuColourPaper, MnuColourNight}) OnClick(Item, &TFrmMain::MnuColoursClick);
  OnClick(MnuLayout, &TFrmMain::MnuLayoutClick);

  // Help
  OnClick(MnuWeb, &TFrmMain::MnuWebClick);
  OnClick(MnuAbout, &TFrmMain::MnuAboutClick);
}

void TFrmMain::MnuExitClick(QObject*) { CloseForm(); }

void TFrmMain::MnuOpenClick(QObject*) { Viewer.Open(); }

void TFrmMain::SclBarChange(QObject*) { Viewer.ScrollJump(); }

void TFrmMain::TBDownClick(QObject*) { Viewer.NextPage(); }

void TFrmMain::TBUpClick(QObject*) { Viewer.PreviousPage(); }

void TFrmMain::MnuFontSetupClick(QObject*) { Viewer.FontSetup(); }

void TFrmMain::MnuFindClick(QObject*) {
  FindBarShown->setVisible(true);
  SetToolBarOverPage(ToolBar, true);  // in full screen, over the page's last rows: a hit shows at its top
  ToolBar->layout()->activate();  // shows the bar now, so that it can take the focus
  FindBar->Open();
}

void TFrmMain::FindBarFind(QObject*, bool Backward) {
  Viewer.Find(TSearchQuery{FindBar->Text().toStdString(), FindBar->MatchCase(), FindBar->Regex()}, Backward);
}

void TFrmMain::FindBarClose(QObject*) {
  FindBarShown->setVisible(false);
  SetToolBarOverPage(ToolBar, false);
  ToolBar->layout()->activate();
  if (Viewer.CancelSearch()) ShowStatus("查找已取消");
  Memo->setFocus();
}

void TFrmMain::MnuGoToClick(QObject*) {
  if (Viewer.FileName().empty()) return;
  std::string Where = Viewer.Where();
  if (TGoToDialog::Execute(this, Where)) Viewer.GoTo(Where);
}

void TFrmMain::MnuContentsClick(QObject*) {
  if (Viewer.FileName().empty()) return;
  Viewer.FindChapters();
  ChapterWin->Open();
}

void TFrmMain::ChapterWinJump(QObject*, std::size_t Index) {
  activateWindow();
  Memo->setFocus();
  Viewer.GoToChapter(Index);
}

void TFrmMain::MnuAutoTurnClick(QObject*) {
  if (!MnuAutoTurn->isChecked()) return StopAutoTurn();
  if (Viewer.FileName().empty() || Viewer.PageEnd() >= Viewer.FileSize()) {
    MnuAutoTurn->setChecked(false);
    if (Viewer.FileName().empty()) return;
    Beep();
    ShowStatus("自动翻页：已到文件末尾");
    return;
  }
  TmrAutoTurn->start(FAutoTurnSeconds * 1000);
  ShowAutoTurn();
}

void TFrmMain::TmrAutoTurnTimer(QObject* Sender) {
  TBDownClick(Sender);
  if (Viewer.PageEnd() >= Viewer.FileSize()) return StopAutoTurn("自动翻页已停止：已到文件末尾");
  // A page turn with more to say than where it went (the file changed, or cannot be read) stops it,
  // and what it said stays.
  if (!FStatus.starts_with("当前操作记录数为") && !FStatus.starts_with("当前翻页Position=")) return StopAutoTurn("");
  ShowAutoTurn();
}

void TFrmMain::FormUserInput(QObject*, std::uint16_t Key, TShiftState Shift) {
  if (!TmrAutoTurn->isActive() || Key == VK_SHIFT || Key == VK_CONTROL || Key == VK_MENU) return;
  const bool Plain = !(Shift & (ssCtrl | ssAlt));
  const bool Faster = Plain && (Key == VK_OEM_PLUS || Key == VK_ADD);
  const bool Slower = Plain && (Key == VK_OEM_MINUS || Key == VK_SUBTRACT);
  if (!Faster && !Slower) return StopAutoTurn();
  const auto First = std::begin(AutoTurnPaces), Last = std::end(AutoTurnPaces);
  if (Faster) {
    if (const auto At = std::lower_bound(First, Last, FAutoTurnSeconds); At != First) FAutoTurnSeconds = *(At - 1);
  } else {
    if (const auto At = std::upper_bound(First, Last, FAutoTurnSeconds); At != Last) FAutoTurnSeconds = *At;
  }
  TmrAutoTurn->start(FAutoTurnSeconds * 1000);
  ShowAutoTurn();
}

void TFrmMain::StopAutoTurn(const std::string& Why) {
  if (!TmrAutoTurn->isActive()) return;
  TmrAutoTurn->stop();
  MnuAutoTurn->setChecked(false);
  if (!Why.empty()) ShowStatus(Why);
}

void TFrmMain::ShowAutoTurn() { ShowStatus("自动翻页：每" + std::to_string(FAutoTurnSeconds) + "秒一页（+快 -慢）"); }

std::string TFrmMain::ChapterWinRules(QObject*, const std::vector<TChapterRule>& Rules,
                                      std::optional<std::size_t> Pick) {
  const std::string Fault = Viewer.SetChapterRules(Rules, Pick);
  ChapterWin->ShowRules(Viewer.ChapterRules(), Viewer.ChapterRule(), Viewer.ChapterRuleInUse());
  // The rule picked is this book's from now on.
  if (Fault.empty() && !Viewer.FileName().empty()) {
    const std::string Rule = Viewer.ChapterRule() ? Viewer.ChapterRules()[*Viewer.ChapterRule()].Name : std::string();
    Store.Update(Viewer.FileName(), [&](TFileRecord& Record) { Record.ChapterRule = Rule; });
    SayStoreProblem();
  }
  return Fault;
}

void TFrmMain::MnuEncodingClick(QObject* Sender) {
  std::optional<TTextEncoding> Choice;
  for (std::size_t Index = 0; Index < MnuEncodings.size(); ++Index)
    if (Sender == MnuEncodings[Index]) Choice = Encodings()[Index].Encoding;
  Viewer.ChooseEncoding(Choice);
  // The file opens in it again; 自动检测 lets it be detected again.
  if (!Viewer.FileName().empty()) {
    const std::string Name = Choice ? RulesOf(*Choice).MenuName : "";
    Store.Update(Viewer.FileName(), [&](TFileRecord& Record) { Record.Encoding = Name; });
    SayStoreProblem();
  }
}

// Only the colours change: the page stays as it is, with the glyphs already drawn.
void TFrmMain::MnuColoursClick(QObject* Sender) {
  SetColourScheme(Sender == MnuColourNight   ? TColourScheme::Night
                  : Sender == MnuColourPaper ? TColourScheme::Paper
                                             : TColourScheme::Desktop);
  KeepSettings();
}

// The page is set anew at once, read again from where it starts.
void TFrmMain::MnuLayoutClick(QObject*) {
  TLayoutSettings Layout = Viewer.PageLayout();
  if (!TLayoutDialog::Execute(this, Layout)) return;
  Viewer.SetPageLayout(Layout);
  KeepSettings();
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
  StopAutoTurn();
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

// A notch turns a page as Page Up and Page Down do; with Ctrl it steps the font size.
void TFrmMain::MemoMouseWheel(QObject* Sender, int Notches, TShiftState Shift) {
  if (Shift.testFlag(ssCtrl)) {
    Viewer.StepFontSize(Notches);
    return;
  }
  for (; Notches > 0; --Notches) TBUpClick(Sender);
  for (; Notches < 0; ++Notches) TBDownClick(Sender);
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

int TFrmMain::TextAdvance(char32_t Code) const { return Memo->Advance(Code); }

void TFrmMain::SetTextLayout(const TLayoutSettings& Layout) { Memo->SetPageLayout(Layout); }

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
  if (ChapterWin->isVisible() && Viewer.Chapters().State() == TChapterIndex::TState::NotScanned) Viewer.FindChapters();
  ChapterWin->Refresh(Viewer.ChapterOnScreen());
  ChapterWin->ShowRules(Viewer.ChapterRules(), Viewer.ChapterRule(), Viewer.ChapterRuleInUse());
}

void TFrmMain::RunLater(std::function<void()> Call) {
  // The call itself crosses through a queue under a standard lock, which orders the hand-over for any
  // checker; Qt's queued invocation, made inside Qt, only wakes the GUI thread to take it.
  {
    const std::lock_guard Lock(FQueuedLock);
    FQueued.push_back(std::move(Call));
  }
  QMetaObject::invokeMethod(this, "RunQueuedCall", Qt::QueuedConnection);
}

void TFrmMain::RunQueuedCall() {
  std::function<void()> Call;
  {
    const std::lock_guard Lock(FQueuedLock);
    if (FQueued.empty()) return;
    Call = std::move(FQueued.front());
    FQueued.pop_front();
  }
  Call();
}

void TFrmMain::SetTextEncoding(TTextEncoding Encoding, bool Detected) {
  Memo->SetEncoding(Encoding);
  (Detected ? MnuEncodingAuto : MnuEncodingOf(Encoding))->setChecked(true);
  const QString InUse = EncodingInUse(Encoding, Detected);
  LblEncoding->SetText(InUse);
  MnuEncoding->setTitle(FEncodingTitle + QStringLiteral("：") + InUse);
}

void TFrmMain::ShowStatus(const std::string& Text) {
  FStatus = Text;
  StsBar->Panels(1).SetText(Ansi(Text));
}

void TFrmMain::SetCaption(const std::string& Text) { TForm::SetCaption(Text); }

bool TFrmMain::ChooseFile(std::string& FileName) {
  if (!OpenDlg.Execute(this)) return false;
  FileName = OpenDlg.FileName;
  KeepSettings();  // the folder the dialog starts in next time
  return true;
}

bool TFrmMain::ChooseTextFont() {
  FontDlg.Font.Assign(Memo->Font());
  if (!FontDlg.Execute(this)) return false;
  Memo->SetFont(FontDlg.Font);
  KeepSettings();
  return true;
}

void TFrmMain::SetTextFontHeight(int Height) {
  TFont Font = Memo->Font();
  Font.Height = Height;
  Memo->SetFont(Font);
  KeepSettings();
}

void TFrmMain::Beep() { ::Beep(); }

TViewerScrollBar& TFrmMain::ScrollBar() { return *SclBar; }

namespace {

// The page's layout as the store keeps it: whole numbers, the spacings in hundredths of a row. None
// for 原样, the default.
std::map<std::string, std::int64_t> KeptLayout(const TLayoutSettings& Layout) {
  if (Layout == TLayoutSettings::Original()) return {};
  return {{"LineSpacing%", std::llround(Layout.LineSpacing * 100)},
          {"ParagraphSpacing%", std::llround(Layout.ParagraphSpacing * 100)},
          {"Margin", Layout.Margin},
          {"MaxColumns", Layout.MaxColumns},
          {"BreakRules", Layout.BreakRules ? 1 : 0}};
}

// What was kept, within the dialog's bounds whatever the file says.
TLayoutSettings LayoutOf(const std::map<std::string, std::int64_t>& Kept) {
  const auto Value = [&](const char* Name, std::int64_t Low, std::int64_t High, std::int64_t Default) {
    const auto At = Kept.find(Name);
    return At == Kept.end() ? Default : std::clamp(At->second, Low, High);
  };
  TLayoutSettings Layout;
  Layout.LineSpacing = static_cast<double>(Value("LineSpacing%", 100, 300, 100)) / 100;
  Layout.ParagraphSpacing = static_cast<double>(Value("ParagraphSpacing%", 0, 200, 0)) / 100;
  Layout.Margin = static_cast<int>(Value("Margin", 0, TLayoutDialog::MaxMargin, 0));
  Layout.MaxColumns = static_cast<int>(Value("MaxColumns", 0, TLayoutDialog::MaxColumns, 0));
  Layout.BreakRules = Value("BreakRules", 0, 1, 0) != 0;
  return Layout;
}

}  // namespace

void TFrmMain::ApplyKeptSettings() {
  MnuRemember->setChecked(Store.Remember());
  const TReaderSettings& Kept = Store.Settings();
  if (!Kept.FontName.empty() && Kept.FontHeight != 0) {
    TFont Font = Memo->Font();
    Font.Name = Kept.FontName;
    Font.Height = Kept.FontHeight;
    Font.Style = TFontStyles::fromInt(static_cast<int>(Kept.FontStyle));
    Memo->SetFont(Font);
  }
  for (QAction* Item : {MnuColourDesktop, MnuColourPaper, MnuColourNight}) {
    const TColourScheme Scheme = Item == MnuColourNight   ? TColourScheme::Night
                                 : Item == MnuColourPaper ? TColourScheme::Paper
                                                          : TColourScheme::Desktop;
    if (Kept.ColourScheme == SchemeName(Scheme) && Scheme != ColourScheme()) {
      Item->setChecked(true);
      SetColourScheme(Scheme);
    }
  }
  if (!Kept.PageLayout.empty()) Viewer.SetPageLayout(LayoutOf(Kept.PageLayout));
  // The dialog's first run starts in the folder the reader last chose a file in.
  if (!Kept.LastFolder.empty()) OpenDlg.InitialDir = Kept.LastFolder;
}

void TFrmMain::KeepSettings() {
  TReaderSettings Settings = Store.Settings();
  const TFont& Font = Memo->Font();
  Settings.FontName = Font.Name;
  Settings.FontHeight = Font.Height;
  Settings.FontStyle = static_cast<unsigned>(Font.Style.toInt());
  Settings.ColourScheme = SchemeName(ColourScheme());
  Settings.PageLayout = KeptLayout(Viewer.PageLayout());
  if (OpenDlg.FileName.find('/') != std::string::npos)
    Settings.LastFolder = OpenDlg.FileName.substr(0, OpenDlg.FileName.rfind('/') + 1);
  if (Settings == Store.Settings()) return;
  Store.SetSettings(Settings);
  SayStoreProblem();
}

void TFrmMain::KeepChapters() { Viewer.KeptChapters().SetFolder(Store.Remember() ? Store.ChaptersFolder() : ""); }

void TFrmMain::SayStoreProblem() {
  const std::string Problem = Store.TakeProblem();
  if (!Problem.empty()) ShowStatus(Problem);
}

void TFrmMain::KeepPosition() {
  // A file left as it opened keeps the place kept before: opening it is not reading it.
  if (Viewer.FileName().empty() || Viewer.FileSize() == 0 || !FMovedSinceOpen) return;
  const TFileOffset At = Viewer.PageStart();
  const std::string Chapter = LblChapter->Text().toStdString();
  Store.Update(Viewer.FileName(), [&](TFileRecord& Record) {
    if (At > 0) {
      Record.Position = At;
      Record.PositionChapter = Chapter;
    } else {
      Record.Position.reset();
      Record.PositionChapter.clear();
    }
  });
}

TViewerWindow::TKeptChoices TFrmMain::KeptChoices(const std::string& Path) {
  TKeptChoices Choices;
  const std::optional<TFileRecord> Record = Store.Record(Path);
  if (!Record) return Choices;
  for (const TEncodingRules& Rules : Encodings())
    if (!Record->Encoding.empty() && Record->Encoding == Rules.MenuName) Choices.Encoding = Rules.Encoding;
  Choices.ChapterRule = Record->ChapterRule;
  return Choices;
}

void TFrmMain::FileLeaving() { KeepPosition(); }

void TFrmMain::FileOpened() {
  FMovedSinceOpen = false;
  FResumeAt.reset();
  TBResumeShown->setVisible(false);
  const std::optional<TFileRecord> Record = Store.Record(Viewer.FileName());
  if (Record && Record->Position) {
    // A file now shorter than the place kept is another text: the place is forgotten.
    if (*Record->Position >= Viewer.FileSize()) {
      Store.Update(Viewer.FileName(), [](TFileRecord& Kept) {
        Kept.Position.reset();
        Kept.PositionChapter.clear();
      });
    } else {
      FResumeAt = *Record->Position;
      std::string Offer = "继续阅读 " + ShareOf(*FResumeAt, Viewer.FileSize());
      if (!Record->PositionChapter.empty()) Offer += " " + Record->PositionChapter;
      TBResume->setText(QString::fromStdString(Offer));
      TBResumeShown->setVisible(true);
    }
  }
  SayStoreProblem();
}

void TFrmMain::PageMoved() {
  FMovedSinceOpen = true;
  TBResumeShown->setVisible(false);
}

void TFrmMain::MnuResumeClick(QObject*) {
  if (Viewer.FileName().empty()) return;
  if (!FResumeAt) {
    Beep();
    ShowStatus("没有上次阅读的位置");
    return;
  }
  Memo->setFocus();
  if (Viewer.JumpToPage(*FResumeAt)) ShowStatus("已回到上次阅读的位置：" + Viewer.Where());
}

std::vector<TBookmark> TFrmMain::Bookmarks() const {
  const std::optional<TFileRecord> Record = Store.Record(Viewer.FileName());
  std::vector<TBookmark> Marks = Record ? Record->Bookmarks : std::vector<TBookmark>();
  std::reverse(Marks.begin(), Marks.end());
  return Marks;
}

void TFrmMain::MnuAddBookmarkClick(QObject*) {
  if (Viewer.FileName().empty()) return;
  if (Viewer.FileSize() == 0) {
    Beep();
    return;
  }
  TBookmark Mark;
  Mark.Offset = Viewer.PageStart();
  Mark.Chapter = LblChapter->Text().toStdString();
  Mark.Excerpt = Memo->toPlainText().simplified().left(30).toStdString();
  Mark.Added = QDateTime::currentSecsSinceEpoch();
  Store.Update(Viewer.FileName(), [&](TFileRecord& Record) { Record.Bookmarks.push_back(Mark); });
  ShowStatus("已添加书签：" + Viewer.Where());
  SayStoreProblem();
  if (BookmarkWin->isVisible()) ShowBookmarks();
}

void TFrmMain::ShowBookmarks(std::size_t Current) {
  std::vector<TBookmarkWindow::TRow> Rows;
  for (const TBookmark& Mark : Bookmarks())
    Rows.push_back({ShareOf(Mark.Offset, Viewer.FileSize()), Mark.Chapter, Mark.Excerpt,
                    QDateTime::fromSecsSinceEpoch(Mark.Added).toString(QStringLiteral("yyyy-MM-dd")).toStdString()});
  BookmarkWin->ShowRows(Rows, Current);
}

void TFrmMain::MnuBookmarksClick(QObject*) {
  if (Viewer.FileName().empty()) return;
  ShowBookmarks();
  BookmarkWin->Open();
}

void TFrmMain::BookmarkWinJump(QObject*, std::size_t Row) {
  const std::vector<TBookmark> Marks = Bookmarks();
  if (Row >= Marks.size()) return;
  activateWindow();
  Memo->setFocus();
  if (Viewer.JumpToPage(Marks[Row].Offset)) ShowStatus("已转到书签：" + Viewer.Where());
}

void TFrmMain::BookmarkWinDelete(QObject*, std::size_t Row) {
  const std::vector<TBookmark> Marks = Bookmarks();
  if (Row >= Marks.size()) return;
  const TBookmark Gone = Marks[Row];
  Store.Update(Viewer.FileName(), [&](TFileRecord& Record) {
    const auto At = std::find(Record.Bookmarks.begin(), Record.Bookmarks.end(), Gone);
    if (At != Record.Bookmarks.end()) Record.Bookmarks.erase(At);
  });
  SayStoreProblem();
  ShowBookmarks(Row);  // the next one takes its place
}

void TFrmMain::MnuRememberClick(QObject*) {
  const bool On = MnuRemember->isChecked();
  // The chapter lists go first: their folder is inside the one the store takes away.
  if (!On) Viewer.KeptChapters().Clear();
  Store.SetRemember(On);
  KeepChapters();
  if (On) {
    KeepSettings();
    ShowStatus("将记住阅读位置和设置");
  } else {
    ShowStatus("已不再记住阅读位置和设置，保存的记录已清除");
  }
  SayStoreProblem();
}

void TFrmMain::MnuClearReadingClick(QObject*) {
  Store.ClearReading();
  Viewer.KeptChapters().Clear();
  FResumeAt.reset();
  TBResumeShown->setVisible(false);
  ShowStatus("已清除所有阅读位置、书签和保存的目录");
  SayStoreProblem();
}
