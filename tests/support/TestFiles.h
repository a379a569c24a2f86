#ifndef TESTFILES_H
#define TESTFILES_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// File helpers shared by the tests.

// Writes content to path, creating its folders.
bool writeFile(const QString &path, const QByteArray &content);
// The file's bytes; "(unreadable)" when it cannot be read, so a missing file never equals an empty one.
QByteArray readFile(const QString &path);
QByteArray md5Hex(const QByteArray &content);
// Deterministic bytes that differ from one seed to another.
QByteArray patterned(int size, int seed = 0);
// Every folder and file below root (hidden ones too), files with their content: comparing two
// snapshots shows that nothing was written, moved or left behind.
QMap<QString, QByteArray> snapshot(const QString &root);
// Relative paths of all files below root, hidden temporary ones included, sorted.
QStringList filesBelow(const QString &root);

#endif
