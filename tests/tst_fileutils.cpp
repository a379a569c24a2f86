#include "TestFiles.h"
#include "Util.h"

#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

// A folder on another file system than the test's temporary folder, or empty.
QString otherFileSystemRoot()
{
    const QString shm = QStringLiteral("/dev/shm");
    return QFileInfo(shm).isDir() && QFileInfo(shm).isWritable() ? shm : QString();
}

#ifdef Q_OS_UNIX
int modeOf(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

bool setMode(const QString &path, int mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}
#endif

const QByteArray EmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";

} // namespace

class TestFileUtils : public QObject
{
    Q_OBJECT

private slots:
    void saveFileCreatesThreeFolderLevels();
    void saveFileReplaces_data();
    void saveFileReplaces();
    void saveFileRefused_data();
    void saveFileRefused();

    void digests_data();
    void digests();
    void unreadableFileHasNoDigest_data();
    void unreadableFileHasNoDigest();

    void copyFileInstalls_data();
    void copyFileInstalls();
    void copyFileFailureKeepsBothFiles_data();
    void copyFileFailureKeepsBothFiles();
    void copyFileOntoItself();

    void modes_data();
    void modes();

    void stagedFileDiscardedLeavesNothing();
};

void TestFileUtils::saveFileCreatesThreeFolderLevels()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("one/two/three/file.bin"));
    QVERIFY(LTools::saveFile(path, QByteArray("payload")));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("one/two/three"))).isDir());
    QCOMPARE(readFile(path), QByteArray("payload"));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("one/two/three"))).entryList(QDir::Files | QDir::Hidden),
        QStringList {QStringLiteral("file.bin")});
}

void TestFileUtils::saveFileReplaces_data()
{
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("new file") << QByteArray() << QByteArray("fresh");
    QTest::newRow("shorter over longer") << QByteArray("a much longer old content") << QByteArray("short");
    QTest::newRow("empty truncates") << QByteArray("old content") << QByteArray();
    QTest::newRow("several blocks") << QByteArray("old") << patterned(3 * 1024 * 1024 + 7);
}

void TestFileUtils::saveFileReplaces()
{
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, data);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("file.bin"));
    if (!old.isEmpty())
        QVERIFY(writeFile(path, old));
    QVERIFY(LTools::saveFile(path, data));
    QCOMPARE(readFile(path), data);
    QCOMPARE(
        QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {QStringLiteral("file.bin")});
}

void TestFileUtils::saveFileRefused_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("parent is a regular file") << QStringLiteral("blocker/file.bin");
    QTest::newRow("non-empty folder at the path") << QStringLiteral("folder");
}

void TestFileUtils::saveFileRefused()
{
    QFETCH(QString, target);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("blocker")), "i am a file"));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("folder/inside")), "keep me"));
    const auto before = snapshot(dir.path());
    QVERIFY(!LTools::saveFile(dir.filePath(target), QByteArray("data")));
    QCOMPARE(snapshot(dir.path()), before);
}

void TestFileUtils::digests_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("short") << QByteArray("abc");
    QTest::newRow("exactly one block") << patterned(1 << 20);
    QTest::newRow("one block and a byte") << patterned((1 << 20) + 1);
    QTest::newRow("several blocks") << patterned(5 * (1 << 20) - 3);
}

void TestFileUtils::digests()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f"));
    QVERIFY(writeFile(path, content));
    const QByteArray expected = QCryptographicHash::hash(content, QCryptographicHash::Md5);

    QCOMPARE(LTools::fileMd5(path), expected);
    QVERIFY(LTools::checkFileMd5(path, expected.toHex()));
    QVERIFY(!LTools::checkFileMd5(path, expected.toHex().toUpper()));
    QVERIFY(!LTools::checkFileMd5(path, expected.toHex().left(31)));
    QVERIFY(!LTools::checkFileMd5(path, md5Hex(content + 'x')));
}

void TestFileUtils::unreadableFileHasNoDigest_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing") << QStringLiteral("missing.bin");
    QTest::newRow("folder at the path") << QStringLiteral("folder");
}

void TestFileUtils::unreadableFileHasNoDigest()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("folder")));
    const QString path = dir.filePath(name);
    QVERIFY(LTools::fileMd5(path).isEmpty());
    // Not even the digest of empty content: an unreadable file is not an empty one.
    QVERIFY(!LTools::checkFileMd5(path, EmptyDigest));
}

void TestFileUtils::copyFileInstalls_data()
{
    QTest::addColumn<bool>("keepSource");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<bool>("otherFileSystem");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("targetExists");

    const QString existing = QStringLiteral("Game/data/a.pak");
    const QString nested = QStringLiteral("Game/new/deeper/a.pak");
    QTest::newRow("move over existing") << false << true << false << existing << true;
    QTest::newRow("move into missing folders") << false << true << false << nested << false;
    QTest::newRow("keep source, verified") << true << true << false << existing << true;
    QTest::newRow("keep source, unverified") << true << false << false << existing << true;
    QTest::newRow("other file system, moved") << false << true << true << existing << true;
    QTest::newRow("other file system, kept") << true << true << true << nested << false;
    QTest::newRow("other file system, unverified") << false << false << true << existing << true;
}

void TestFileUtils::copyFileInstalls()
{
    QFETCH(bool, keepSource);
    QFETCH(bool, verify);
    QFETCH(bool, otherFileSystem);
    QFETCH(QString, target);
    QFETCH(bool, targetExists);

    QTemporaryDir installRoot;
    std::unique_ptr<QTemporaryDir> downloadRoot;
    if (otherFileSystem) {
        const QString root = otherFileSystemRoot();
        if (root.isEmpty())
            QSKIP("no second file system (/dev/shm) here");
        downloadRoot = std::make_unique<QTemporaryDir>(root + QStringLiteral("/fileutils-XXXXXX"));
    } else {
        downloadRoot = std::make_unique<QTemporaryDir>(installRoot.filePath(QStringLiteral("Update-XXXXXX")));
    }
    QVERIFY(downloadRoot->isValid());

    const QByteArray content = patterned(3 * (1 << 20) + 11);
    const QString source = downloadRoot->filePath(QStringLiteral("a.pak"));
    const QString targetPath = installRoot.filePath(target);
    QVERIFY(writeFile(source, content));
    if (targetExists)
        QVERIFY(writeFile(targetPath, "old installed content"));

    QVERIFY(LTools::copyFile(source, targetPath, keepSource, verify));
    QCOMPARE(readFile(targetPath), content);
    QCOMPARE(QFileInfo::exists(source), keepSource);
    if (keepSource)
        QCOMPARE(readFile(source), content);
    // No temporary file beside the target or the source.
    QCOMPARE(QDir(QFileInfo(targetPath).absolutePath()).entryList(QDir::Files | QDir::Hidden),
        QStringList {QStringLiteral("a.pak")});
    QCOMPARE(QDir(downloadRoot->path()).entryList(QDir::Files | QDir::Hidden).size(), keepSource ? 1 : 0);
}

void TestFileUtils::copyFileFailureKeepsBothFiles_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("keepSource");
    QTest::addColumn<bool>("otherFileSystem");

    QTest::newRow("non-empty folder at the target")
        << QStringLiteral("Update/a.pak") << QStringLiteral("Game/folder") << false << false;
    QTest::newRow("target's parent is a file")
        << QStringLiteral("Update/a.pak") << QStringLiteral("Game/blocker/a.pak") << false << false;
    QTest::newRow("new exe under a file")
        << QStringLiteral("Update/ZARK.exe") << QStringLiteral("Game/blocker/ZARK.exe") << false << false;
    QTest::newRow("kept source, folder at the target")
        << QStringLiteral("Update/a.pak") << QStringLiteral("Game/folder") << true << false;
    QTest::newRow("other file system, folder at the target")
        << QStringLiteral("a.pak") << QStringLiteral("Game/folder") << false << true;
    QTest::newRow("missing source") << QStringLiteral("Update/none.pak") << QStringLiteral("Game/old.pak")
                                    << false << false;
}

void TestFileUtils::copyFileFailureKeepsBothFiles()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(bool, keepSource);
    QFETCH(bool, otherFileSystem);

    QTemporaryDir root;
    std::unique_ptr<QTemporaryDir> other;
    QString sourcePath = root.filePath(source);
    if (otherFileSystem) {
        if (otherFileSystemRoot().isEmpty())
            QSKIP("no second file system (/dev/shm) here");
        other = std::make_unique<QTemporaryDir>(otherFileSystemRoot() + QStringLiteral("/fileutils-XXXXXX"));
        sourcePath = other->filePath(source);
    }
    if (!source.contains(QStringLiteral("none")))
        QVERIFY(writeFile(sourcePath, "new content"));
    QVERIFY(writeFile(root.filePath(QStringLiteral("Game/blocker")), "a file, not a folder"));
    QVERIFY(writeFile(root.filePath(QStringLiteral("Game/folder/inside.txt")), "keep me"));
    QVERIFY(writeFile(root.filePath(QStringLiteral("Game/old.pak")), "installed"));
#ifdef Q_OS_UNIX
    const int sourceMode = modeOf(sourcePath);
#endif
    const auto before = snapshot(root.path());
    const auto otherBefore = other ? snapshot(other->path()) : QMap<QString, QByteArray>();

    QVERIFY(!LTools::copyFile(sourcePath, root.filePath(target), keepSource, true));
    QCOMPARE(snapshot(root.path()), before);
    if (other)
        QCOMPARE(snapshot(other->path()), otherBefore);
#ifdef Q_OS_UNIX
    QCOMPARE(modeOf(sourcePath), sourceMode);
#endif
}

void TestFileUtils::copyFileOntoItself()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.pak"));
    QVERIFY(writeFile(path, "content"));
    QVERIFY(LTools::copyFile(path, path, false, true));
    QCOMPARE(readFile(path), QByteArray("content"));
}

void TestFileUtils::modes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("targetMode"); // -1: no target yet
    QTest::addColumn<bool>("keepSource");
    QTest::addColumn<bool>("otherFileSystem");
    QTest::addColumn<int>("expected"); // -1: no execute bit

    QTest::newRow("replaced executable, moved") << "Launcher.exe" << 0755 << false << false << 0755;
    QTest::newRow("replaced executable, copied") << "Launcher.exe" << 0755 << true << false << 0755;
    QTest::newRow("replaced executable, other fs") << "Launcher.exe" << 0755 << false << true << 0755;
    QTest::newRow("replaced private file") << "secret.dat" << 0600 << false << false << 0600;
    QTest::newRow("replaced script without .exe") << "run.sh" << 0750 << true << false << 0750;
    QTest::newRow("new exe, moved") << "ZARK.exe" << -1 << false << false << 0755;
    QTest::newRow("new exe, copied") << "newLauncher.exe" << -1 << true << false << 0755;
    QTest::newRow("new exe, other fs") << "ZARK.exe" << -1 << false << true << 0755;
    QTest::newRow("new data file") << "a.pak" << -1 << false << false << -1;
}

void TestFileUtils::modes()
{
#ifndef Q_OS_UNIX
    QSKIP("file modes are POSIX only");
#else
    QFETCH(QString, name);
    QFETCH(int, targetMode);
    QFETCH(bool, keepSource);
    QFETCH(bool, otherFileSystem);
    QFETCH(int, expected);

    QTemporaryDir root;
    std::unique_ptr<QTemporaryDir> other;
    QString source = root.filePath(QStringLiteral("Update/") + name);
    if (otherFileSystem) {
        if (otherFileSystemRoot().isEmpty())
            QSKIP("no second file system (/dev/shm) here");
        other = std::make_unique<QTemporaryDir>(otherFileSystemRoot() + QStringLiteral("/fileutils-XXXXXX"));
        source = other->filePath(name);
    }
    const QString target = root.filePath(QStringLiteral("Game/") + name);
    QVERIFY(writeFile(source, "new version"));
    QVERIFY(setMode(source, 0644));
    if (targetMode >= 0) {
        QVERIFY(writeFile(target, "old version"));
        QVERIFY(setMode(target, targetMode));
    }

    QVERIFY(LTools::copyFile(source, target, keepSource, true));
    QCOMPARE(readFile(target), QByteArray("new version"));
    if (expected >= 0)
        QCOMPARE(QString::number(modeOf(target), 8), QString::number(expected, 8));
    else
        QCOMPARE(modeOf(target) & 0111, 0);
    if (keepSource)
        QCOMPARE(QString::number(modeOf(source), 8), QStringLiteral("644"));

    // Saving over a file keeps its mode too.
    QVERIFY(LTools::saveFile(target, QByteArray("saved again")));
    if (expected >= 0)
        QCOMPARE(QString::number(modeOf(target), 8), QString::number(expected, 8));
#endif
}

void TestFileUtils::stagedFileDiscardedLeavesNothing()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("sub/file.bin"));
    {
        StagedFile staged(target);
        QVERIFY(staged.write(QByteArray("partial")));
        QCOMPARE(QDir(dir.filePath(QStringLiteral("sub"))).entryList(QDir::Files | QDir::Hidden).size(), 1);
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(staged.md5Hex(), md5Hex("partial"));
        QVERIFY(staged.write(QByteArray(" more")));
        QCOMPARE(staged.md5Hex(), md5Hex("partial more"));
    }
    QVERIFY(QDir(dir.filePath(QStringLiteral("sub"))).entryList(QDir::Files | QDir::Hidden).isEmpty());

    StagedFile staged(target);
    QVERIFY(staged.write(QByteArray("whole")));
    QVERIFY(staged.commit(StagedFile::VerifyOnDisk));
    QCOMPARE(readFile(target), QByteArray("whole"));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("sub"))).entryList(QDir::Files | QDir::Hidden),
        QStringList {QStringLiteral("file.bin")});
}

QTEST_GUILESS_MAIN(TestFileUtils)
#include "tst_fileutils.moc"
