#include "StreamDigest.h"
#include "TestFiles.h"
#include "Util.h"

#include <QtTest>

#include <memory>

// Permission bits in octal (owner, group, others), from Qt's flags.
static int fileMode(const QString &path)
{
    const int flags = int(QFile::permissions(path));
    return (flags >> 12 & 7) << 6 | (flags >> 4 & 7) << 3 | (flags & 7);
}

static bool setFileMode(const QString &path, int mode)
{
    return QFile::setPermissions(
        path, QFileDevice::Permissions((mode >> 6 & 7) << 12 | (mode >> 3 & 7) << 4 | (mode & 7)));
}

class TestFileUtils : public QObject
{
    Q_OBJECT

    QString path(const QString &relative) const { return root->filePath(relative); }
    std::unique_ptr<QTemporaryDir> root;
    std::unique_ptr<QTemporaryDir> shm;

private slots:
    void init()
    {
        root = std::make_unique<QTemporaryDir>();
        QVERIFY(root->isValid() && writeFile(path("Game/blocker"), "a file")
            && writeFile(path("Game/folder/x"), "x"));
    }

    void sizeText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("expected");
        const QList<QPair<qint64, const char *>> rows
            = {{0, "0.00 Bytes"}, {1023, "1023.00 Bytes"}, {1024, "1.00 KB"}, {1536, "1.50 KB"},
                {1048575, "1024.00 KB"}, {1048576, "1.00 MB"}, {1073741824, "1.00 GB"},
                {Q_INT64_C(5497558138880), "5120.00 GB"}, {-5000000, "-5000000.00 Bytes"}};
        for (const auto &row : rows)
            QTest::addRow("%lld", row.first) << row.first << QString(row.second);
    }
    void sizeText()
    {
        QFETCH(qint64, bytes);
        QTEST(LTools::sizeText(bytes), "expected");
    }

    // Read in blocks; an unreadable file has no digest, not even that of empty content.
    void digests()
    {
        for (const QByteArray &content : {QByteArray(), patterned(1 << 20), patterned((1 << 20) + 1)}) {
            QVERIFY(writeFile(path("f"), content));
            QCOMPARE(LTools::fileMd5(path("f")).toHex(), md5Hex(content));
            QVERIFY(LTools::checkFileMd5(path("f"), md5Hex(content)));
            QVERIFY(!LTools::checkFileMd5(path("f"), md5Hex(content).toUpper()));
        }
        for (const QString &unreadable : {path("missing"), path("Game/folder")})
            QVERIFY(LTools::fileMd5(unreadable).isEmpty() && !LTools::checkFileMd5(unreadable, md5Hex("")));
    }

    void copyFile_data()
    {
        QTest::addColumn<QString>("source"); // below the download folder; missing when it starts with "none"
        QTest::addColumn<QString>("target"); // below Game/
        QTest::addColumn<int>("targetMode"); // -1: no target yet
        QTest::addColumn<bool>("keepSource");
        QTest::addColumn<bool>("otherFileSystem"); // installing cannot be a rename there
        QTest::addColumn<int>("expectedMode"); // -1: not executable; -2: refused

        const auto row = [](const char *tag, const char *target, int targetMode, bool keepSource,
                             bool otherFs, int expectedMode, const char *source = "a.pak") {
            QTest::newRow(tag) << QString(source) << QString(target) << targetMode << keepSource << otherFs
                               << expectedMode;
        };
        row("moved over a file", "data/a.pak", 0644, false, false, 0644);
        row("moved into new folders", "new/deeper/a.pak", -1, false, false, -1);
        row("copied, kept", "data/a.pak", 0644, true, false, 0644);
        row("other file system, moved", "data/a.pak", 0644, false, true, 0644);
        // Execute bits are those of the file replaced; a new ".exe" can be started.
        row("replaced executable, moved", "Launcher.exe", 0755, false, false, 0755);
        row("replaced executable, copied", "Launcher.exe", 0755, true, false, 0755);
        row("replaced private file, other fs", "secret.dat", 0600, false, true, 0600);
        row("new exe, moved", "ZARK.exe", -1, false, false, 0755);
        row("new exe, copied", "newLauncher.exe", -1, true, false, 0755);
        row("new exe, other fs", "ZARK.exe", -1, false, true, 0755);
        // On failure the target and the source stay as they were.
        row("non-empty folder at the target", "folder", -1, false, false, -2);
        row("folder at the target, other fs", "folder", -1, false, true, -2);
        row("new exe under a file", "blocker/ZARK.exe", -1, false, false, -2, "ZARK.exe");
        row("missing source", "data/a.pak", 0644, false, false, -2, "none.pak");
    }
    void copyFile()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(int, targetMode);
        QFETCH(bool, keepSource);
        QFETCH(int, expectedMode);

        QFETCH(bool, otherFileSystem);
        QString downloads = path("Update");
        if (otherFileSystem) {
            shm = std::make_unique<QTemporaryDir>("/dev/shm/fileutils-XXXXXX");
            if (!shm->isValid())
                QSKIP("no second file system (/dev/shm) here");
            downloads = shm->path();
        }
        const QByteArray content = patterned(3 * (1 << 20) + 11);
        const QString sourcePath = downloads + '/' + source;
        const QString targetPath = path("Game/" + target);
        QVERIFY(
            source.startsWith("none") || (writeFile(sourcePath, content) && setFileMode(sourcePath, 0644)));
        if (targetMode >= 0)
            QVERIFY(writeFile(targetPath, "old installed content") && setFileMode(targetPath, targetMode));
        const auto before = snapshot(root->path());
        const auto downloadsBefore = snapshot(downloads);

        QCOMPARE(LTools::copyFile(sourcePath, targetPath, keepSource, true), expectedMode != -2);
        if (expectedMode == -2) {
            QCOMPARE(snapshot(root->path()), before);
            QCOMPARE(snapshot(downloads), downloadsBefore);
            QCOMPARE(fileMode(sourcePath), source.startsWith("none") ? 0 : 0644);
            return;
        }
        QCOMPARE(readFile(targetPath), content);
        QCOMPARE(readFile(sourcePath), keepSource ? content : QByteArray("(unreadable)"));
        // No temporary file beside the target or the source.
        QCOMPARE(filesBelow(root->path()).filter(".part"), QStringList());
        QCOMPARE(filesBelow(downloads).size(), keepSource ? 1 : 0);
        const int mode = fileMode(targetPath);
        QCOMPARE(QString::number(expectedMode < 0 ? mode & 0111 : mode, 8),
            QString::number(qMax(expectedMode, 0), 8));
        QCOMPARE(fileMode(sourcePath), keepSource ? 0644 : 0);
        // Saving over a file replaces it in one step and keeps its mode too.
        QVERIFY(LTools::saveFile(targetPath, "saved again") && readFile(targetPath) == "saved again");
        QCOMPARE(fileMode(targetPath), mode);
        QCOMPARE(filesBelow(root->path()).filter(".part"), QStringList());
    }

    // It used to end by deleting the file.
    void copyFileOntoItself()
    {
        QVERIFY(writeFile(path("a.pak"), "content")
            && LTools::copyFile(path("a.pak"), path("a.pak"), false, true));
        QCOMPARE(readFile(path("a.pak")), QByteArray("content"));
    }

    // The digest must not depend on whether the worker thread hashed it, nor on the cuts; after
    // reset() it starts from nothing.
    void streamDigest()
    {
        StreamDigest digest;
        for (const int size : {5000, 1 << 20, (1 << 20) + 1, 24 * 1024 * 1024 + 7}) {
            const QByteArray content = patterned(size, 5);
            for (int at = 0; at < size; at += 1000003)
                digest.addData(content.constData() + at, qMin(1000003, size - at));
            QCOMPARE(digest.result().toHex(), md5Hex(content));
            digest.reset();
        }
        QCOMPARE(digest.result().toHex(), md5Hex(QByteArray()));
    }
};

QTEST_GUILESS_MAIN(TestFileUtils)
#include "tst_fileutils.moc"
