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

namespace {

// A spacing in tenths, as a reader thinks of it: 1.5 倍.
QDoubleSpinBox* NewTenthsBox(QDialog& Dialog, const char* Name, double Minimum, double Maximum, const QString& Unit) {
  auto* Box = new QDoubleSpinBox(&Dialog);
  Box->setObjectName(QLatin1String(Name));
  Box->setRange(Minimum, Maximum);
  Box->setSingleStep(0.1);
  Box->setDecimals(1);
  Box->setSuffix(Unit);
  return Box;
}

QSpinBox* NewCountBox(QDialog& Dialog, const char* Name, int Maximum, const QString& Unit) {
  auto* Box = new QSpinBox(&Dialog);
  Box->setObjectName(QLatin1String(Name));
  Box->setRange(0, Maximum);
  Box->setSuffix(Unit);
  return Box;
}

}  // namespace

bool TLayoutDialog::Execute(QWidget* Owner, TLayoutSettings& Layout) {
  QDialog Dialog(Owner);
  Dialog.setWindowTitle(QStringLiteral("版式"));
  auto* Spacing = NewTenthsBox(Dialog, "LineSpacing", 1.0, 3.0, QStringLiteral(" 倍"));
  auto* Paragraph = NewTenthsBox(Dialog, "ParagraphSpacing", 0.0, 2.0, QStringLiteral(" 行"));
  auto* Margin = NewCountBox(Dialog, "Margin", MaxMargin, QStringLiteral(" 像素"));
  auto* Columns = NewCountBox(Dialog, "MaxColumns", MaxColumns, QStringLiteral(" 字"));
  Columns->setSpecialValueText(QStringLiteral("不限"));
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
  const auto AddPreset = [&](const QString& Text, const char* Name, const TLayoutSettings& Preset) {
    auto* Button = new QPushButton(Text, &Dialog);
    Button->setObjectName(QLatin1String(Name));
    Button->setAutoDefault(false);
    QObject::connect(Button, &QPushButton::clicked, &Dialog, [&Show, Preset] { Show(Preset); });
    Presets->addWidget(Button);
  };
  AddPreset(QStringLiteral("原样(&O)"), "Original", TLayoutSettings::Original());
  AddPreset(QStringLiteral("书页(&K)"), "Book", TLayoutSettings::Book());
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
