#include "Publishing.h"

#include "TestFiles.h"

#include <QProcess>

bool writeTree(const QString &root, const FileTree &tree)
{
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        if (!writeFile(root + QLatin1Char('/') + it.key(), it.value()))
            return false;
    }
    return true;
}

FileTree readTree(const QString &root)
{
    FileTree tree;
    for (const QString &path : filesBelow(root))
        tree.insert(path, readFile(root + QLatin1Char('/') + path));
    return tree;
}

ToolRun runTool(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
