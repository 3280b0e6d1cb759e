#pragma once

#include <QStringList>

#include <memory>
#include <string>

class QWidget;

// The dialog that picks one existing file to open. It keeps its settings between runs; a confirmed
// run leaves the chosen file's full path in FileName and the filter the user ended with in
// FilterIndex, a cancelled one changes nothing. Always Qt's own dialog, so that it looks the same
// everywhere and can be driven in tests.
class TOpenDialog {
public:
  TOpenDialog();
  TOpenDialog(TOpenDialog&&) noexcept;
  TOpenDialog& operator=(TOpenDialog&&) noexcept;
  ~TOpenDialog();

  // Pairs of description and patterns, all separated by "|": "文本文件(*.Txt)|*.txt|所有文件(*.*)|*.*".
  // Several patterns of one filter are separated by ";".
  std::string Filter;
  int FilterIndex = 1;      // the selected filter, counted from 1
  std::string DefaultExt;   // added to a name typed without an extension, without the dot
  std::string InitialDir;   // where the first run starts when FileName names no folder
  std::string Title;        // the dialog's caption; empty: Qt's own
  std::string FileName;     // the full path, in the file system's encoding

  // Runs the dialog modally over Owner; true when the user confirmed a file.
  bool Execute(QWidget* Owner = nullptr);

  // The Qt name filters for Filter: "description (patterns)" for each pair.
  static QStringList NameFilters(const std::string& Filter);

private:
  class TFinished;
  std::unique_ptr<TFinished> FFinished; // the dialog of the last run, until its owner has painted
};
