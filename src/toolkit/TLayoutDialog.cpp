#include "TLayoutDialog.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

bool TLayoutDialog::Execute(QWidget* Owner, TLayoutSettings& Layout) {
  QDialog Dialog(Owner);
  Dialog.setWindowTitle(QStringLiteral("版式"));
  auto* Spacing = new QDoubleSpinBox(&Dialog);
  Spacing->setObjectName(QStringLiteral("LineSpacing"));
  Spacing->setRange(1.0, 3.0);
  Spacing->setSingleStep(0.1);
  Spacing->setDecimals(1);
  Spacing->setSuffix(QStringLiteral(" 倍"));
  auto* Paragraph = new QDoubleSpinBox(&Dialog);
  Paragraph->setObjectName(QStringLiteral("ParagraphSpacing"));
  Paragraph->setRange(0.0, 2.0);
  Paragraph->setSingleStep(0.1);
  Paragraph->setDecimals(1);
  Paragraph->setSuffix(QStringLiteral(" 行"));
  auto* Margin = new QSpinBox(&Dialog);
  Margin->setObjectName(QStringLiteral("Margin"));
  Margin->setRange(0, MaxMargin);
  Margin->setSuffix(QStringLiteral(" 像素"));
  auto* Columns = new QSpinBox(&Dialog);
  Columns->setObjectName(QStringLiteral("MaxColumns"));
  Columns->setRange(0, MaxColumns);
  Columns->setSpecialValueText(QStringLiteral("不限"));
  Columns->setSuffix(QStringLiteral(" 字"));
  auto* Rules = new QCheckBox(QStringLiteral("避头尾（标点不在行首、行尾）(&B)"), &Dialog);
  Rules->setObjectName(QStringLiteral("BreakRules"));
  const auto Show = [&](const TLayoutSettings& Value) {
    Spacing->setValue(Value.LineSpacing);
    Paragraph->setValue(Value.ParagraphSpacing);
    Margin->setValue(Value.Margin);
    Columns->setValue(Value.MaxColumns);
    Rules->setChecked(Value.BreakRules);
  };
  Show(Layout);

  auto* Form = new QFormLayout;
  Form->addRow(QStringLiteral("行距(&L)："), Spacing);
  Form->addRow(QStringLiteral("段距(&P)："), Paragraph);
  Form->addRow(QStringLiteral("页边距(&M)："), Margin);
  Form->addRow(QStringLiteral("每行最多字数(&C)："), Columns);
  Form->addRow(Rules);
  auto* Presets = new QHBoxLayout;
  auto* Original = new QPushButton(QStringLiteral("原样(&O)"), &Dialog);
  Original->setObjectName(QStringLiteral("Original"));
  Original->setAutoDefault(false);
  auto* Book = new QPushButton(QStringLiteral("书页(&K)"), &Dialog);
  Book->setObjectName(QStringLiteral("Book"));
  Book->setAutoDefault(false);
  QObject::connect(Original, &QPushButton::clicked, &Dialog, [&] { Show(TLayoutSettings::Original()); });
  QObject::connect(Book, &QPushButton::clicked, &Dialog, [&] { Show(TLayoutSettings::Book()); });
  Presets->addWidget(Original);
  Presets->addWidget(Book);
  Presets->addStretch();
  auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &Dialog);
  Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  QObject::connect(Buttons, &QDialogButtonBox::accepted, &Dialog, &QDialog::accept);
  QObject::connect(Buttons, &QDialogButtonBox::rejected, &Dialog, &QDialog::reject);
  auto* Whole = new QVBoxLayout(&Dialog);
  Whole->addLayout(Presets);
  Whole->addLayout(Form);
  Whole->addWidget(Buttons);

  if (Dialog.exec() != QDialog::Accepted) return false;
  // The spin boxes' values as they show them, so that a layout set to 原样's values is 原样.
  Layout.LineSpacing = std::round(Spacing->value() * 10) / 10;
  Layout.ParagraphSpacing = std::round(Paragraph->value() * 10) / 10;
  Layout.Margin = Margin->value();
  Layout.MaxColumns = Columns->value();
  Layout.BreakRules = Rules->isChecked();
  return true;
}
