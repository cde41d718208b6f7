// The file-safety layer: replacements keep the original until one rename puts
// the complete new file in its place, refuse files changed behind their back,
// moves never overwrite, and only our own crashed temporaries are cleaned up.

#include "fileops/SafeFile.h"
#include "fileops/XmpRating.h"

#include "FileOpsTestSupport.h"
#include "support/AsOtherUser.h"

#include <QUuid>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

using SafeFile::Failure;
using SafeFile::Replacement;

namespace {

class SafeFileTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    void TearDown() override { SafeFile::setStepHook({}); }

    QString make(const QString &name, const QByteArray &bytes, mode_t mode = 0644)
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(writeBytes(path, bytes));
        ::chmod(QFile::encodeName(path).constData(), mode);
        return path;
    }

    std::unique_ptr<Replacement> begin(const QString &path)
    {
        Failure failure;
        const auto stamp = SafeFile::stampOf(path, &failure);
        EXPECT_TRUE(stamp);
        return Replacement::begin(path, "test", stamp, &failure);
    }
};

mode_t modeOf(const QString &path)
{
    struct stat info;
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

} // namespace

TEST_F(SafeFileTest, ReplacementKeepsModeAndSwapsInOneStep)
{
    const QString path = make(QStringLiteral("a.jpg"), "old", 0640);
    auto replacement = begin(path);
    ASSERT_TRUE(replacement);
    EXPECT_TRUE(SafeFile::isOwnTemporaryName(QFileInfo(replacement->temporaryPath()).fileName()));
    EXPECT_TRUE(replacement->temporaryPath().endsWith(QLatin1String(".jpg")));
    ASSERT_FALSE(replacement->writeAndSync("new content"));
    // Until the commit the original is untouched.
    EXPECT_EQ(bytesOf(path), QByteArray("old"));
    ASSERT_FALSE(replacement->commit());
    EXPECT_EQ(bytesOf(path), QByteArray("new content"));
    EXPECT_EQ(modeOf(path), 0640u);
    replacement.reset();
    EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("a.jpg")});
}

// What the file carries besides its bytes stays with it; a file whose other
// names (hard links) would keep the old content, or that this user may not
// write or give its group back, is not replaced at all.
TEST_F(SafeFileTest, AReplacementKeepsWhatTheFileCarriesOrIsRefused)
{
    const QString path = make(QStringLiteral("a.jpg"), "old", 0640);
    const QByteArray name = QFile::encodeName(path);
    ASSERT_EQ(::setxattr(name.constData(), "user.comment", "hello", 5, 0), 0);
    // An access list letting "nobody" read: version 2, then (tag, permissions, id)
    // for the owner, nobody, the group, the mask and others.
    QByteArray acl;
    const auto entry = [&acl](quint16 tag, quint16 permissions, quint32 id) {
        acl.append(reinterpret_cast<const char *>(&tag), 2).append(reinterpret_cast<const char *>(&permissions), 2);
        acl.append(reinterpret_cast<const char *>(&id), 4);
    };
    const quint32 version = 2;
    acl.append(reinterpret_cast<const char *>(&version), 4);
    entry(0x01, 6, quint32(-1));
    entry(0x02, 4, 65534);
    entry(0x04, 4, quint32(-1));
    entry(0x10, 4, quint32(-1));
    entry(0x20, 0, quint32(-1));
    const bool hasAcl = ::setxattr(name.constData(), "system.posix_acl_access", acl.constData(), size_t(acl.size()), 0) == 0;
    auto replacement = begin(path);
    ASSERT_TRUE(replacement);
    ASSERT_FALSE(replacement->writeAndSync("new content"));
    ASSERT_FALSE(replacement->commit());
    EXPECT_EQ(bytesOf(path), QByteArray("new content"));
    char value[16] = {};
    EXPECT_EQ(::getxattr(name.constData(), "user.comment", value, sizeof value), 5);
    EXPECT_STREQ(value, "hello");
    if (hasAcl) {
        QByteArray kept(acl.size(), '\0');
        EXPECT_EQ(::getxattr(name.constData(), "system.posix_acl_access", kept.data(), size_t(kept.size())), acl.size());
        EXPECT_EQ(kept, acl);
    }
    EXPECT_EQ(modeOf(path), 0640u);

    // Two names of one file: both keep the old content.
    const QString other = dir.filePath(QStringLiteral("elsewhere.jpg"));
    ASSERT_EQ(::link(name.constData(), QFile::encodeName(other).constData()), 0);
    Failure failure;
    EXPECT_FALSE(Replacement::begin(path, "test", SafeFile::stampOf(path), &failure));
    EXPECT_EQ(failure.kind, Failure::Kind::hardLinked);
    EXPECT_EQ(bytesOf(other), QByteArray("new content"));
    EXPECT_EQ(folderNames(dir.path()), (QStringList{QStringLiteral("a.jpg"), QStringLiteral("elsewhere.jpg")}));

    // Another user's files in a folder this user may write: root's photo,
    // readable by all, and this user's own photo in a group it is not in.
    if (::geteuid() != 0)
        GTEST_SKIP() << "acting as another user needs root";
    QTemporaryDir box(QDir::tempPath() + QStringLiteral("/theirs-XXXXXX"));
    ASSERT_TRUE(box.isValid());
    const QByteArray folder = QFile::encodeName(box.path());
    ASSERT_EQ(::chown(folder.constData(), 65534, 65534), 0);
    ::chmod(folder.constData(), 0755);
    const QString roots = box.filePath(QStringLiteral("roots.jpg"));
    const QString grouped = box.filePath(QStringLiteral("grouped.jpg"));
    ASSERT_TRUE(writeBytes(roots, "root's") && writeBytes(grouped, "nobody's"));
    ::chmod(QFile::encodeName(roots).constData(), 0666);
    ASSERT_EQ(::chown(QFile::encodeName(grouped).constData(), 65534, 0), 0);
    const std::optional<int> status = exitStatusAsNobody([&] {
        if (::access(folder.constData(), W_OK) != 0)
            return 7; // the temporary folder's parents are closed to other users
        Failure refused;
        // Writable by all, yet a replacement would become nobody's.
        if (Replacement::begin(roots, "test", SafeFile::stampOf(roots), &refused) || refused.kind != Failure::Kind::notKept)
            return 4;
        if (Replacement::begin(grouped, "test", SafeFile::stampOf(grouped), &refused) || refused.kind != Failure::Kind::notKept)
            return 5;
        return 0;
    });
    ASSERT_TRUE(status.has_value());
    if (*status == 7)
        GTEST_SKIP() << "the temporary folder cannot be reached by another user";
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(bytesOf(roots), QByteArray("root's"));
    EXPECT_EQ(folderNames(box.path()), (QStringList{QStringLiteral("grouped.jpg"), QStringLiteral("roots.jpg")}));
    ::chmod(QFile::encodeName(roots).constData(), 0644);
    // Readable only: refused as read-only before anything is written.
    EXPECT_EQ(exitStatusAsNobody([&] {
                  Failure refused;
                  return !Replacement::begin(roots, "test", SafeFile::stampOf(roots), &refused)
                                 && refused.kind == Failure::Kind::readOnly
                             ? 0
                             : 4;
              }),
              0);
    EXPECT_EQ(folderNames(box.path()), (QStringList{QStringLiteral("grouped.jpg"), QStringLiteral("roots.jpg")}));
}

// What is made from a photo is no more open to others than the photo, as cp
// makes copies; the umask still applies.
TEST_F(SafeFileTest, FilesMadeFromAPhotoTakeItsReadAndWriteBits)
{
    const mode_t saved = ::umask(022);
    const QString raw = make(QStringLiteral("private.RAF"), "not decoded here", 0640);
    ASSERT_FALSE(XmpRating::writeRating(3, raw));
    EXPECT_EQ(modeOf(dir.filePath(QStringLiteral("private.xmp"))), 0640u);
    const QString open = make(QStringLiteral("shared.RAF"), "not decoded here", 0666);
    ASSERT_FALSE(XmpRating::writeRating(3, open));
    EXPECT_EQ(modeOf(dir.filePath(QStringLiteral("shared.xmp"))), 0644u);
    EXPECT_EQ(SafeFile::newFileModeFor(dir.filePath(QStringLiteral("missing.jpg"))), 0666u);
    ::umask(saved);
}

TEST_F(SafeFileTest, AbortAtAnyStepLeavesTheOriginalAndNoTemporary)
{
    for (const char *stopAt : {"temp-created", "chunk-written", "temp-synced", "before-rename"}) {
        SCOPED_TRACE(stopAt);
        const QString path = make(QStringLiteral("b.png"), "original");
        SafeFile::setStepHook([stopAt](std::string_view step) { return step != stopAt; });
        Failure failure;
        auto replacement = Replacement::begin(path, "test", SafeFile::stampOf(path), &failure);
        SafeFile::Outcome outcome;
        if (!replacement)
            outcome = failure;
        else if (!(outcome = replacement->writeAndSync(QByteArray(200 * 1024, 'x'))))
            outcome = replacement->commit();
        replacement.reset();
        ASSERT_TRUE(outcome);
        EXPECT_EQ(outcome->kind, Failure::Kind::aborted);
        EXPECT_EQ(bytesOf(path), QByteArray("original"));
        EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("b.png")});
        SafeFile::setStepHook({});
    }
}

TEST_F(SafeFileTest, AFileChangedSinceItWasReadIsNotReplaced)
{
    const QString path = make(QStringLiteral("c.jpg"), "as read");
    auto replacement = begin(path);
    ASSERT_TRUE(replacement);
    ASSERT_FALSE(replacement->writeAndSync("ours"));
    // Another program writes the file meanwhile (same size, so only the time tells).
    ::usleep(20 * 1000);
    ASSERT_TRUE(writeBytes(path, "theirs!"));
    const auto outcome = replacement->commit();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->kind, Failure::Kind::changed);
    EXPECT_FALSE(outcome->reason.isEmpty());
    EXPECT_EQ(bytesOf(path), QByteArray("theirs!"));
    replacement.reset();
    EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("c.jpg")});

    // Replaced by another file under the same name: also refused.
    const QString other = make(QStringLiteral("d.jpg"), "first");
    auto second = begin(other);
    ASSERT_TRUE(second);
    ASSERT_TRUE(QFile::remove(other));
    ::usleep(20 * 1000);
    make(QStringLiteral("d.jpg"), "first");
    EXPECT_TRUE(second->commit());
}

TEST_F(SafeFileTest, ANewFileNeverReplacesOneThatAppeared)
{
    const QString path = dir.filePath(QStringLiteral("new.xmp"));
    Failure failure;
    auto replacement = Replacement::begin(path, "xmp", std::nullopt, &failure);
    ASSERT_TRUE(replacement);
    ASSERT_FALSE(replacement->writeAndSync("ours"));
    make(QStringLiteral("new.xmp"), "someone else's");
    const auto outcome = replacement->commit();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(bytesOf(path), QByteArray("someone else's"));
}

TEST_F(SafeFileTest, MovesNeverOverwrite)
{
    const QString a = make(QStringLiteral("a.jpg"), "a");
    const QString b = make(QStringLiteral("b.jpg"), "b");
    const auto refused = SafeFile::moveNoReplace(a, b);
    ASSERT_TRUE(refused);
    EXPECT_EQ(bytesOf(a), QByteArray("a"));
    EXPECT_EQ(bytesOf(b), QByteArray("b"));
    EXPECT_FALSE(SafeFile::moveNoReplace(a, dir.filePath(QStringLiteral("c.jpg"))));
    EXPECT_EQ(folderNames(dir.path()), (QStringList{QStringLiteral("b.jpg"), QStringLiteral("c.jpg")}));
}

TEST_F(SafeFileTest, OnlyOurOwnCrashedTemporariesAreRemoved)
{
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString leftover = make(QStringLiteral(".glanto-rating-%1.jpg").arg(uuid), "crashed");
    make(QStringLiteral(".glanto-rotate-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)), "crashed too");
    const QStringList kept{
        QStringLiteral(".glanto-rating-not-a-uuid.jpg"),
        QStringLiteral("glanto-rating-%1.jpg").arg(uuid),
        QStringLiteral(".skelda-rotate-%1.jpg").arg(uuid),
        QStringLiteral(".glanto-rating-%1.jpg.bak").arg(uuid),
        QStringLiteral("photo.jpg"),
    };
    for (const QString &name : kept)
        make(name, "keep");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral(".glanto-xmp-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces))));
    // A write in progress (its temporary file is locked) is left alone.
    const QString live = make(QStringLiteral("live.jpg"), "live");
    auto running = begin(live);
    ASSERT_TRUE(running);

    EXPECT_EQ(SafeFile::removeLeftoverTemporaries(dir.path()), 2);
    EXPECT_FALSE(QFile::exists(leftover));
    for (const QString &name : kept)
        EXPECT_TRUE(QFile::exists(dir.filePath(name))) << name.toStdString();
    EXPECT_TRUE(QFile::exists(running->temporaryPath()));
    ASSERT_FALSE(running->writeAndSync("done"));
    EXPECT_FALSE(running->commit());
    EXPECT_EQ(bytesOf(live), QByteArray("done"));
}

TEST_F(SafeFileTest, PathLocksSerialiseWritersOfOneFileThroughAnyName)
{
    const QString path = make(QStringLiteral("count.txt"), "0");
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    ASSERT_TRUE(QFile::link(path, link));
    EXPECT_EQ(SafeFile::PathLocks::keyOf(link), SafeFile::PathLocks::keyOf(path));
    std::atomic<int> failures{0};
    auto worker = [&](const QString &name) {
        for (int i = 0; i < 25; ++i) {
            const auto guard = SafeFile::PathLocks::lock({name, dir.filePath(QStringLiteral("other"))});
            Failure failure;
            const QString target = SafeFile::writablePath(name);
            const auto read = SafeFile::readWhole(target, &failure);
            auto replacement = read ? Replacement::begin(target, "test", read->stamp, &failure) : nullptr;
            if (!replacement || replacement->writeAndSync(QByteArray::number(read->bytes.toInt() + 1))
                || replacement->commit())
                ++failures;
        }
    };
    std::thread first(worker, path);
    std::thread second(worker, link);
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(bytesOf(path), QByteArray("50"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

TEST_F(SafeFileTest, RatingThroughALinkChangesThePhotoAndKeepsTheLinks)
{
    const QString photo = dir.filePath(QStringLiteral("real.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(32, 24), photo, ImageFormat::jpeg, 90));
    const QString link = dir.filePath(QStringLiteral("alias.jpg"));
    ASSERT_TRUE(QFile::link(photo, link));
    ASSERT_FALSE(XmpRating::writeRating(2, link));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(XmpRating::embeddedRating(photo), 2);

    // A hard link cannot be kept through a replacement: the rating goes to
    // the sidecar and both names keep one and the same file.
    const QString shot = dir.filePath(QStringLiteral("shot.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(32, 24), shot, ImageFormat::jpeg, 90));
    const QString second = dir.filePath(QStringLiteral("backup.jpg"));
    ASSERT_EQ(::link(QFile::encodeName(shot).constData(), QFile::encodeName(second).constData()), 0);
    const QByteArray before = bytesOf(shot);
    ASSERT_FALSE(XmpRating::writeRating(3, shot));
    EXPECT_EQ(bytesOf(shot), before);
    EXPECT_EQ(XmpRating::readRating(shot), 3);
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("shot.xmp"))));
    struct stat a {}, b {};
    ASSERT_EQ(::stat(QFile::encodeName(shot).constData(), &a), 0);
    ASSERT_EQ(::stat(QFile::encodeName(second).constData(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
}
