#include "TFileTypeByName.h"

#include <QFileInfo>
#include <QMimeDatabase>

QIcon TFileTypeByName::icon(const QFileInfo& Info) const {
  if (Info.isRoot()) return icon(Drive);
  if (Info.isDir()) return icon(Folder);
  return icon(File);
}

QString TFileTypeByName::type(const QFileInfo& Info) const {
  if (Info.isRoot() || Info.isDir()) return QFileIconProvider::type(Info);
  // The bare name, so the database cannot look at the file itself.
  const QMimeType Mime = QMimeDatabase().mimeTypeForFile(Info.fileName(), QMimeDatabase::MatchExtension);
  return Mime.comment().isEmpty() ? Mime.name() : Mime.comment();
}
