#include "WebAddress.h"
#include "toolkit/RecordingBrowser.h"

#include <gtest/gtest.h>

TEST(WebAddress, AddressGoesToTheDesktopsHandler) {
  TRecordingBrowser Browser;
  OpenWebAddress("https://example.org/pagorin/中文.html");
  ASSERT_EQ(Browser.Opened.size(), 1);
  EXPECT_EQ(Browser.Opened.first(), QUrl(QString::fromUtf8("https://example.org/pagorin/中文.html")));
}
