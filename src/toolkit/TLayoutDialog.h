#pragma once

#include "PageRows.h"

class QWidget;

// Setup > 版式: the page's layout, field by field (行距, 段距, 页边距, 每行最多字数, 避头尾), with the
// two ready layouts 原样 and 书页 a click away. Modal over Owner.
class TLayoutDialog {
public:
  // On confirm, true and Layout holds what the reader set; Layout is the preset going in.
  static bool Execute(QWidget* Owner, TLayoutSettings& Layout);

  // The largest margin (pixels) and column (characters) the fields take.
  static constexpr int MaxMargin = 400;
  static constexpr int MaxColumns = 500;
};
