#pragma once

#include "ChapterRules.h"

#include <QDialog>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

// 编辑规则: the rules that find chapter headings, to view and change. A list of the rules by name, each
// with a check box (启用: tried when a book's rule is chosen), and beside it the chosen rule's name and
// pattern. The built-in rules come first: they can be edited and turned off, not removed, and
// 恢复默认规则 brings them back as they came (the reader's own rules stay). 添加 adds a rule of the
// reader's own. 应用 and 确定 hand the rules to OnApply, which checks every pattern: a fault is said here
// and nothing is taken; 确定 then closes. A rule added is the one the table of contents uses from then
// on, as a reader who writes a rule means it for the book at hand.
class TChapterRulesDialog : public QDialog {
  Q_OBJECT

public:
  // Pick: the rule the reader picked among Rules (none: chosen per book).
  TChapterRulesDialog(std::vector<TChapterRule> Rules, std::optional<std::size_t> Pick, QWidget* Parent);

  // The rules and the pick to use: the answer is empty, or why they cannot be used.
  std::function<std::string(const std::vector<TChapterRule>& Rules, std::optional<std::size_t> Pick)> OnApply;

  QListWidget* RuleList;
  QLineEdit* NameField;
  QPlainTextEdit* PatternField;
  QPushButton* AddButton;
  QPushButton* RemoveButton;
  QPushButton* RestoreButton;
  QLabel* FaultLabel;
  QDialogButtonBox* Buttons;

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  // Hands the rules over unless they are the ones handed over last; false when they were refused.
  bool Apply();
  void FillList();
  // Shows the chosen rule's name and pattern, and what may be done with it.
  void ShowRule();
  void SetFault(const std::string& Fault);

  const std::vector<TChapterRule> FBuiltIns;  // the first rules are these, edited or not
  std::vector<TChapterRule> FRules;
  // Each row's place in the rules handed over last (none: added since), to keep the pick on its rule.
  std::vector<std::optional<std::size_t>> FOrigins;
  std::vector<TChapterRule> FApplied;
  std::optional<std::size_t> FPick;  // among FApplied
};
