#include "WebAddress.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QObject>
#include <QUrl>

namespace {

// Stands in for the web browser: receives what the desktop would open.
class TBrowser : public QObject {
  Q_OBJECT
public:
  QList<QUrl> Opened;
public slots:
  void Open(const QUrl& Url) { Opened << Url; }
};

} // namespace

TEST(WebAddress, AddressGoesToTheDesktopsHandler) {
  TBrowser Browser;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &Browser, "Open");
  OpenWebAddress("https://example.org/pagorin/中文.html");
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  ASSERT_EQ(Browser.Opened.size(), 1);
  EXPECT_EQ(Browser.Opened.first(), QUrl(QString::fromUtf8("https://example.org/pagorin/中文.html")));
}

#include "WebAddress_test.moc"
