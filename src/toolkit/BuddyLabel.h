#pragma once

#include <QGridLayout>
#include <QLabel>
#include <QString>
#include <QWidget>

// Puts a caption whose access key (the & in Text) moves the focus to Buddy in a form's grid.
inline QLabel* AddBuddyLabel(QGridLayout& Grid, const QString& Text, QWidget* Buddy, int Row, int Column,
                             Qt::Alignment Alignment = {}) {
  auto* Label = new QLabel(Text, Grid.parentWidget());
  Label->setBuddy(Buddy);
  Grid.addWidget(Label, Row, Column, Alignment);
  return Label;
}
