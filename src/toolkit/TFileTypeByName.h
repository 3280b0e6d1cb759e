#pragma once

#include <QFileIconProvider>

// The icons and type names of the open dialog's file list, told from each entry's name and kind
// alone. Qt's own provider guesses a file's type from its content, on the GUI thread: a file whose
// read never returns (/proc/kmsg) would hang the whole program while its folder is listed. Here no
// file is ever opened to draw the list.
class TFileTypeByName : public QFileIconProvider {
public:
  QIcon icon(IconType Type) const override { return QFileIconProvider::icon(Type); }
  QIcon icon(const QFileInfo& Info) const override;
  QString type(const QFileInfo& Info) const override;
};
