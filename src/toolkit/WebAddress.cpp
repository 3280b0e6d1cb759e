#include "WebAddress.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

bool OpenWebAddress(const std::string& Url) {
  return QDesktopServices::openUrl(QUrl(QString::fromStdString(Url)));
}
