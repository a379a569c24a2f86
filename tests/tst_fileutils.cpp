#include "StagedFile.h"
#include "TestFiles.h"
#include "UpdateFixtures.h"
#include "Util.h"

#include <QtTest>

#include <memory>

using UpdateTest::fileMode;
using UpdateTest::setFileMode;

class TestFileUtils : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void saveFile_data();
    void saveFile();
    void saveFileRefused_data();
    void saveFileRefused();

    void digests_data();
    void digests();

    void copyFileInstalls_data();
    void copyFileInstalls();
    void copyFileFailureKeepsBothFiles_data();
    void copyFileFailureKeepsBothFiles();
    void copyFileOntoItself();

    void stagedFileDiscardedLeavesNothing();
    void streamDigest_data();
    void streamDigest();

private:
    QString path(const QString &relative) const { return root->filePath(relative); }
    // Where downloads lie: beside the install folder, or on another file system (/dev/shm),
    // where installing cannot be a rename. Empty when there is no other file system.
    QString downloadFolder(bool otherFileSystem);

    std::unique_ptr<QTemporaryDir> root;
    std::unique_ptr<QTemporaryDir> other;
};

void TestFileUtils::init()
{
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    other.reset();
}

QString TestFileUtils::downloadFolder(bool otherFileSystem)
{
    if (!otherFileSystem)
        return path(QStringLiteral("Update"));
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    if (!shm.isDir() || !shm.isWritable())
        return QString();
    other = std::make_unique<QTemporaryDir>(shm.filePath() + QStringLiteral("/fileutils-XXXXXX"));
    return other->isValid() ? other->path() : QString();
}

void TestFileUtils::saveFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("old");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("new file") << "file.bin" << QByteArray() << QByteArray("fresh");
    QTest::newRow("three new folder levels")
        << "one/two/three/file.bin" << QByteArray() << QByteArray("payload");
    QTest::newRow("shorter over longer")
        << "file.bin" << QByteArray("a much longer old content") << QByteArray("short");
    QTest::newRow("empty truncates") << "file.bin" << QByteArray("old content") << QByteArray();
    QTest::newRow("several blocks") << "file.bin" << QByteArray("old") << patterned(3 * 1024 * 1024 + 7);
}

void TestFileUtils::saveFile()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, old);
    QFETCH(QByteArray, data);
    if (!old.isEmpty())
        QVERIFY(writeFile(path(name), old));
    QVERIFY(LTools::saveFile(path(name), data));
    QCOMPARE(readFile(path(name)), data);
    // Nothing left beside it.
    QCOMPARE(filesBelow(root->path()), QStringList {name});
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
    QVERIFY(writeFile(path(QStringLiteral("blocker")), "i am a file"));
    QVERIFY(writeFile(path(QStringLiteral("folder/inside")), "keep me"));
    const auto before = snapshot(root->path());
    QVERIFY(!LTools::saveFile(path(target), QByteArray("data")));
    QCOMPARE(snapshot(root->path()), before);
}

void TestFileUtils::digests_data()
{
    QTest::addColumn<QString>("kind"); // "file", or an unreadable "missing" file or "folder"
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << "file" << QByteArray();
    QTest::newRow("short") << "file" << QByteArray("abc");
    QTest::newRow("exactly one block") << "file" << patterned(1 << 20);
    QTest::newRow("one block and a byte") << "file" << patterned((1 << 20) + 1);
    QTest::newRow("several blocks") << "file" << patterned(5 * (1 << 20) - 3);
    // Not even the digest of empty content: an unreadable file is not an empty one.
    QTest::newRow("missing") << "missing" << QByteArray();
    QTest::newRow("folder at the path") << "folder" << QByteArray();
}

void TestFileUtils::digests()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    const QString file = path(QStringLiteral("f"));
    if (kind == QLatin1String("file"))
        QVERIFY(writeFile(file, content));
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(file));
    const bool readable = kind == QLatin1String("file");
    const QByteArray expected = md5Hex(content);

    QCOMPARE(LTools::fileMd5(file).toHex(), readable ? expected : QByteArray());
    QCOMPARE(LTools::checkFileMd5(file, expected), readable);
    QVERIFY(!LTools::checkFileMd5(file, expected.toUpper()));
    QVERIFY(!LTools::checkFileMd5(file, expected.left(31)));
    QVERIFY(!LTools::checkFileMd5(file, md5Hex(content + 'x')));
}

void TestFileUtils::copyFileInstalls_data()
{
    QTest::addColumn<QString>("target"); // below Game/
    QTest::addColumn<int>("targetMode"); // -1: no target yet
    QTest::addColumn<bool>("keepSource");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<bool>("otherFileSystem");
    QTest::addColumn<int>("expectedMode"); // -1: no execute bit

    QTest::newRow("move over existing") << "data/a.pak" << 0644 << false << true << false << 0644;
    QTest::newRow("move into missing folders") << "new/deeper/a.pak" << -1 << false << true << false << -1;
    QTest::newRow("keep source, verified") << "data/a.pak" << 0644 << true << true << false << 0644;
    QTest::newRow("keep source, unverified") << "data/a.pak" << 0644 << true << false << false << 0644;
    QTest::newRow("other file system, moved") << "data/a.pak" << 0644 << false << true << true << 0644;
    QTest::newRow("other file system, kept") << "new/deeper/a.pak" << -1 << true << true << true << -1;
    QTest::newRow("other file system, unverified") << "data/a.pak" << 0644 << false << false << true << 0644;
    QTest::newRow("replaced executable, moved") << "Launcher.exe" << 0755 << false << true << false << 0755;
    QTest::newRow("replaced executable, copied") << "Launcher.exe" << 0755 << true << true << false << 0755;
    QTest::newRow("replaced executable, other fs") << "Launcher.exe" << 0755 << false << true << true << 0755;
    QTest::newRow("replaced private file") << "secret.dat" << 0600 << false << true << false << 0600;
    QTest::newRow("replaced script without .exe") << "run.sh" << 0750 << true << true << false << 0750;
    QTest::newRow("new exe, moved") << "ZARK.exe" << -1 << false << true << false << 0755;
    QTest::newRow("new exe, copied") << "newLauncher.exe" << -1 << true << true << false << 0755;
    QTest::newRow("new exe, other fs") << "ZARK.exe" << -1 << false << true << true << 0755;
}

void TestFileUtils::copyFileInstalls()
{
    QFETCH(QString, target);
    QFETCH(int, targetMode);
    QFETCH(bool, keepSource);
    QFETCH(bool, verify);
    QFETCH(bool, otherFileSystem);
    QFETCH(int, expectedMode);

    const QString downloads = downloadFolder(otherFileSystem);
    if (downloads.isEmpty())
        QSKIP("no second file system (/dev/shm) here");
    const QByteArray content = patterned(3 * (1 << 20) + 11);
    const QString name = QFileInfo(target).fileName();
    const QString source = downloads + QLatin1Char('/') + name;
    const QString targetPath = path(QStringLiteral("Game/") + target);
    QVERIFY(writeFile(source, content) && setFileMode(source, 0644));
    if (targetMode >= 0)
        QVERIFY(writeFile(targetPath, "old installed content") && setFileMode(targetPath, targetMode));

    QVERIFY(LTools::copyFile(source, targetPath, keepSource, verify));
    QCOMPARE(readFile(targetPath), content);
    QCOMPARE(readFile(source), keepSource ? content : QByteArray("(unreadable)"));
    // No temporary file beside the target or the source.
    QCOMPARE(filesBelow(QFileInfo(targetPath).absolutePath()), QStringList {name});
    QCOMPARE(filesBelow(downloads).size(), keepSource ? 1 : 0);
#ifdef Q_OS_UNIX
    // In octal; where the umask decides, only whether it can be executed.
    const auto modeText = [expectedMode](int mode) {
        if (expectedMode < 0)
            return QString::fromLatin1(mode & 0111 ? "executable" : "not executable");
        return QString::number(mode, 8);
    };
    const QString expected = modeText(expectedMode < 0 ? 0644 : expectedMode);
    QCOMPARE(modeText(fileMode(targetPath)), expected);
    if (keepSource)
        QCOMPARE(QString::number(fileMode(source), 8), QStringLiteral("644"));
    // Saving over a file keeps its mode too.
    QVERIFY(LTools::saveFile(targetPath, QByteArray("saved again")));
    QCOMPARE(modeText(fileMode(targetPath)), expected);
#endif
}

void TestFileUtils::copyFileFailureKeepsBothFiles_data()
{
    QTest::addColumn<QString>("source"); // in the download folder; "none.pak" is missing
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("keepSource");
    QTest::addColumn<bool>("otherFileSystem");

    QTest::newRow("non-empty folder at the target") << "a.pak"
                                                    << "Game/folder" << false << false;
    QTest::newRow("target's parent is a file") << "a.pak"
                                               << "Game/blocker/a.pak" << false << false;
    QTest::newRow("new exe under a file") << "ZARK.exe"
                                          << "Game/blocker/ZARK.exe" << false << false;
    QTest::newRow("kept source, folder at the target") << "a.pak"
                                                       << "Game/folder" << true << false;
    QTest::newRow("other file system, folder at the target") << "a.pak"
                                                             << "Game/folder" << false << true;
    QTest::newRow("missing source") << "none.pak"
                                    << "Game/old.pak" << false << false;
}

void TestFileUtils::copyFileFailureKeepsBothFiles()
{
    QFETCH(QString, source);
    QFETCH(QString, target);
    QFETCH(bool, keepSource);
    QFETCH(bool, otherFileSystem);

    const QString downloads = downloadFolder(otherFileSystem);
    if (downloads.isEmpty())
        QSKIP("no second file system (/dev/shm) here");
    const QString sourcePath = downloads + QLatin1Char('/') + source;
    if (source != QLatin1String("none.pak"))
        QVERIFY(writeFile(sourcePath, "new content"));
    QVERIFY(writeFile(path(QStringLiteral("Game/blocker")), "a file, not a folder"));
    QVERIFY(writeFile(path(QStringLiteral("Game/folder/inside.txt")), "keep me"));
    QVERIFY(writeFile(path(QStringLiteral("Game/old.pak")), "installed"));
    const int sourceMode = fileMode(sourcePath);
    const auto before = snapshot(root->path());
    const auto downloadsBefore = snapshot(downloads);

    QVERIFY(!LTools::copyFile(sourcePath, path(target), keepSource, true));
    QCOMPARE(snapshot(root->path()), before);
    QCOMPARE(snapshot(downloads), downloadsBefore);
    QCOMPARE(fileMode(sourcePath), sourceMode);
}

void TestFileUtils::copyFileOntoItself()
{
    const QString file = path(QStringLiteral("a.pak"));
    QVERIFY(writeFile(file, "content"));
    QVERIFY(LTools::copyFile(file, file, false, true));
    QCOMPARE(readFile(file), QByteArray("content"));
}

void TestFileUtils::stagedFileDiscardedLeavesNothing()
{
    const QString target = path(QStringLiteral("sub/file.bin"));
    {
        StagedFile staged(target);
        QVERIFY(staged.write(QByteArray("partial")));
        // The bytes go to a temporary file beside the target, the digest is kept on the way.
        QCOMPARE(filesBelow(root->path()).size(), 1);
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(staged.md5Hex(), md5Hex("partial"));
        QVERIFY(staged.write(QByteArray(" more")));
        QCOMPARE(staged.md5Hex(), md5Hex("partial more"));
    }
    QCOMPARE(filesBelow(root->path()), QStringList());

    StagedFile staged(target);
    QVERIFY(staged.write(QByteArray("whole")));
    QVERIFY(staged.commit(StagedFile::VerifyOnDisk));
    QCOMPARE(readFile(target), QByteArray("whole"));
    QCOMPARE(filesBelow(root->path()), QStringList {QStringLiteral("sub/file.bin")});
}

void TestFileUtils::streamDigest_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("chunk");
    QTest::newRow("empty") << 0 << 1;
    QTest::newRow("small, inline") << 5000 << 333;
    QTest::newRow("exactly the inline limit") << (1 << 20) << 4096;
    QTest::newRow("one byte past it") << (1 << 20) + 1 << 4096;
    QTest::newRow("large, odd chunks through a full queue") << 24 * 1024 * 1024 + 7 << 1000003;
}

// The digest must not depend on where the hashing happened or on how the stream was cut.
void TestFileUtils::streamDigest()
{
    QFETCH(int, size);
    QFETCH(int, chunk);
    const QByteArray content = patterned(size, 5);
    const int half = size / 2;
    StreamDigest digest;
    for (int round = 0; round < 2; ++round) { // the second round checks reset()
        for (int at = 0; at < size; at += chunk) {
            if (at <= half && half < at + chunk)
                QCOMPARE(
                    digest.result(), QCryptographicHash::hash(content.left(at), QCryptographicHash::Md5));
            digest.addData(content.constData() + at, qMin(chunk, size - at));
        }
        QCOMPARE(digest.result().toHex(), md5Hex(content));
        digest.reset();
    }
    QCOMPARE(digest.result().toHex(), md5Hex(QByteArray()));
}

QTEST_GUILESS_MAIN(TestFileUtils)
#include "tst_fileutils.moc"
