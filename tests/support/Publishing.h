#ifndef PUBLISHING_H
#define PUBLISHING_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Releases as a studio lays them out and publishes them with the tool.

using FileTree = QMap<QString, QByteArray>; // path below a folder -> content

// Writes every file below root, creating its folders.
bool writeTree(const QString &root, const FileTree &tree);
// Every file below root (hidden ones too) with its content.
FileTree readTree(const QString &root);

struct ToolRun
{
    int exitCode = -1; // -1 when the program did not end normally in time
    QString out;
    QString err;
};
ToolRun runTool(const QString &program, const QStringList &arguments, int timeoutMs = 120000);

#ifdef PUBLISH_PATH
// Tests that run the publishing tool are built with its path.
inline ToolRun publish(const QStringList &arguments)
{
    return runTool(QStringLiteral(PUBLISH_PATH), arguments);
}
#endif

#endif
