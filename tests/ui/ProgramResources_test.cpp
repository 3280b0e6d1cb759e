#include "ProgramResources.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <QImage>

TEST(ProgramResources, ApplicationIconIsOurPicture) {
  const QIcon Before = QApplication::windowIcon();
  SetProgramIcon();
  const QImage Picture = QApplication::windowIcon().pixmap(QSize(32, 32)).toImage();
  QApplication::setWindowIcon(Before);
  ASSERT_EQ(Picture.size(), QSize(32, 32));
  EXPECT_EQ(Picture.pixelColor(0, 0), QColor(0xFF, 0x00, 0x00)); // the red border
  EXPECT_EQ(Picture.pixelColor(3, 2), QColor(0x00, 0x00, 0x80)); // the blue ground
}
