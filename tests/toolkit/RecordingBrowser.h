#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

// Stands in for the web browser while it lives: receives every https address the desktop would open.
class TRecordingBrowser : public QObject {
  Q_OBJECT
public:
  TRecordingBrowser() { QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "Open"); }
  ~TRecordingBrowser() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

  QList<QUrl> Opened;

public slots:
  void Open(const QUrl& Url) { Opened << Url; }
};
