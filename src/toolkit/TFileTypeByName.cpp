#include "TFileTypeByName.h"

#include <QFileInfo>
#include <QMimeDatabase>

QIcon TFileTypeByName::icon(const QFileInfo& Info) const {
  if (Info.isRoot()) return icon(Drive);
  if (Info.isDir()) return icon(Folder);
  return icon(File);
}

QString TFileTypeByName::type(const QFileInfo& Info) const {
  // Type names come from the type database, in the program's language: Qt's own words for a folder
  // or a drive have no translation.
  const QMimeDatabase Types;
  if (Info.isRoot()) return Types.mimeTypeForName(QStringLiteral("inode/mount-point")).comment();
  if (Info.isDir()) return Types.mimeTypeForName(QStringLiteral("inode/directory")).comment();
  // The bare name, so the database cannot look at the file itself.
  const QMimeType Mime = Types.mimeTypeForFile(Info.fileName(), QMimeDatabase::MatchExtension);
  return Mime.comment().isEmpty() ? Mime.name() : Mime.comment();
}
