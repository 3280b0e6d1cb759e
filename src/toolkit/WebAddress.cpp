#include "WebAddress.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

void OpenWebAddress(const std::string& Url) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(Url)));
}
