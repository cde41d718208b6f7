#include "library/FolderModel.h"
#include "library/PhotosBelow.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A throw-away folder with files of given sizes and modification times.
class Sandbox
{
public:
    Sandbox() { EXPECT_TRUE(dir.isValid()); }

    QString path(const QString &name) const { return dir.filePath(name); }

    QString file(const QString &name, qint64 size = 1, std::optional<qint64> mtimeSeconds = std::nullopt)
    {
        const QString filePath = path(name);
        QFile out(filePath);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly)) << qPrintable(filePath);
        out.write(QByteArray(size, 'x'));
        out.close();
        if (mtimeSeconds) {
            const struct timespec times[2] = {{*mtimeSeconds, 0}, {*mtimeSeconds, 0}};
            EXPECT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(filePath).constData(), times, 0), 0);
        }
        return filePath;
    }

    QString folder(const QString &name)
    {
        EXPECT_TRUE(QDir(dir.path()).mkpath(name));
        return path(name);
    }

    QString root() const { return dir.path(); }

private:
    QTemporaryDir dir;
};

QStringList namesOf(const FolderModel &model)
{
    QStringList names;
    for (const ImageItem &item : model.items())
        names << item.fileName();
    return names;
}

QString currentName(const FolderModel &model)
{
    const auto item = model.current();
    return item ? item->fileName() : QString();
}

class FolderModelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Settings::setSortKey(SortKey::name);
        Settings::setSortReversed(false);
    }

    Sandbox sandbox;
    FolderModel model;
};

TEST_F(FolderModelTest, ListingKeepsSupportedNamesOnlyAndSkipsHiddenFiles)
{
    sandbox.file("a.JPG");
    sandbox.file("b.txt");
    sandbox.file(".hidden.jpg");
    sandbox.folder("c.png");          // a folder named like a photo is no photo
    sandbox.folder("sub");
    sandbox.file("sub/deep.jpg");     // sub-folders are not entered
    sandbox.file("noext");
    sandbox.file("photo.jpeg.bak");

    EXPECT_TRUE(model.load(sandbox.root()));
    EXPECT_EQ(namesOf(model), (QStringList{"a.JPG"}));
    EXPECT_EQ(model.index(), 0);
    // Every URL is the folder with the file name appended.
    EXPECT_EQ(model.items().at(0).url, sandbox.path("a.JPG"));
}

// A name that is not valid text reaches the program with its bad byte
// replaced. It stays an item while no other entry has that spelling; beside a
// file really named so, or a second such name, it would stand for the other
// file and is left out.
TEST_F(FolderModelTest, ANameThatIsNotTextNeverStandsForAnotherFile)
{
    const auto create = [&](const QByteArray &name) {
        const QByteArray full = QFile::encodeName(sandbox.root()) + '/' + name;
        const int fd = ::open(full.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        ::close(fd);
    };
    create("caf\xe9.jpg");
    create("th\xe9.jpg");
    EXPECT_TRUE(model.load(sandbox.root()));
    EXPECT_EQ(namesOf(model), (QStringList{QStringLiteral("caf\uFFFD.jpg"), QStringLiteral("th\uFFFD.jpg")}));

    create("caf\xe8.jpg");          // decodes like the first
    create("th\xef\xbf\xbd.jpg");   // spelled with the replacement character itself
    EXPECT_TRUE(model.load(sandbox.root()));
    EXPECT_EQ(namesOf(model), (QStringList{QStringLiteral("caf\uFFFD.jpg"), QStringLiteral("th\uFFFD.jpg")}));
    const auto listed = FolderModel::listFolder(sandbox.root());
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->size(), 2);
}

// What is not a readable folder lists as nothing, with the reason, and a pipe
// named like a folder is never opened (opening one would wait for a writer).
TEST_F(FolderModelTest, WhatIsNotAFolderListsAsNothingWithItsReason)
{
    sandbox.file("photo.jpg", 10);
    ASSERT_EQ(::mkfifo(QFile::encodeName(sandbox.path("pipe")).constData(), 0644), 0) << std::strerror(errno);
    const auto reasonFor = [](const QString &path) {
        int error = 0;
        EXPECT_FALSE(FolderModel::listFolder(path, &error)) << path.toStdString();
        return error;
    };
    EXPECT_EQ(reasonFor(sandbox.path("missing")), ENOENT);
    EXPECT_EQ(reasonFor(sandbox.path("photo.jpg")), ENOTDIR);
    EXPECT_EQ(reasonFor(sandbox.path("pipe")), ENOTDIR);
    const auto listed = FolderModel::listFolder(sandbox.root());
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->size(), 1);
}

TEST_F(FolderModelTest, AFileWhoseAttributesCannotBeReadIsStillAnItem)
{
    sandbox.file("real.jpg", 10);
    ASSERT_TRUE(QFile::link(sandbox.path("gone.jpg"), sandbox.path("dangling.jpg")));

    ASSERT_TRUE(model.load(sandbox.root()));
    ASSERT_EQ(namesOf(model), (QStringList{"dangling.jpg", "real.jpg"}));
    const ImageItem dangling = model.items().at(0);
    EXPECT_EQ(dangling.fileSize, 0);
    EXPECT_FALSE(dangling.modified);
    EXPECT_FALSE(dangling.created);
}

TEST_F(FolderModelTest, SymbolicLinksShowTheLinkedFilesAttributes)
{
    const QString target = sandbox.file("elsewhere.dat", 777, 1'400'000'000);
    ASSERT_TRUE(QFile::link(target, sandbox.path("linked.jpg")));

    ASSERT_TRUE(model.load(sandbox.root()));
    ASSERT_EQ(model.count(), 1);
    EXPECT_EQ(model.items().at(0).url, sandbox.path("linked.jpg"));
    EXPECT_EQ(model.items().at(0).fileSize, 777);
    EXPECT_EQ(model.items().at(0).modified->toSecsSinceEpoch(), 1'400'000'000);
}

TEST_F(FolderModelTest, AFileOpenedDirectlyIsShownAndCurrentWhateverItsName)
{
    sandbox.file("1.jpg");
    sandbox.file("2.jpg");
    sandbox.file("3.jpg");
    const QString notes = sandbox.file("notes.xyz");

    ASSERT_TRUE(model.load(notes));
    EXPECT_EQ(namesOf(model), (QStringList{"1.jpg", "2.jpg", "3.jpg", "notes.xyz"}));
    EXPECT_EQ(currentName(model), "notes.xyz");
    EXPECT_EQ(model.current()->url, notes);

    // A hidden file opened directly too, and only once.
    const QString hidden = sandbox.file(".secret.jpg");
    ASSERT_TRUE(model.load(hidden));
    EXPECT_EQ(model.count(), 4);
    EXPECT_EQ(model.current()->url, hidden);
}

TEST_F(FolderModelTest, OpeningAFileSelectsItAndOpeningTheFolderSelectsTheFirst)
{
    sandbox.file("a.jpg");
    sandbox.file("b.jpg");
    const QString c = sandbox.file("c.jpg");

    ASSERT_TRUE(model.load(c));
    EXPECT_EQ(model.count(), 3);   // listed once, not appended again
    EXPECT_EQ(model.index(), 2);

    ASSERT_TRUE(model.load(sandbox.root()));
    EXPECT_EQ(model.index(), 0);
    EXPECT_EQ(currentName(model), "a.jpg");
}

TEST_F(FolderModelTest, LocationsAreStandardized)
{
    sandbox.folder("sub");
    sandbox.file("a.jpg");
    const QString b = sandbox.file("b.jpg");

    ASSERT_TRUE(model.load(sandbox.root() + "/sub/../b.jpg"));
    EXPECT_EQ(model.current()->url, b);
    EXPECT_EQ(model.count(), 2);

    ASSERT_TRUE(model.load(sandbox.root() + "/sub/../"));
    EXPECT_EQ(model.items().at(0).url, sandbox.path("a.jpg"));

    // A relative location is taken from the working directory.
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(sandbox.root() + "/sub"));
    const bool loaded = model.load("../b.jpg");
    QDir::setCurrent(before);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(model.current()->url, b);
}

TEST_F(FolderModelTest, MissingAndUnreadableLocationsGiveAnEmptyModel)
{
    sandbox.file("a.jpg");
    sandbox.file("b.jpg");

    ASSERT_TRUE(model.load(sandbox.root()));
    EXPECT_FALSE(model.load(sandbox.path("no-such-folder/x.jpg")));
    EXPECT_EQ(model.count(), 0);
    EXPECT_EQ(model.index(), 0);
    EXPECT_FALSE(model.current());
    EXPECT_FALSE(model.load(QString()));

    // A vanished file in a readable folder: the folder's images from the first.
    ASSERT_TRUE(model.load(sandbox.path("deleted.jpg")));
    EXPECT_EQ(namesOf(model), (QStringList{"a.jpg", "b.jpg"}));
    EXPECT_EQ(model.index(), 0);

    // An empty folder and a folder of other files.
    sandbox.folder("empty");
    sandbox.file("empty/readme.txt");
    EXPECT_FALSE(model.load(sandbox.path("empty")));
    EXPECT_EQ(model.count(), 0);

    if (::geteuid() != 0) {
        const QString locked = sandbox.folder("locked");
        sandbox.file("locked/x.jpg");
        ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);
        EXPECT_FALSE(model.load(locked));
        ::chmod(QFile::encodeName(locked).constData(), 0700);
    }
}

// Each order and its reverse: names the way the file browser sorts them, size
// largest first with ties in reverse name order, dates newest first. The reverse
// flag turns the whole order around, the tie-break too.
TEST_F(FolderModelTest, EachOrderAndItsReverse)
{
    struct File { const char *name; qint64 size; qint64 modified; };
    struct Case { SortKey key; std::vector<File> files; QStringList expected; };
    const Case cases[] = {
        {SortKey::name,
         {{"img10.jpg", 1, 0}, {"IMG3.jpg", 1, 0}, {"img2.jpg", 1, 0}, {"10.jpg", 1, 0}, {"2.jpg", 1, 0},
          {"B.jpg", 1, 0}, {"a.jpg", 1, 0}},
         {"2.jpg", "10.jpg", "a.jpg", "B.jpg", "img2.jpg", "IMG3.jpg", "img10.jpg"}},
        {SortKey::size, {{"a.jpg", 100, 0}, {"b.jpg", 300, 0}, {"c.jpg", 100, 0}, {"d.jpg", 200, 0}},
         {"b.jpg", "d.jpg", "c.jpg", "a.jpg"}},
        {SortKey::modified,
         {{"old.jpg", 1, 1'000'000'000}, {"new.jpg", 1, 1'600'000'000}, {"mid.jpg", 1, 1'300'000'000}},
         {"new.jpg", "mid.jpg", "old.jpg"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(sortKeyTitleKey(c.key));
        Sandbox files;
        for (const File &f : c.files)
            files.file(f.name, f.size, f.modified ? f.modified : 1'500'000'000);
        Settings::setSortKey(c.key);
        Settings::setSortReversed(false);
        ASSERT_TRUE(model.load(files.root()));
        EXPECT_EQ(namesOf(model), c.expected);
        Settings::setSortReversed(true);
        model.resort();
        QStringList reversed = c.expected;
        std::reverse(reversed.begin(), reversed.end());
        EXPECT_EQ(namesOf(model), reversed);
    }
}

TEST_F(FolderModelTest, CaptureDateOrderFallsBackToModificationDates)
{
    sandbox.file("a.jpg", 1, 1'100'000'000);
    sandbox.file("b.jpg", 1, 1'300'000'000);
    sandbox.file("c.jpg", 1, 1'200'000'000);
    sandbox.file("d.jpg", 1, 1'200'000'000);
    Settings::setSortKey(SortKey::modified);
    ASSERT_TRUE(model.load(sandbox.root()));
    const QStringList byModified = namesOf(model);

    // No capture dates at all: exactly the modification order.
    Settings::setSortKey(SortKey::captureDate);
    model.resort();
    EXPECT_EQ(namesOf(model), byModified);
    EXPECT_EQ(namesOf(model), (QStringList{"b.jpg", "d.jpg", "c.jpg", "a.jpg"}));
    EXPECT_TRUE(model.needsCaptureDates());

    // A capture date wins over the modification date of the same item.
    model.applyCaptureDates({{sandbox.path("a.jpg"), QDateTime::fromSecsSinceEpoch(1'400'000'000, Qt::UTC)},
                             {sandbox.path("unknown.jpg"), QDateTime::fromSecsSinceEpoch(1, Qt::UTC)}});
    model.resort();
    EXPECT_EQ(namesOf(model), (QStringList{"a.jpg", "b.jpg", "d.jpg", "c.jpg"}));
    EXPECT_TRUE(model.needsCaptureDates());

    QHash<QString, QDateTime> rest;
    for (const char *name : {"b.jpg", "c.jpg", "d.jpg"})
        rest.insert(sandbox.path(name), QDateTime::fromSecsSinceEpoch(1'000, Qt::UTC));
    model.applyCaptureDates(rest);
    EXPECT_FALSE(model.needsCaptureDates());

    // Only the capture-date order needs them.
    model.applyCaptureDates({});
    Settings::setSortKey(SortKey::name);
    model.load(sandbox.root());
    EXPECT_FALSE(model.needsCaptureDates());
}

TEST_F(FolderModelTest, ResortKeepsTheGivenItemElseTheFirst)
{
    sandbox.file("a.jpg", 30);
    sandbox.file("b.jpg", 10);
    sandbox.file("c.jpg", 20);
    ASSERT_TRUE(model.load(sandbox.path("b.jpg")));
    ASSERT_EQ(model.index(), 1);

    Settings::setSortKey(SortKey::size);
    model.resort(model.current()->url);
    EXPECT_EQ(namesOf(model), (QStringList{"a.jpg", "c.jpg", "b.jpg"}));
    EXPECT_EQ(currentName(model), "b.jpg");

    model.resort();
    EXPECT_EQ(model.index(), 0);
    model.jump(2);
    model.resort(sandbox.path("not-here.jpg"));
    EXPECT_EQ(model.index(), 0);
}

TEST_F(FolderModelTest, StepsWrapAroundAtBothEnds)
{
    FolderModel empty;
    empty.move(1);
    empty.move(-1);
    empty.jump(0);
    EXPECT_EQ(empty.index(), 0);
    EXPECT_FALSE(empty.current());

    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        sandbox.file(name);
    ASSERT_TRUE(model.load(sandbox.root()));

    model.move(-1);
    EXPECT_EQ(currentName(model), "c.jpg");
    model.move(1);
    EXPECT_EQ(currentName(model), "a.jpg");
    model.move(2);
    model.move(1);
    EXPECT_EQ(currentName(model), "a.jpg");

    // Steps longer than the list, either way, still land inside it.
    model.move(-7);
    EXPECT_EQ(currentName(model), "c.jpg");
    model.move(10);
    EXPECT_EQ(currentName(model), "a.jpg");
    model.move(std::numeric_limits<qint64>::max());
    EXPECT_EQ(model.index(), int(std::numeric_limits<qint64>::max() % 3));
    model.move(std::numeric_limits<qint64>::min());
    EXPECT_GE(model.index(), 0);
    EXPECT_LT(model.index(), 3);

    model.jump(1);
    EXPECT_EQ(model.index(), 1);
    model.jump(3);
    model.jump(-1);
    EXPECT_EQ(model.index(), 1);

    EXPECT_EQ(model.position(sandbox.path("c.jpg")), 2);
    EXPECT_FALSE(model.position(sandbox.path("d.jpg")));
}

TEST_F(FolderModelTest, RemovingTheCurrentItemKeepsTheIndexInRange)
{
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        sandbox.file(name);
    ASSERT_TRUE(model.load(sandbox.root()));

    model.jump(1);
    EXPECT_TRUE(model.removeCurrent());
    EXPECT_EQ(currentName(model), "c.jpg");   // the next one takes its place

    EXPECT_TRUE(model.removeCurrent());       // the last one: back to the new last
    EXPECT_EQ(model.index(), 0);
    EXPECT_EQ(currentName(model), "a.jpg");

    EXPECT_FALSE(model.removeCurrent());      // the only one
    EXPECT_EQ(model.count(), 0);
    EXPECT_EQ(model.index(), 0);
    EXPECT_FALSE(model.removeCurrent());
}

TEST_F(FolderModelTest, RemovingAnItemByPositionKeepsTheSamePhotoCurrent)
{
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
        sandbox.file(name);
    ASSERT_TRUE(model.load(sandbox.root()));
    model.jump(2);

    EXPECT_TRUE(model.removeAt(0));   // before the current one: still c
    EXPECT_EQ(currentName(model), "c.jpg");
    EXPECT_TRUE(model.removeAt(2));   // after it: still c
    EXPECT_EQ(currentName(model), "c.jpg");
    EXPECT_TRUE(model.removeAt(1));   // the current, the last: the new last
    EXPECT_EQ(currentName(model), "b.jpg");
    EXPECT_TRUE(model.removeAt(7));   // out of range: nothing happens
    EXPECT_TRUE(model.removeAt(-1));
    EXPECT_EQ(model.count(), 1);
    EXPECT_FALSE(model.removeAt(0));
    EXPECT_EQ(model.index(), 0);
}

TEST_F(FolderModelTest, RenameChangesTheUrlOnlyAndDoesNotResort)
{
    sandbox.file("a.jpg", 5, 1'000'000'000);
    sandbox.file("b.jpg", 6);
    ASSERT_TRUE(model.load(sandbox.root()));
    model.setPixelSize(4000, 3000);
    const ImageItem before = *model.current();

    EXPECT_TRUE(model.renameCurrent("z.jpg"));
    const ImageItem after = *model.current();
    EXPECT_EQ(after.url, sandbox.path("z.jpg"));
    EXPECT_EQ(namesOf(model), (QStringList{"z.jpg", "b.jpg"}));
    EXPECT_EQ(after.pixelSize, QSizeF(4000, 3000));
    EXPECT_EQ(after.modified, before.modified);
    EXPECT_EQ(after.fileSize, 5);

    // A name that is not a single path component would point elsewhere.
    for (const char *bad : {"", ".", "..", "sub/z.jpg", "/z.jpg"})
        EXPECT_FALSE(model.renameCurrent(bad)) << bad;
    EXPECT_EQ(model.current()->url, sandbox.path("z.jpg"));

    FolderModel empty;
    EXPECT_FALSE(empty.renameCurrent("x.jpg"));
    empty.setPixelSize(1, 1);
    EXPECT_EQ(empty.count(), 0);
}

// What other programs do to a shown folder, brought in by a fresh listing.
TEST_F(FolderModelTest, ARefreshFollowsTheFolderAndKeepsTheOrderAndTheCurrentPhoto)
{
    for (const char *name : {"b.jpg", "d.jpg", "f.jpg"})
        sandbox.file(name, 10, 1'000'000'000);
    sandbox.file("h.jpg", 20, 1'000'000'000);
    ASSERT_TRUE(model.load(sandbox.path("d.jpg")));
    ASSERT_TRUE(model.renameCurrent("z.jpg"));   // renamed here: out of name order, stays put
    ASSERT_TRUE(QFile::rename(sandbox.path("d.jpg"), sandbox.path("z.jpg")));
    const auto refresh = [this] { return model.refresh(*FolderModel::listFolder(sandbox.root())); };

    EXPECT_FALSE(refresh().any()) << "nothing changed";

    // New files go to their sorted place among the others; z.jpg keeps its.
    sandbox.file("a.jpg");
    sandbox.file("e.jpg");
    sandbox.file("notes.txt");
    FolderChanges changes = refresh();
    EXPECT_EQ(changes.added, 2);
    EXPECT_EQ(namesOf(model), (QStringList{"a.jpg", "b.jpg", "e.jpg", "z.jpg", "f.jpg", "h.jpg"}));
    EXPECT_EQ(currentName(model), "z.jpg");

    // Rewritten: the new attributes are taken and what was read of the old
    // pixels is forgotten.
    model.setPixelSize(4000, 3000);
    sandbox.file("z.jpg", 99, 1'100'000'000);
    changes = refresh();
    EXPECT_EQ(changes.changed, QStringList{sandbox.path("z.jpg")});
    EXPECT_EQ(model.current()->fileSize, 99);
    EXPECT_FALSE(model.current()->pixelSize.has_value());

    // Renamed elsewhere: the same size and time, so the same photo, in place.
    ASSERT_TRUE(QFile::rename(sandbox.path("z.jpg"), sandbox.path("c2.jpg")));
    ASSERT_TRUE(QFile::rename(sandbox.path("h.jpg"), sandbox.path("0.jpg")));
    changes = refresh();
    EXPECT_EQ(changes.moved.value(sandbox.path("z.jpg")), sandbox.path("c2.jpg"));
    EXPECT_EQ(changes.moved.value(sandbox.path("h.jpg")), sandbox.path("0.jpg"));
    EXPECT_EQ(changes.added, 0);
    EXPECT_TRUE(changes.gone.isEmpty());
    EXPECT_EQ(namesOf(model), (QStringList{"a.jpg", "b.jpg", "e.jpg", "c2.jpg", "f.jpg", "0.jpg"}));
    EXPECT_EQ(currentName(model), "c2.jpg");

    // Two files of one size and time renamed at once cannot be told apart:
    // gone and new, never swapped.
    ASSERT_TRUE(QFile::rename(sandbox.path("b.jpg"), sandbox.path("b2.jpg")));
    ASSERT_TRUE(QFile::rename(sandbox.path("f.jpg"), sandbox.path("f2.jpg")));
    changes = refresh();
    EXPECT_TRUE(changes.moved.isEmpty());
    EXPECT_EQ(changes.gone.size(), 2);
    EXPECT_EQ(changes.added, 2);
    EXPECT_EQ(namesOf(model), (QStringList{"a.jpg", "b2.jpg", "e.jpg", "c2.jpg", "0.jpg", "f2.jpg"}));

    // The shown file deleted: the one after it takes its place.
    ASSERT_TRUE(QFile::remove(sandbox.path("c2.jpg")));
    changes = refresh();
    EXPECT_EQ(changes.gone, QStringList{sandbox.path("c2.jpg")});
    EXPECT_EQ(currentName(model), "0.jpg");

    // Our own rewrite, noted by restat, is no change.
    sandbox.file("e.jpg", 7, 1'200'000'000);
    model.restat(sandbox.path("e.jpg"));
    EXPECT_FALSE(refresh().any());
}

// Another copy of the program reversed the order meanwhile: the next refresh
// sorts the list that way, rather than placing a new file by an order the list
// is not in.
TEST_F(FolderModelTest, ARefreshFollowsAnOrderChangedElsewhere)
{
    for (const char *name : {"b.jpg", "d.jpg", "f.jpg"})
        sandbox.file(name);
    ASSERT_TRUE(model.load(sandbox.path("d.jpg")));
    const auto refresh = [this] { return model.refresh(*FolderModel::listFolder(sandbox.root())); };
    Settings::setSortReversed(true);
    sandbox.file("c.jpg");
    const FolderChanges changes = refresh();
    EXPECT_TRUE(changes.resorted);
    EXPECT_EQ(namesOf(model), (QStringList{"f.jpg", "d.jpg", "c.jpg", "b.jpg"}));
    EXPECT_EQ(currentName(model), "d.jpg");
    EXPECT_FALSE(refresh().any());

    Settings::setSortReversed(false);
    EXPECT_TRUE(refresh().resorted) << "with nothing new in the folder too";
    EXPECT_EQ(namesOf(model), (QStringList{"b.jpg", "c.jpg", "d.jpg", "f.jpg"}));
}

TEST_F(FolderModelTest, ManyNewFilesAtOnceAreSortedInWithTheRest)
{
    sandbox.file("m.jpg");
    sandbox.file("z.jpg");
    ASSERT_TRUE(model.load(sandbox.path("z.jpg")));
    QStringList expected{"m.jpg", "z.jpg"};
    for (int i = 0; i < 70; ++i) {
        const QString name = QStringLiteral("%1%2.jpg").arg(i % 2 ? u'a' : u'n').arg(i, 2, 10, QLatin1Char('0'));
        sandbox.file(name);
        expected << name;
    }
    const FolderChanges changes = model.refresh(*FolderModel::listFolder(sandbox.root()));
    EXPECT_EQ(changes.added, 70);
    QList<ImageItem> sorted = model.items();
    FolderModel::sortItems(sorted, SortKey::name, false);
    EXPECT_EQ(model.items(), sorted);
    EXPECT_EQ(model.count(), 72);
    EXPECT_EQ(currentName(model), "z.jpg");
}

TEST_F(FolderModelTest, ARefreshKeepsAHiddenFileOpenedDirectlyUntilItIsGone)
{
    sandbox.file("a.jpg");
    const QString hidden = sandbox.file(".secret.jpg", 3);
    ASSERT_TRUE(model.load(hidden));
    ASSERT_EQ(model.count(), 2);
    EXPECT_FALSE(model.refresh(*FolderModel::listFolder(sandbox.root())).any());
    EXPECT_EQ(currentName(model), ".secret.jpg");

    ASSERT_TRUE(QFile::remove(hidden));
    const FolderChanges changes = model.refresh(*FolderModel::listFolder(sandbox.root()));
    EXPECT_EQ(changes.gone, QStringList{hidden});
    EXPECT_EQ(namesOf(model), QStringList{"a.jpg"});
}

TEST_F(FolderModelTest, ABigFolderIsListedCompletelyWithEachFilesOwnAttributes)
{
    // Big enough that the attributes are read by several threads.
    constexpr int count = 6000;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("IMG_%1.jpg").arg(i);
        const QByteArray path = QFile::encodeName(sandbox.path(name));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, i), 0);
        const struct timespec times[2] = {{1'000'000'000 + i, 0}, {1'000'000'000 + i, 0}};
        ASSERT_EQ(::futimens(fd, times), 0);
        ::close(fd);
        if (i % 100 == 0)
            sandbox.file(QStringLiteral("notes%1.txt").arg(i));
    }

    ASSERT_TRUE(model.load(sandbox.root()));
    ASSERT_EQ(model.count(), count);
    for (int i = 0; i < count; ++i) {
        const ImageItem &item = model.items().at(i);
        ASSERT_EQ(item.fileName(), QStringLiteral("IMG_%1.jpg").arg(i));
        ASSERT_EQ(item.url, sandbox.path(item.fileName()));
        ASSERT_EQ(item.fileSize, i);
        ASSERT_EQ(item.modified->toSecsSinceEpoch(), 1'000'000'000 + i);
    }

    Settings::setSortKey(SortKey::size);
    model.resort(sandbox.path("IMG_42.jpg"));
    EXPECT_EQ(currentName(model), "IMG_42.jpg");
    EXPECT_EQ(model.index(), count - 1 - 42);
    EXPECT_EQ(model.items().first().fileSize, count - 1);
}

TEST_F(FolderModelTest, ListingAFolderReadsNoImageData)
{
    // Files that are not images at all, and one that cannot be read: listing
    // and sorting must not care, because they never open the files.
    sandbox.file("garbage.jpg", 50);
    const QString locked = sandbox.file("locked.png", 60);
    ::chmod(QFile::encodeName(locked).constData(), 0);
    Settings::setSortKey(SortKey::size);

    ASSERT_TRUE(model.load(sandbox.root()));
    EXPECT_EQ(namesOf(model), (QStringList{"locked.png", "garbage.jpg"}));
    EXPECT_EQ(model.items().at(0).fileSize, 60);
    ::chmod(QFile::encodeName(locked).constData(), 0600);
}

} // namespace

// A folder without photos points to the nearest one below that has some: a
// camera card's root to DCIM/100CANON. Hidden folders and links are not
// entered, shallower comes first, then the file browser's order.
TEST_F(FolderModelTest, TheNearestFolderBelowWithPhotosIsFound)
{
    const QString card = sandbox.folder(QStringLiteral("card"));
    sandbox.folder(QStringLiteral("card/MISC"));
    sandbox.file(QStringLiteral("card/MISC/notes.txt"));
    EXPECT_EQ(nearestFolderWithPhotos(card), std::nullopt);

    sandbox.folder(QStringLiteral("card/.Trashes/501"));
    sandbox.file(QStringLiteral("card/.Trashes/501/old.jpg"));
    sandbox.folder(QStringLiteral("elsewhere"));
    sandbox.file(QStringLiteral("elsewhere/linked.jpg"));
    ASSERT_EQ(::symlink(QFile::encodeName(sandbox.path(QStringLiteral("elsewhere"))).constData(),
                        QFile::encodeName(sandbox.path(QStringLiteral("card/A-link"))).constData()),
              0);
    EXPECT_EQ(nearestFolderWithPhotos(card), std::nullopt);

    sandbox.folder(QStringLiteral("card/DCIM/101CANON"));
    sandbox.file(QStringLiteral("card/DCIM/101CANON/IMG_0100.JPG"));
    sandbox.folder(QStringLiteral("card/DCIM/100CANON"));
    sandbox.file(QStringLiteral("card/DCIM/100CANON/IMG_0001.CR3"));
    EXPECT_EQ(nearestFolderWithPhotos(card), sandbox.path(QStringLiteral("card/DCIM/100CANON")));
    EXPECT_EQ(nearestFolderWithPhotos(sandbox.path(QStringLiteral("card/DCIM"))),
              sandbox.path(QStringLiteral("card/DCIM/100CANON")));
    // The folder opened may itself be a link.
    ASSERT_EQ(::symlink(QFile::encodeName(card).constData(),
                        QFile::encodeName(sandbox.path(QStringLiteral("card-link"))).constData()),
              0);
    EXPECT_EQ(nearestFolderWithPhotos(sandbox.path(QStringLiteral("card-link"))),
              sandbox.path(QStringLiteral("card-link/DCIM/100CANON")));

    sandbox.folder(QStringLiteral("card/Z"));
    sandbox.file(QStringLiteral("card/Z/shallow.png"));
    EXPECT_EQ(nearestFolderWithPhotos(card), sandbox.path(QStringLiteral("card/Z")));

    // Three levels down at most.
    const QString deep = sandbox.folder(QStringLiteral("deep/1/2/3/4"));
    sandbox.file(QStringLiteral("deep/1/2/3/4/a.jpg"));
    EXPECT_EQ(nearestFolderWithPhotos(sandbox.path(QStringLiteral("deep"))), std::nullopt);
    sandbox.file(QStringLiteral("deep/1/2/3/b.jpg"));
    EXPECT_EQ(nearestFolderWithPhotos(sandbox.path(QStringLiteral("deep"))), sandbox.path(QStringLiteral("deep/1/2/3")));
    EXPECT_EQ(nearestFolderWithPhotos(sandbox.path(QStringLiteral("missing"))), std::nullopt);
}
