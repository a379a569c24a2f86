#include "GameFolder.h"
#include "LogFile.h"
#include "ProcessHelpers.h"
#include "TestFiles.h"

#include <QtTest>

// debug.log: emptied at each start, then one "Type: message" line per message, UTF-8 with line
// feeds as they stand.
class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void lines()
    {
        GameFolder folder;
        GameFolder::WorkingDirectory cwd(folder);
        QVERIFY(writeFile("debug.log", "left over from the previous start\r\n"));
        resetLogFile();
        for (const QtMsgType type : {QtDebugMsg, QtWarningMsg, QtCriticalMsg, QtInfoMsg})
            logMessageHandler(type, QMessageLogContext(), "遊戲 100% %1");
        logMessageHandler(QtDebugMsg, QMessageLogContext(), "two\nlines");
        QCOMPARE(readFile("debug.log"),
            "Debug: 遊戲 100% %1\nWarning: 遊戲 100% %1\nCritical: 遊戲 100% %1\n\nDebug: two\nlines\n");
    }
    void fatalLineWrittenBeforeAbort()
    {
        QTemporaryDir dir;
        QProcess child;
        child.setWorkingDirectory(dir.path());
        ProcessHelpers::startHelper(child, {"fatal", "致命錯誤"});
        QVERIFY(child.waitForFinished(10000) && child.exitStatus() == QProcess::CrashExit);
        QCOMPARE(readFile(dir.filePath("debug.log")), "Fatal: 致命錯誤\n");
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
