#include "TGoToDialog.h"

#include <QInputDialog>
#include <QLineEdit>

bool TGoToDialog::Execute(QWidget* Owner, std::string& Where) {
  QInputDialog Dialog(Owner);
  Dialog.setWindowTitle(QStringLiteral("转到位置"));
  Dialog.setLabelText(QStringLiteral("百分比（如 37.5%）或字节位置："));
  Dialog.setInputMode(QInputDialog::TextInput);
  Dialog.setTextValue(QString::fromStdString(Where));
  Dialog.setOkButtonText(QStringLiteral("转到"));
  Dialog.setCancelButtonText(QStringLiteral("取消"));
  if (Dialog.exec() != QDialog::Accepted) return false;
  Where = Dialog.textValue().toStdString();
  return true;
}
