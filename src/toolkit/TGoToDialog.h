#pragma once

#include <string>

class QWidget;

// The Go To dialog: one line that takes a share of the file ("37.5%") or a byte offset, preset with
// the place of the page on screen and selected, so typing replaces it. Modal over Owner.
class TGoToDialog {
public:
  // On confirm, true and Where holds what the reader typed (UTF-8); Where is the preset going in.
  static bool Execute(QWidget* Owner, std::string& Where);
};
