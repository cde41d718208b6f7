#include "platform/Trash.h"

#include "platform/FakeTrash.h"
#include "platform/NoReplaceRename.h"
#include "settings/Texts.h"
#include "support/AsOtherUser.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(path);
    file.write(bytes);
}

// Photos in a folder under the private home (the same file system as the home
// trash, as a user's pictures usually are) and a Trash in a private data folder.
class TrashTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Texts::setLanguage(QStringLiteral("en"));
        ASSERT_TRUE(QDir().mkpath(QDir::homePath()));
        photos = std::make_unique<QTemporaryDir>(QDir::homePath() + QStringLiteral("/photos-XXXXXX"));
        data = std::make_unique<QTemporaryDir>(QDir::homePath() + QStringLiteral("/data-XXXXXX"));
        ASSERT_TRUE(photos->isValid() && data->isValid());
        trash = std::make_unique<FreedesktopTrash>(data->path());
    }
    void TearDown() override { Texts::setLanguage({}); }

    QString photo(const QString &name) const { return photos->filePath(name); }
    QString trashDir() const { return data->path() + QStringLiteral("/Trash"); }
    QStringList trashFiles() const { return QDir(trashDir() + "/files").entryList(QDir::Files | QDir::Hidden); }
    QStringList trashInfos() const { return QDir(trashDir() + "/info").entryList(QDir::Files | QDir::Hidden); }

    std::unique_ptr<QTemporaryDir> photos;
    std::unique_ptr<QTemporaryDir> data;
    std::unique_ptr<FreedesktopTrash> trash;
};

TEST_F(TrashTest, RoundTripWithCompanionsRestoresEveryFileByteIdentical)
{
    const QStringList names = {"IMG_1.JPG", "IMG_1.CR2", "IMG_1.xmp", "odd name ;$(x) 100%.jpg"};
    QStringList paths;
    for (int i = 0; i < names.size(); ++i) {
        paths << photo(names[i]);
        writeFile(paths.last(), QByteArray(1000 + i, char('a' + i)) + names[i].toUtf8());
    }
    const TrashOutcome outcome = trash->moveToTrash(paths);
    ASSERT_EQ(outcome.moved.size(), 4u);
    EXPECT_TRUE(outcome.failed.empty());
    for (int i = 0; i < names.size(); ++i) {
        const TrashedFile &moved = outcome.moved[size_t(i)];
        EXPECT_EQ(moved.original, paths[i]);
        EXPECT_FALSE(QFile::exists(paths[i]));
        EXPECT_EQ(moved.trashedPath, trashDir() + "/files/" + names[i]);
        EXPECT_EQ(moved.infoPath, trashDir() + "/info/" + names[i] + ".trashinfo");
        // The entry is the one other desktop tools read: the escaped path and the date.
        const QByteArray info = readAll(moved.infoPath);
        EXPECT_TRUE(info.startsWith("[Trash Info]\nPath=")) << info.constData();
        EXPECT_TRUE(info.contains("DeletionDate=" + moved.deletionDate.toUtf8()));
    }
    EXPECT_TRUE(readAll(outcome.moved[3].infoPath).contains("odd%20name%20%3B%24%28x%29%20100%25.jpg"));

    for (const TrashedFile &moved : outcome.moved)
        EXPECT_TRUE(trash->restore(moved).ok());
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(readAll(paths[i]), QByteArray(1000 + i, char('a' + i)) + names[i].toUtf8());
    EXPECT_TRUE(trashFiles().isEmpty());
    EXPECT_TRUE(trashInfos().isEmpty());
}

// The rating sidecar goes with the last file of its name: not while the RAW or
// the JPEG of the same shot stays, never when it is not a plain file. The
// sidecar named after the whole file goes with that file.
TEST_F(TrashTest, ASidecarIsLeftAloneWhileAFileOfItsNameStays)
{
    for (const char *name : {"IMG_2.JPG", "IMG_2.CR2", "IMG_2.xmp", "IMG_20.JPG", "IMG_2.JPG.xmp"})
        writeFile(photo(name), name);
    ASSERT_TRUE(QFile::remove(photo("IMG_2.JPG")));
    EXPECT_EQ(orphanedSidecars(photo("IMG_2.JPG")), QStringList{photo("IMG_2.JPG.xmp")});
    ASSERT_TRUE(QFile::remove(photo("IMG_2.CR2")));
    EXPECT_EQ(orphanedSidecars(photo("IMG_2.CR2")), QStringList{photo("IMG_2.xmp")});
    EXPECT_TRUE(orphanedSidecars(photo("IMG_20.JPG")).isEmpty());
    EXPECT_TRUE(orphanedSidecars(photo("IMG_2.xmp")).isEmpty()) << "a sidecar has no sidecar";
    // Files of that name that are no photo do not keep it.
    for (const char *name : {"k.nef", "k.xmp", "k.txt", "k.on1", "k.MOV"})
        writeFile(photo(name), name);
    ASSERT_TRUE(QFile::remove(photo("k.nef")));
    EXPECT_EQ(orphanedSidecars(photo("k.nef")), QStringList{photo("k.xmp")});
    // One that cannot follow its photo is reported, not passed over.
    FakeTrash refusing;
    refusing.failMove(photo("k.xmp"));
    TrashOutcome outcome;
    moveOrphanedSidecar(refusing, photo("k.nef"), outcome);
    ASSERT_EQ(outcome.failed.size(), 1u);
    EXPECT_EQ(outcome.failed.front().path, photo("k.xmp"));

    ASSERT_TRUE(QFile::remove(photo("IMG_2.xmp")));
    ASSERT_TRUE(QFile::link(photo("IMG_20.JPG"), photo("IMG_2.xmp")));
    EXPECT_TRUE(orphanedSidecars(photo("IMG_2.CR2")).isEmpty());
    EXPECT_TRUE(isSidecar(photo("IMG_2.XMP")));
    EXPECT_FALSE(isSidecar(photo("IMG_2.JPG")));
}

TEST_F(TrashTest, SameNamesFromTwoFoldersTakeSeparateSlots)
{
    QTemporaryDir other(QDir::homePath() + QStringLiteral("/other-XXXXXX"));
    writeFile(photo("a.jpg"), "first");
    writeFile(other.filePath("a.jpg"), "second");
    const TrashOutcome outcome = trash->moveToTrash({photo("a.jpg"), other.filePath("a.jpg")});
    ASSERT_EQ(outcome.moved.size(), 2u);
    EXPECT_NE(outcome.moved[0].trashedPath, outcome.moved[1].trashedPath);
    EXPECT_TRUE(trash->restore(outcome.moved[1]).ok());
    EXPECT_TRUE(trash->restore(outcome.moved[0]).ok());
    EXPECT_EQ(readAll(photo("a.jpg")), "first");
    EXPECT_EQ(readAll(other.filePath("a.jpg")), "second");
}

// A name near the file system's limit leaves no room for ".trashinfo": the
// Trash holds it under a shortened name and gives it back under its own.
TEST_F(TrashTest, ANameNearTheLimitGoesAndComesBack)
{
    const QString name = QString(123, QChar(0x00E9)) + QStringLiteral("x.jpg"); // 251 bytes
    const QString other = QString(123, QChar(0x00E9)) + QStringLiteral("y.jpg"); // the same shortened
    ASSERT_EQ(QFile::encodeName(name).size(), 251);
    writeFile(photo(name), "long");
    writeFile(photo(other), "long too");
    const TrashOutcome outcome = trash->moveToTrash({photo(name), photo(other)});
    ASSERT_EQ(outcome.moved.size(), 2u) << (outcome.failed.empty() ? "" : outcome.failed[0].reason.toStdString());
    EXPECT_EQ(trashFiles().size(), 2);
    for (const QString &info : trashInfos())
        EXPECT_LE(QFile::encodeName(info).size(), 255);
    EXPECT_TRUE(outcome.moved[0].trashedPath.endsWith(".jpg"));
    EXPECT_TRUE(trash->restore(outcome.moved[0]).ok());
    EXPECT_TRUE(trash->restore(outcome.moved[1]).ok());
    EXPECT_EQ(readAll(photo(name)), "long");
    EXPECT_EQ(readAll(photo(other)), "long too");
}

TEST_F(TrashTest, RestoreNeverReplacesANewerFileAtTheOldPath)
{
    writeFile(photo("a.jpg"), "old photo");
    const TrashOutcome outcome = trash->moveToTrash({photo("a.jpg")});
    ASSERT_EQ(outcome.moved.size(), 1u);
    writeFile(photo("a.jpg"), "newer photo");

    const RestoreOutcome restored = trash->restore(outcome.moved[0]);
    EXPECT_EQ(restored.kind, RestoreOutcome::Kind::occupied);
    EXPECT_FALSE(restored.reason.isEmpty());
    EXPECT_EQ(readAll(photo("a.jpg")), "newer photo");
    // The trashed file and its entry stay, so nothing is lost and a later restore can still work.
    EXPECT_EQ(readAll(outcome.moved[0].trashedPath), "old photo");
    EXPECT_TRUE(QFile::exists(outcome.moved[0].infoPath));

    QFile::remove(photo("a.jpg"));
    EXPECT_TRUE(trash->restore(outcome.moved[0]).ok());
    EXPECT_EQ(readAll(photo("a.jpg")), "old photo");
}

TEST_F(TrashTest, AReusedSlotIsNeverBroughtBack)
{
    writeFile(photo("a.jpg"), "first");
    const TrashOutcome first = trash->moveToTrash({photo("a.jpg")});
    ASSERT_EQ(first.moved.size(), 1u);

    // The user empties the Trash; another a.jpg from elsewhere takes the slot.
    QDir(trashDir()).removeRecursively();
    QTemporaryDir other(QDir::homePath() + QStringLiteral("/other-XXXXXX"));
    writeFile(other.filePath("a.jpg"), "a stranger");
    const TrashOutcome second = trash->moveToTrash({other.filePath("a.jpg")});
    ASSERT_EQ(second.moved.size(), 1u);
    ASSERT_EQ(second.moved[0].trashedPath, first.moved[0].trashedPath);

    EXPECT_EQ(trash->restore(first.moved[0]).kind, RestoreOutcome::Kind::entryChanged);
    EXPECT_FALSE(QFile::exists(photo("a.jpg")));
    EXPECT_EQ(readAll(second.moved[0].trashedPath), "a stranger");
    EXPECT_TRUE(QFile::exists(second.moved[0].infoPath));

    // Same path and the same second, so even the entry's text matches: the
    // file's identity still tells the two apart.
    QDir(trashDir()).removeRecursively();
    writeFile(photo("a.jpg"), "third");
    const TrashOutcome third = trash->moveToTrash({photo("a.jpg")});
    ASSERT_EQ(third.moved.size(), 1u);
    writeFile(third.moved[0].infoPath, "[Trash Info]\nPath=" + QUrl::toPercentEncoding(photo("a.jpg"), "/")
                                           + "\nDeletionDate=" + first.moved[0].deletionDate.toUtf8() + "\n");
    EXPECT_EQ(trash->restore(first.moved[0]).kind, RestoreOutcome::Kind::entryChanged);
    EXPECT_EQ(readAll(third.moved[0].trashedPath), "third");

    // A missing entry is refused too.
    QFile::remove(second.moved[0].infoPath);
    EXPECT_EQ(trash->restore(second.moved[0]).kind, RestoreOutcome::Kind::entryChanged);
}

// A memory card taken out and put back gets another device number (and on a
// FUSE drive other inode numbers): its photo still comes back, while a file
// that changed in the Trash meanwhile does not.
TEST_F(TrashTest, ADriveMountedAgainStillGivesItsPhotoBack)
{
    writeFile(photo("card.jpg"), "from the card");
    const TrashOutcome moved = trash->moveToTrash({photo("card.jpg")});
    ASSERT_EQ(moved.moved.size(), 1u);
    TrashedFile remounted = moved.moved[0];
    remounted.device += 1;
    remounted.inode += 1000;

    TrashedFile edited = remounted;
    edited.size += 1;
    EXPECT_EQ(trash->restore(edited).kind, RestoreOutcome::Kind::entryChanged);
    TrashedFile touched = remounted;
    touched.modifiedNs += 1;
    EXPECT_EQ(trash->restore(touched).kind, RestoreOutcome::Kind::entryChanged);
    // On the same device the inode alone decides, as before.
    TrashedFile other = moved.moved[0];
    other.inode += 1000;
    EXPECT_EQ(trash->restore(other).kind, RestoreOutcome::Kind::entryChanged);

    EXPECT_EQ(trash->restore(remounted).kind, RestoreOutcome::Kind::restored);
    EXPECT_EQ(readAll(photo("card.jpg")), "from the card");
}

// The way of renaming without replacing that FUSE drives (FAT, exFAT, NTFS)
// need, since they refuse the no-replace flag: the new name is claimed first.
TEST(NoReplaceRename, ClaimingTheNameMovesAFileAndNeverReplacesOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto at = [&](const char *name) { return QFile::encodeName(dir.filePath(QLatin1String(name))); };
    writeFile(dir.filePath("a.jpg"), "a");
    writeFile(dir.filePath("b.jpg"), "b");

    EXPECT_EQ(NoReplaceRename::renameByClaim(AT_FDCWD, at("a.jpg"), AT_FDCWD, at("b.jpg")), EEXIST);
    EXPECT_EQ(readAll(dir.filePath("a.jpg")), "a");
    EXPECT_EQ(readAll(dir.filePath("b.jpg")), "b");

    EXPECT_EQ(NoReplaceRename::renameByClaim(AT_FDCWD, at("a.jpg"), AT_FDCWD, at("c.jpg")), 0);
    EXPECT_FALSE(QFile::exists(dir.filePath("a.jpg")));
    EXPECT_EQ(readAll(dir.filePath("c.jpg")), "a");

    // A rename that fails after the claim (from another file system) leaves
    // no placeholder behind.
    QTemporaryDir elsewhere(QStringLiteral("/dev/shm/glanto-XXXXXX"));
    struct stat here {};
    struct stat there {};
    if (!elsewhere.isValid() || ::stat(at("c.jpg").constData(), &here) != 0
        || ::stat(QFile::encodeName(elsewhere.path()).constData(), &there) != 0 || here.st_dev == there.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    writeFile(elsewhere.filePath("e.jpg"), "e");
    EXPECT_EQ(NoReplaceRename::renameByClaim(AT_FDCWD, QFile::encodeName(elsewhere.filePath("e.jpg")), AT_FDCWD,
                                             at("d.jpg")),
              EXDEV);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).join(' '), "b.jpg c.jpg");
    EXPECT_EQ(readAll(elsewhere.filePath("e.jpg")), "e");
}

// Why a photo could not be put back, in words that fit what happened, and
// whether a later try can still work.
TEST_F(TrashTest, ARestoreThatFailsSaysWhyAndWhetherItMayBeTriedAgain)
{
    QDir().mkpath(photo("trip"));
    writeFile(photo("trip/a.jpg"), "a");
    writeFile(photo("b.jpg"), "b");
    const TrashOutcome outcome = trash->moveToTrash({photo("trip/a.jpg"), photo("b.jpg")});
    ASSERT_EQ(outcome.moved.size(), 2u);

    // The folder was renamed away meanwhile: the photo stays in the Trash.
    ASSERT_TRUE(QDir().rename(photo("trip"), photo("trip-away")));
    const RestoreOutcome away = trash->restore(outcome.moved[0]);
    EXPECT_EQ(away.kind, RestoreOutcome::Kind::failed);
    EXPECT_EQ(away.reason, Texts::text("msg.restoreFolderGone"));
    EXPECT_TRUE(away.canRetry());
    ASSERT_TRUE(QDir().rename(photo("trip-away"), photo("trip")));
    EXPECT_TRUE(trash->restore(outcome.moved[0]).ok());
    EXPECT_EQ(readAll(photo("trip/a.jpg")), "a");

    // Emptied from a file manager: gone for good.
    QFile::remove(outcome.moved[1].trashedPath);
    const RestoreOutcome emptied = trash->restore(outcome.moved[1]);
    EXPECT_EQ(emptied.kind, RestoreOutcome::Kind::entryChanged);
    EXPECT_EQ(emptied.reason, Texts::text("msg.restoreGone"));
    EXPECT_FALSE(emptied.canRetry());
    EXPECT_FALSE(QFile::exists(photo("b.jpg")));
}

// A drive that cannot be reached (a network share whose link dropped) is no
// sign that the entry is gone: the photo stays in the Trash for a later try,
// which puts it back. A link looping on itself stands in for the lost drive:
// both make every look-up below it fail with an error other than "no such file".
TEST_F(TrashTest, ATrashOutOfReachKeepsItsPhotoForALaterTry)
{
    writeFile(photo("a.jpg"), "a");
    const TrashOutcome outcome = trash->moveToTrash({photo("a.jpg")});
    ASSERT_EQ(outcome.moved.size(), 1u);
    for (const QString &part : {QStringLiteral("/files"), QStringLiteral("/info")}) {
        const QString folder = trashDir() + part;
        ASSERT_TRUE(QDir().rename(folder, folder + ".away"));
        ASSERT_TRUE(QFile::link(folder, folder)); // a loop: ELOOP
        const RestoreOutcome lost = trash->restore(outcome.moved[0]);
        EXPECT_EQ(lost.kind, RestoreOutcome::Kind::failed) << qPrintable(part);
        EXPECT_TRUE(lost.canRetry());
        EXPECT_EQ(lost.reason, Texts::format("msg.restoreUnreachable", {QString::fromLocal8Bit(std::strerror(ELOOP))}));
        ASSERT_TRUE(QFile::remove(folder));
        ASSERT_TRUE(QDir().rename(folder + ".away", folder));
    }
    EXPECT_FALSE(QFile::exists(photo("a.jpg")));
    EXPECT_TRUE(trash->restore(outcome.moved[0]).ok());
    EXPECT_EQ(readAll(photo("a.jpg")), "a");
    EXPECT_TRUE(trashInfos().isEmpty());
}

// Before a file's name is given to a new file, its content is kept in the
// Trash and the file stays: a second name where the file system allows one, a
// copy where it refuses (here the kernel's protected_hardlinks, which does not
// let a user link another user's file). An entry not needed is taken out.
TEST_F(TrashTest, AFileAboutToBeReplacedIsKeptInTheTrashAndStays)
{
    const QString path = photo("out.jpg");
    writeFile(path, "the earlier export");
    TrashedFile kept;
    ASSERT_EQ(trash->keepInTrash(path, &kept), std::nullopt);
    EXPECT_EQ(readAll(path), "the earlier export");
    EXPECT_EQ(readAll(kept.trashedPath), "the earlier export");
    EXPECT_TRUE(readAll(kept.infoPath).contains("Path=" + QUrl::toPercentEncoding(path, "/")));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_ino, kept.inode);
    trash->discardKept(kept);
    EXPECT_TRUE(trashFiles().isEmpty());
    EXPECT_TRUE(trashInfos().isEmpty());
    EXPECT_EQ(readAll(path), "the earlier export");

    // A folder or a missing file is refused and nothing is made.
    TrashedFile none;
    EXPECT_NE(trash->keepInTrash(photos->path(), &none), std::nullopt);
    EXPECT_NE(trash->keepInTrash(photo("missing.jpg"), &none), std::nullopt);
    EXPECT_TRUE(trashFiles().isEmpty());

    QFile protection(QStringLiteral("/proc/sys/fs/protected_hardlinks"));
    if (::getuid() != 0 || !protection.open(QIODevice::ReadOnly) || protection.readAll().trimmed() != "1")
        GTEST_SKIP() << "the copy needs root to act as another user under protected_hardlinks";
    // root's file, readable by all, and a Trash that belongs to "nobody", in
    // a folder everyone can pass through on the same file system.
    QTemporaryDir box(QDir::tempPath() + QStringLiteral("/keep-XXXXXX"));
    ASSERT_TRUE(box.isValid());
    ::chmod(QFile::encodeName(box.path()).constData(), 0755);
    const QString theirsPhoto = box.filePath(QStringLiteral("out.jpg"));
    writeFile(theirsPhoto, "the earlier export");
    ::chmod(QFile::encodeName(theirsPhoto).constData(), 0644);
    const QString otherData = box.filePath(QStringLiteral("nobody"));
    ASSERT_TRUE(QDir().mkpath(otherData));
    ASSERT_EQ(::chown(QFile::encodeName(otherData).constData(), 65534, 65534), 0);
    struct stat ts {};
    ASSERT_EQ(::stat(QFile::encodeName(theirsPhoto).constData(), &ts), 0);
    const std::optional<int> status = exitStatusAsNobody([&] {
        if (::access(QFile::encodeName(theirsPhoto).constData(), R_OK) != 0)
            return 7; // the temporary folder's parents are closed to other users
        FreedesktopTrash theirs(otherData);
        TrashedFile copy;
        if (theirs.keepInTrash(theirsPhoto, &copy))
            return 4;
        struct stat cs {};
        if (::stat(QFile::encodeName(copy.trashedPath).constData(), &cs) != 0 || cs.st_ino == ts.st_ino)
            return 5;
        return readAll(copy.trashedPath) == "the earlier export" ? 0 : 6;
    });
    ASSERT_TRUE(status.has_value());
    if (*status == 7)
        GTEST_SKIP() << "the temporary folder cannot be reached by another user";
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(readAll(theirsPhoto), "the earlier export");
    EXPECT_EQ(QDir(otherData + QStringLiteral("/Trash/files")).entryList(QDir::Files).size(), 1);
}

TEST_F(TrashTest, AFailedMoveKeepsTheFileAndIsReported)
{
    writeFile(photo("a.jpg"), "a");
    writeFile(photo("b.jpg"), "b");
    const TrashOutcome outcome = trash->moveToTrash({photo("a.jpg"), photo("missing.jpg"), photo("b.jpg")});
    ASSERT_EQ(outcome.moved.size(), 2u);
    ASSERT_EQ(outcome.failed.size(), 1u);
    EXPECT_EQ(outcome.failed[0].path, photo("missing.jpg"));
    EXPECT_FALSE(outcome.failed[0].reason.isEmpty());
    EXPECT_EQ(trashInfos().size(), 2);

    // A Trash that cannot be made (its place is taken by a file): nothing moves,
    // nothing is deleted, the reason is given.
    QTemporaryDir brokenData(QDir::homePath() + QStringLiteral("/broken-XXXXXX"));
    writeFile(brokenData.filePath("Trash"), "not a folder");
    FreedesktopTrash broken(brokenData.path());
    writeFile(photo("c.jpg"), "c");
    const TrashOutcome refused = broken.moveToTrash({photo("c.jpg")});
    EXPECT_TRUE(refused.moved.empty());
    ASSERT_EQ(refused.failed.size(), 1u);
    EXPECT_EQ(refused.failed[0].reason, Texts::text("msg.trashUnavailable"));
    EXPECT_EQ(readAll(photo("c.jpg")), "c");

    // Folders are not photos and are refused.
    QDir(photos->path()).mkdir("sub.jpg");
    EXPECT_EQ(trash->moveToTrash({photo("sub.jpg")}).failed.size(), 1u);
    EXPECT_TRUE(QFileInfo(photo("sub.jpg")).isDir());

    // A folder that refuses the move says so, as another user meets it: one
    // not theirs to change, and a shared one (sticky) holding another's file.
    QTemporaryDir place;
    const QString locked = place.filePath("theirs"), shared = place.filePath("shared"), data = place.filePath("data");
    ASSERT_TRUE(QDir().mkdir(locked) && QDir().mkdir(shared) && QDir().mkdir(data));
    writeFile(locked + "/l.jpg", "l");
    writeFile(shared + "/s.jpg", "s");
    ::chmod(QFile::encodeName(place.path()).constData(), 0755);
    ::chmod(QFile::encodeName(locked).constData(), 0755);
    ::chmod(QFile::encodeName(shared).constData(), 01777);
    ::chmod(QFile::encodeName(data).constData(), 0777);
    const std::optional<int> status = exitStatusAsNobody([&] {
        FreedesktopTrash theirs(data);
        const TrashOutcome l = theirs.moveToTrash({locked + "/l.jpg"});
        const TrashOutcome s = theirs.moveToTrash({shared + "/s.jpg"});
        const bool lSaid = l.failed.size() == 1
                           && l.failed[0].reason == Texts::format("msg.errFolderNotWritable", {"theirs"});
        const bool sSaid = s.failed.size() == 1 && s.failed[0].reason == Texts::text("msg.errStickyFolder");
        return (lSaid ? 0 : 1) | (sSaid ? 0 : 2);
    });
    if (status) {
        EXPECT_EQ(*status, 0) << "1: the locked folder, 2: the shared folder";
    }
    EXPECT_EQ(readAll(locked + "/l.jpg"), "l");
    EXPECT_EQ(readAll(shared + "/s.jpg"), "s");
}

// A read-only drive (a locked card, a mount for reading) keeps no Trash, and
// says that it is read-only rather than that it has no Trash. Needs the right
// to mount; skipped without it.
TEST_F(TrashTest, AReadOnlyDriveSaysItIsReadOnly)
{
    writeFile(photo("a.jpg"), "a");
    QTemporaryDir mountPoint(QDir::homePath() + QStringLiteral("/ro-XXXXXX"));
    const QByteArray source = QFile::encodeName(photos->path());
    const QByteArray target = QFile::encodeName(mountPoint.path());
    if (::mount(source.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "mounting needs privileges this run does not have";
    const bool readOnly =
        ::mount(nullptr, target.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    const TrashOutcome refused = readOnly ? trash->moveToTrash({mountPoint.filePath("a.jpg")}) : TrashOutcome{};
    ::umount2(target.constData(), MNT_DETACH);
    if (!readOnly)
        GTEST_SKIP() << "the mount could not be made read-only";
    EXPECT_TRUE(refused.moved.empty());
    ASSERT_EQ(refused.failed.size(), 1u);
    EXPECT_EQ(refused.failed[0].reason, QString::fromLocal8Bit(std::strerror(EROFS)));
    EXPECT_EQ(readAll(photo("a.jpg")), "a");
}

// A card opened through a link keeps its Trash at the card's top, where file
// managers look, not in a folder on it. Needs the right to mount.
TEST_F(TrashTest, ACardReachedThroughALinkKeepsItsTrashAtItsTop)
{
    QTemporaryDir card(QDir::homePath() + QStringLiteral("/card-XXXXXX"));
    const QByteArray target = QFile::encodeName(card.path());
    if (::mount("tmpfs", target.constData(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "mounting needs privileges this run does not have";
    ASSERT_TRUE(QDir(card.path()).mkpath("DCIM/100CANON"));
    writeFile(card.filePath("DCIM/100CANON/IMG_0001.JPG"), "shot");
    const QString link = photos->filePath("cardlink");
    ASSERT_TRUE(QFile::link(card.path(), link));
    const TrashOutcome moved = trash->moveToTrash({link + "/DCIM/100CANON/IMG_0001.JPG"});
    const bool atTop = moved.moved.size() == 1
                       && moved.moved[0].trashedPath.startsWith(card.path() + "/.Trash-" + QString::number(::getuid()));
    const RestoreOutcome back = moved.moved.empty() ? RestoreOutcome{} : trash->restore(moved.moved[0]);
    const QByteArray restored = readAll(card.filePath("DCIM/100CANON/IMG_0001.JPG"));
    ::umount2(target.constData(), MNT_DETACH);
    ASSERT_EQ(moved.moved.size(), 1u);
    EXPECT_TRUE(atTop) << qPrintable(moved.moved[0].trashedPath);
    EXPECT_EQ(back.kind, RestoreOutcome::Kind::restored);
    EXPECT_EQ(restored, "shot");
}

// A full card cannot hold the folders of a Trash, and says that it is full
// rather than that it has no Trash. Needs the right to mount.
TEST_F(TrashTest, AFullCardSaysItIsFull)
{
    QTemporaryDir card(QDir::homePath() + QStringLiteral("/full-XXXXXX"));
    const QByteArray target = QFile::encodeName(card.path());
    if (::mount("tmpfs", target.constData(), "tmpfs", 0, "size=64k,nr_inodes=16") != 0)
        GTEST_SKIP() << "mounting needs privileges this run does not have";
    writeFile(card.filePath("IMG_0001.JPG"), "shot");
    // Every block and every inode taken.
    {
        QFile filler(card.filePath("filler"));
        if (filler.open(QIODevice::WriteOnly)) {
            const QByteArray block(4096, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
        }
    }
    for (int i = 0; i < 64; ++i) {
        QFile empty(card.filePath(QStringLiteral("empty-%1").arg(i)));
        if (!empty.open(QIODevice::WriteOnly))
            break;
    }
    const TrashOutcome refused = trash->moveToTrash({card.filePath("IMG_0001.JPG")});
    const QByteArray kept = readAll(card.filePath("IMG_0001.JPG"));
    ::umount2(target.constData(), MNT_DETACH);
    EXPECT_TRUE(refused.moved.empty());
    ASSERT_EQ(refused.failed.size(), 1u);
    EXPECT_EQ(refused.failed[0].reason, Texts::text("msg.trashDriveFull"));
    EXPECT_EQ(kept, "shot");
}

TEST_F(TrashTest, NoAbsoluteDataFolderMeansNoTrashNeverTheCurrentFolder)
{
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    qputenv("HOME", "relative-home");
    qputenv("XDG_DATA_HOME", "relative-data");
    FreedesktopTrash fromEnvironment;
    EXPECT_FALSE(fromEnvironment.homeTrash().has_value());
    writeFile(photo("a.jpg"), "a");
    const QString saved = QDir::currentPath();
    QDir::setCurrent(photos->path());
    const TrashOutcome outcome = fromEnvironment.moveToTrash({photo("a.jpg")});
    QDir::setCurrent(saved);
    qputenv("HOME", savedHome);
    qputenv("XDG_DATA_HOME", savedData);
    EXPECT_EQ(outcome.failed.size(), 1u);
    EXPECT_TRUE(QFile::exists(photo("a.jpg")));
    EXPECT_FALSE(QFileInfo::exists(photos->filePath("relative-data")));
    EXPECT_FALSE(QFileInfo::exists(photos->filePath("relative-home")));
}

} // namespace
