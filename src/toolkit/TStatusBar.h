#pragma once

#include <QPointer>
#include <QString>
#include <QStatusBar>

#include <memory>
#include <string>
#include <vector>

class QLabel;
class TStatusBar;

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TStatusPanelBevel { pbNone, pbLowered, pbRaised };

// One panel of a TStatusBar. Its text is bytes in the ANSI code page (GBK). A new text is stored at
// once but reaches the screen only when the bar next paints, so a message set in the middle of a long
// command shows after the command returns, and a text set many times in between is drawn once. A text
// too wide for the panel shows cut with an ellipsis and whole in the panel's tooltip.
class TStatusPanel {
public:
  TStatusPanel(const TStatusPanel&) = delete;
  TStatusPanel& operator=(const TStatusPanel&) = delete;

  const std::string& Text() const { return FText; }
  // The same text again does nothing, not even a repaint.
  void SetText(const std::string& Value);

  // Pixels; the panel's right edge is the sum of its width and those of the panels before it.
  int Width() const { return FWidth; }
  void SetWidth(int Value);

  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment Value);

  TStatusPanelBevel Bevel() const { return FBevel; }
  void SetBevel(TStatusPanelBevel Value);

private:
  friend class TStatusBar;
  TStatusPanel(TStatusBar& Bar, QLabel& Label, int Width);
  void Invalidate();
  void HandOver();
  void Fit();

  TStatusBar& Bar;
  QLabel& Label;
  std::string FText;
  QString FShown; // FText decoded, as handed over
  int FWidth;
  TAlignment FAlignment = taLeftJustify;
  TStatusPanelBevel FBevel = pbLowered;
  bool FDirty = true; // the label does not show FText yet
};

// The status bar, standing on QStatusBar. Its panels are labels that it places itself at the running
// sums of the panel widths (QStatusBar's own layout would add margins and spacing between them), the
// last one running to the right end of the bar whatever its width. Panel texts reach the labels as the
// window's paint pass begins, so that each label is drawn once in it, never through showMessage,
// which would hide the panels. It draws in the system's status bar font, not the window's, and is 19
// pixels high unless that font needs more.
class TStatusBar : public QStatusBar {
  Q_OBJECT

public:
  explicit TStatusBar(QWidget* parent = nullptr);
  ~TStatusBar() override;

  // Panel Index, counted from 0; outside the panels raises EListError "List index out of bounds (<Index>)".
  TStatusPanel& Panels(int Index);
  int PanelCount() const { return static_cast<int>(FPanels.size()); }
  // Adds a panel after the last one.
  TStatusPanel& AddPanel(int Width = 50, const std::string& Text = std::string());

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

private:
  friend class TStatusPanel;
  void HandOverAtNextPaintPass();
  void HandOver();
  void PlacePanels();
  int BarHeight() const;

  std::vector<std::unique_ptr<TStatusPanel>> FPanels;
  QPointer<QWidget> FWatchedWindow; // whose paint passes hand the texts over
};
