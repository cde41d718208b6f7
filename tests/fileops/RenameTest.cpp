// Renaming one photo and a whole folder in a sandbox: the names built from
// what was typed, the search for a free name, files that appear at the last
// moment, sidecars, and the files of one shot.
#include "FileOpsTestSupport.h"

#include "fileops/Rename.h"
#include "fileops/SafeFile.h"
#include "settings/Texts.h"

#include "TestApplication.h"
#include "support/AsOtherUser.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

class RenameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApplication();
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { SafeFile::setStepHook({}); }

    QString path(const QString &name) const { return dir.filePath(name); }
    // A file whose bytes say which file it was.
    QString make(const QString &name)
    {
        EXPECT_TRUE(writeBytes(path(name), name.toUtf8()));
        return path(name);
    }
    QString contentOf(const QString &name) const { return QString::fromUtf8(bytesOf(path(name))); }
    QStringList names() const { return folderNames(dir.path()); }

    // Creates name (holding "intruder") the first time the move step is reached.
    void intrudeAtMove(const QString &name, int atMove = 1)
    {
        auto moves = std::make_shared<int>(0);
        const QString target = path(name);
        SafeFile::setStepHook([moves, target, atMove](std::string_view step) {
            if (step == "before-move" && ++*moves == atMove)
                writeBytes(target, "intruder");
            return true;
        });
    }

    QTemporaryDir dir;
};

TEST(RenameNames, SplitCleanAndNumber)
{
    EXPECT_EQ(Rename::splitName(QStringLiteral("IMG 1.JPG")).base, QStringLiteral("IMG 1"));
    EXPECT_EQ(Rename::splitName(QStringLiteral("IMG 1.JPG")).extension, QStringLiteral("JPG"));
    EXPECT_EQ(Rename::splitName(QStringLiteral("archive.tar.gz")).base, QStringLiteral("archive.tar"));
    EXPECT_TRUE(Rename::splitName(QStringLiteral("README")).extension.isEmpty());
    EXPECT_TRUE(Rename::splitName(QStringLiteral(".hidden")).extension.isEmpty());

    EXPECT_EQ(Rename::cleanedBase(QStringLiteral(" \tb/c:d \t")), QStringLiteral("b-c-d"));
    EXPECT_EQ(Rename::numberedName(QStringLiteral("b"), 1, QStringLiteral("jpg")), QStringLiteral("b.jpg"));
    EXPECT_EQ(Rename::numberedName(QStringLiteral("b"), 3, QStringLiteral("jpg")), QStringLiteral("b 3.jpg"));
    EXPECT_EQ(Rename::numberedName(QStringLiteral("b"), 2, QString()), QStringLiteral("b 2"));
    // A name that just fits gives way to a shorter one with its number.
    const QString longest(251, u'A');
    EXPECT_EQ(Rename::numberedName(longest, 2, QStringLiteral("jpg")), QString(249, u'A') + QStringLiteral(" 2.jpg"));
    EXPECT_EQ(Rename::batchName(QStringLiteral("trip"), 7, QStringLiteral("PNG")), QStringLiteral("trip-007.PNG"));
    EXPECT_EQ(Rename::batchName(QStringLiteral("trip"), 999, QStringLiteral("jpg")), QStringLiteral("trip-999.jpg"));
    EXPECT_EQ(Rename::batchName(QStringLiteral("trip"), 1000, QStringLiteral("jpg")), QStringLiteral("trip-1000.jpg"));
}

TEST_F(RenameTest, TypedNameIsTrimmedCleanedAndKeepsTheExtension)
{
    const QString a = make(QStringLiteral("a.JPG"));
    Rename::Result r = Rename::renamePhoto(a, QStringLiteral(" b/c "));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed) << r.reason.toStdString();
    EXPECT_EQ(r.newPath, path(QStringLiteral("b-c.JPG")));
    EXPECT_EQ(contentOf(QStringLiteral("b-c.JPG")), QStringLiteral("a.JPG"));

    r = Rename::renamePhoto(r.newPath, QStringLiteral("12:30"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    EXPECT_EQ(names(), QStringList{QStringLiteral("12-30.JPG")});

    // The extension typed with the name is not doubled, in either case; another stays.
    r = Rename::renamePhoto(r.newPath, QStringLiteral("garden.jpg"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    EXPECT_EQ(names(), QStringList{QStringLiteral("garden.JPG")});
    r = Rename::renamePhoto(r.newPath, QStringLiteral("garden.png"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    EXPECT_EQ(names(), QStringList{QStringLiteral("garden.png.JPG")});
    EXPECT_EQ(Rename::renamePhoto(r.newPath, QStringLiteral("garden.png.jpg")).status, Rename::Result::Status::unchanged);

    // A file without an extension gets none.
    const QString plain = make(QStringLiteral("scan"));
    r = Rename::renamePhoto(plain, QStringLiteral("page"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    EXPECT_EQ(r.newPath, path(QStringLiteral("page")));
}

TEST_F(RenameTest, NothingHappensForTheOwnNameAnEmptyNameOrAHiddenName)
{
    const QString a = make(QStringLiteral("a.jpg"));
    EXPECT_EQ(Rename::renamePhoto(a, QStringLiteral(" a\t")).status, Rename::Result::Status::unchanged);
    EXPECT_EQ(Rename::renamePhoto(a, QStringLiteral(" \t ")).status, Rename::Result::Status::empty);
    EXPECT_EQ(Rename::renamePhoto(a, QStringLiteral(".secret")).status, Rename::Result::Status::hidden);
    EXPECT_EQ(Rename::renamePhoto(a, QStringLiteral("  .secret")).status, Rename::Result::Status::hidden);
    EXPECT_EQ(names(), QStringList{QStringLiteral("a.jpg")});

    // "a:b" becomes the photo's own name "a-b": nothing to do.
    const QString ab = make(QStringLiteral("a-b.jpg"));
    EXPECT_EQ(Rename::renamePhoto(ab, QStringLiteral("a:b")).status, Rename::Result::Status::unchanged);
    // The free-name search arriving at the photo's own name leaves it too.
    make(QStringLiteral("c.jpg"));
    const QString c2 = make(QStringLiteral("c 2.jpg"));
    EXPECT_EQ(Rename::renamePhoto(c2, QStringLiteral("c")).status, Rename::Result::Status::unchanged);
    EXPECT_TRUE(QFile::exists(c2));
}

TEST_F(RenameTest, TakenNamesGetTheNextNumberAndNothingIsReplaced)
{
    make(QStringLiteral("b.jpg"));
    const QString a = make(QStringLiteral("a.jpg"));
    Rename::Result r = Rename::renamePhoto(a, QStringLiteral("b"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    EXPECT_EQ(r.newPath, path(QStringLiteral("b 2.jpg")));

    const QString x = make(QStringLiteral("x.jpg"));
    r = Rename::renamePhoto(x, QStringLiteral("b"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    EXPECT_EQ(r.newPath, path(QStringLiteral("b 3.jpg")));
    EXPECT_EQ(contentOf(QStringLiteral("b.jpg")), QStringLiteral("b.jpg"));
    EXPECT_EQ(contentOf(QStringLiteral("b 2.jpg")), QStringLiteral("a.jpg"));
    EXPECT_EQ(contentOf(QStringLiteral("b 3.jpg")), QStringLiteral("x.jpg"));

    // A taken name that just fits: the next one is shortened to fit with its number.
    const QString longest(251, u'L');
    make(longest + QStringLiteral(".jpg"));
    r = Rename::renamePhoto(make(QStringLiteral("w.jpg")), longest);
    ASSERT_EQ(r.status, Rename::Result::Status::renamed) << r.reason.toStdString();
    EXPECT_EQ(r.newPath, path(QString(249, u'L') + QStringLiteral(" 2.jpg")));

    // A dangling link holds its name as well as a file does.
    ASSERT_TRUE(QFile::link(path(QStringLiteral("nowhere")), path(QStringLiteral("d.jpg"))));
    const QString y = make(QStringLiteral("y.jpg"));
    r = Rename::renamePhoto(y, QStringLiteral("d"));
    EXPECT_EQ(r.newPath, path(QStringLiteral("d 2.jpg")));

    // So does a sidecar left over from a photo long gone, which would give the
    // photo renamed to its name its rating: in a rename and in a batch.
    make(QStringLiteral("s.xmp"));
    make(QStringLiteral("t.jpg.xmp"));
    for (const char *taken : {"s", "t"}) {
        r = Rename::renamePhoto(make(QStringLiteral("z.jpg")), QLatin1String(taken));
        EXPECT_EQ(r.newPath, path(QLatin1String(taken) + QStringLiteral(" 2.jpg")));
    }
    make(QStringLiteral("trip-001.xmp"));
    const Rename::BatchResult batch = Rename::batchRename({path(QStringLiteral("b.jpg"))}, QStringLiteral("trip"));
    EXPECT_EQ(batch.renamed, 1);
    EXPECT_EQ(contentOf(QStringLiteral("trip-002.jpg")), QStringLiteral("b.jpg"));
    EXPECT_EQ(contentOf(QStringLiteral("trip-001.xmp")), QStringLiteral("trip-001.xmp"));
}

TEST_F(RenameTest, AFileCreatedBetweenTheCheckAndTheMoveSurvives)
{
    const QString a = make(QStringLiteral("a.jpg"));
    intrudeAtMove(QStringLiteral("b.jpg"));
    const Rename::Result r = Rename::renamePhoto(a, QStringLiteral("b"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed) << r.reason.toStdString();
    EXPECT_EQ(r.newPath, path(QStringLiteral("b 2.jpg")));
    EXPECT_EQ(contentOf(QStringLiteral("b.jpg")), QStringLiteral("intruder"));
    EXPECT_EQ(contentOf(QStringLiteral("b 2.jpg")), QStringLiteral("a.jpg"));
    EXPECT_EQ(names(), (QStringList{QStringLiteral("b 2.jpg"), QStringLiteral("b.jpg")}));
}

TEST_F(RenameTest, AFailedMoveSaysWhyAndChangesNothing)
{
    const QString gone = path(QStringLiteral("gone.jpg"));
    const QString a = make(QStringLiteral("a.jpg"));
    Rename::Result r = Rename::renamePhoto(gone, QStringLiteral("b"));
    EXPECT_EQ(r.status, Rename::Result::Status::failed);
    EXPECT_FALSE(r.reason.isEmpty());

    // A failing disk at the move: the photo keeps its name.
    SafeFile::setStepHook([](std::string_view step) { return step != "before-move"; });
    r = Rename::renamePhoto(a, QStringLiteral("b"));
    EXPECT_EQ(r.status, Rename::Result::Status::failed);
    EXPECT_EQ(names(), QStringList{QStringLiteral("a.jpg")});
}

// Refusals name what refused: the folder this user may not change, or the
// sidecar that a shared folder would not let go with its photo.
TEST_F(RenameTest, ARefusedMoveSaysWhichFolderOrSidecarRefused)
{
    QTemporaryDir box(QDir::tempPath() + QStringLiteral("/shared-XXXXXX"));
    ASSERT_TRUE(box.isValid());
    const QByteArray folder = QFile::encodeName(box.path());
    const QString photo = box.filePath(QStringLiteral("n.jpg"));
    const QString sidecar = box.filePath(QStringLiteral("n.xmp"));
    ASSERT_TRUE(writeBytes(photo, "photo") && writeBytes(sidecar, "sidecar"));
    ::chmod(folder.constData(), 01777);
    if (::chown(QFile::encodeName(photo).constData(), 65534, 65534) != 0)
        GTEST_SKIP() << "acting as another user needs root";
    const auto renamedAsNobody = [&](const QString &expected) {
        return exitStatusAsNobody([&] {
            if (::access(folder.constData(), X_OK) != 0)
                return 7; // the temporary folder's parents are closed to other users
            const Rename::Result r = Rename::renamePhoto(photo, QStringLiteral("m"));
            return r.status == Rename::Result::Status::failed && r.reason == expected ? 0 : 4;
        });
    };
    const std::optional<int> status = renamedAsNobody(Texts::format(
        "msg.errSidecarNotMoved", {QStringLiteral("n.xmp"), Texts::text("msg.errStickyFolder")}));
    ASSERT_TRUE(status.has_value());
    if (*status == 7)
        GTEST_SKIP() << "the temporary folder cannot be reached by another user";
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(folderNames(box.path()), (QStringList{QStringLiteral("n.jpg"), QStringLiteral("n.xmp")}));

    ::chmod(folder.constData(), 0755);
    EXPECT_EQ(renamedAsNobody(Texts::format("msg.errFolderNotWritable", {QFileInfo(box.path()).fileName()})), 0);
    EXPECT_EQ(folderNames(box.path()), (QStringList{QStringLiteral("n.jpg"), QStringLiteral("n.xmp")}));
}

TEST_F(RenameTest, TheSidecarMovesUnlessAnotherFileKeepsItsBaseName)
{
    make(QStringLiteral("a.jpg"));
    make(QStringLiteral("a.xmp"));
    Rename::Result r = Rename::renamePhoto(path(QStringLiteral("a.jpg")), QStringLiteral("b"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    EXPECT_EQ(names(), (QStringList{QStringLiteral("b.jpg"), QStringLiteral("b.xmp")}));
    EXPECT_EQ(contentOf(QStringLiteral("b.xmp")), QStringLiteral("a.xmp"));
    EXPECT_EQ(r.moved.value(path(QStringLiteral("a.xmp"))), path(QStringLiteral("b.xmp")));

    // The RAW of the same shot stays, so the sidecar stays with it.
    make(QStringLiteral("c.CR2"));
    make(QStringLiteral("c.jpg"));
    make(QStringLiteral("c.xmp"));
    r = Rename::renamePhoto(path(QStringLiteral("c.jpg")), QStringLiteral("d"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("c.xmp"))));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("d.jpg"))));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("d.xmp"))));

    // A note or another editor's settings of that name are no photo: left
    // behind, the rating would go to the next photo called g.
    make(QStringLiteral("g.nef"));
    make(QStringLiteral("g.xmp"));
    make(QStringLiteral("g.txt"));
    make(QStringLiteral("g.on1"));
    r = Rename::renamePhoto(path(QStringLiteral("g.nef")), QStringLiteral("h"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    EXPECT_EQ(contentOf(QStringLiteral("h.xmp")), QStringLiteral("g.xmp"));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("g.xmp"))));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("g.txt"))));

    // A sidecar spelt in capitals moves as it is spelt, and a name whose
    // sidecar is spelt so is taken.
    make(QStringLiteral("m.nef"));
    make(QStringLiteral("m.XMP"));
    make(QStringLiteral("m.nef.XMP"));
    make(QStringLiteral("n.XMP"));
    r = Rename::renamePhoto(path(QStringLiteral("m.nef")), QStringLiteral("n"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    EXPECT_EQ(r.newPath, path(QStringLiteral("n 2.nef")));
    EXPECT_EQ(contentOf(QStringLiteral("n 2.XMP")), QStringLiteral("m.XMP"));
    EXPECT_EQ(contentOf(QStringLiteral("n 2.nef.XMP")), QStringLiteral("m.nef.XMP"));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("m.XMP"))));

    // A sidecar name already taken counts as a taken name: both take the next number.
    make(QStringLiteral("e.jpg"));
    make(QStringLiteral("e.xmp"));
    make(QStringLiteral("f.xmp"));
    r = Rename::renamePhoto(path(QStringLiteral("e.jpg")), QStringLiteral("f"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    EXPECT_EQ(r.newPath, path(QStringLiteral("f 2.jpg")));
    EXPECT_EQ(contentOf(QStringLiteral("f 2.xmp")), QStringLiteral("e.xmp"));
    EXPECT_EQ(contentOf(QStringLiteral("f.xmp")), QStringLiteral("f.xmp"));
}

TEST_F(RenameTest, ASidecarNamedAfterTheWholeFileGoesWithThatFile)
{
    // darktable's and digiKam's photo.NEF.xmp: the NEF's own, even while a JPEG
    // of the shot keeps the base name.
    make(QStringLiteral("a.NEF"));
    make(QStringLiteral("a.NEF.xmp"));
    make(QStringLiteral("a.jpg"));
    make(QStringLiteral("b.NEF.xmp"));
    Rename::Result r = Rename::renamePhoto(path(QStringLiteral("a.NEF")), QStringLiteral("b"));
    ASSERT_EQ(r.status, Rename::Result::Status::renamed);
    // b.NEF.xmp is taken, so the pair takes the next number together.
    EXPECT_EQ(r.newPath, path(QStringLiteral("b 2.NEF")));
    EXPECT_EQ(contentOf(QStringLiteral("b 2.NEF.xmp")), QStringLiteral("a.NEF.xmp"));
    EXPECT_EQ(contentOf(QStringLiteral("b.NEF.xmp")), QStringLiteral("b.NEF.xmp"));
    EXPECT_EQ(r.moved.value(path(QStringLiteral("a.NEF.xmp"))), path(QStringLiteral("b 2.NEF.xmp")));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("a.jpg"))));

    const QStringList photos{path(QStringLiteral("a.jpg")), make(QStringLiteral("c.CR3"))};
    make(QStringLiteral("a.jpg.xmp"));
    make(QStringLiteral("c.CR3.xmp"));
    const Rename::BatchResult batch = Rename::batchRename(photos, QStringLiteral("trip"));
    EXPECT_EQ(batch.renamed, 2);
    EXPECT_EQ(contentOf(QStringLiteral("trip-001.jpg.xmp")), QStringLiteral("a.jpg.xmp"));
    EXPECT_EQ(contentOf(QStringLiteral("trip-002.CR3.xmp")), QStringLiteral("c.CR3.xmp"));
    EXPECT_EQ(names().size(), 7);
}

TEST_F(RenameTest, BatchNumbersTheFolderKeepingEachExtension)
{
    const QStringList photos{make(QStringLiteral("x.jpg")), make(QStringLiteral("y.PNG")), make(QStringLiteral("z.heic"))};
    const Rename::BatchResult r = Rename::batchRename(photos, QStringLiteral(" trip "));
    EXPECT_EQ(r.status, Rename::BatchResult::Status::done);
    EXPECT_EQ(r.renamed, 3);
    EXPECT_EQ(names(), (QStringList{QStringLiteral("trip-001.jpg"), QStringLiteral("trip-002.PNG"),
                                    QStringLiteral("trip-003.heic")}));
    EXPECT_EQ(contentOf(QStringLiteral("trip-002.PNG")), QStringLiteral("y.PNG"));
    EXPECT_EQ(r.moved.value(photos[2]), path(QStringLiteral("trip-003.heic")));

    EXPECT_EQ(Rename::batchRename(photos, QStringLiteral("  ")).status, Rename::BatchResult::Status::empty);
    EXPECT_EQ(Rename::batchRename(photos, QStringLiteral(".t")).status, Rename::BatchResult::Status::hidden);
}

TEST_F(RenameTest, BatchCounterSkipsTakenNamesAndLeavesNamesThatFit)
{
    // trip-001.jpg already fits its turn; trip-002.jpg is a later photo of the
    // folder, so b.jpg skips to 3 and trip-002.jpg gets its own turn's number.
    const QStringList photos{make(QStringLiteral("trip-001.jpg")), make(QStringLiteral("b.jpg")),
                             make(QStringLiteral("trip-002.jpg"))};
    const Rename::BatchResult r = Rename::batchRename(photos, QStringLiteral("trip"));
    EXPECT_EQ(r.renamed, 2);
    EXPECT_EQ(contentOf(QStringLiteral("trip-001.jpg")), QStringLiteral("trip-001.jpg"));
    EXPECT_EQ(contentOf(QStringLiteral("trip-003.jpg")), QStringLiteral("b.jpg"));
    EXPECT_EQ(contentOf(QStringLiteral("trip-004.jpg")), QStringLiteral("trip-002.jpg"));
    EXPECT_EQ(names().size(), 3);
}

TEST_F(RenameTest, BatchGivesOneShotOneNumberAndKeepsItsSidecar)
{
    make(QStringLiteral("IMG_1.xmp"));
    make(QStringLiteral("notes.txt"));
    // The folder's order puts the other photo between the RAW and its JPEG.
    const QStringList photos{make(QStringLiteral("IMG_1.CR2")), make(QStringLiteral("IMG_2.jpg")),
                             make(QStringLiteral("IMG_1.jpg"))};
    const Rename::BatchResult r = Rename::batchRename(photos, QStringLiteral("trip"));
    EXPECT_EQ(r.renamed, 3);
    EXPECT_EQ(names(), (QStringList{QStringLiteral("notes.txt"), QStringLiteral("trip-001.CR2"),
                                    QStringLiteral("trip-001.jpg"), QStringLiteral("trip-001.xmp"),
                                    QStringLiteral("trip-002.jpg")}));
    EXPECT_EQ(contentOf(QStringLiteral("trip-001.xmp")), QStringLiteral("IMG_1.xmp"));
    EXPECT_EQ(contentOf(QStringLiteral("trip-002.jpg")), QStringLiteral("IMG_2.jpg"));
}

// A name that is not valid text here (caf\xe9.jpg from an old archive) reaches
// the program with its bad byte replaced: it is named as such, takes no
// number, and the file stays as it is.
TEST_F(RenameTest, BatchSaysWhichNameIsNotTextAndGivesItNoNumber)
{
    const QByteArray raw = QFile::encodeName(dir.path()) + "/caf\xe9.jpg";
    const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const QStringList photos{path(QStringLiteral("caf\uFFFD.jpg")), make(QStringLiteral("tea.jpg"))};
    const Rename::BatchResult r = Rename::batchRename(photos, QStringLiteral("trip"));
    EXPECT_EQ(r.renamed, 1);
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(r.firstReason, Texts::text("msg.errNameNotText"));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("trip-001.jpg"))));
    EXPECT_EQ(::access(raw.constData(), F_OK), 0);
}

TEST_F(RenameTest, BatchTakesTheNextNumberWhenANameAppearsMidMove)
{
    // The JPEG's target appears after its RAW moved: the RAW goes back and the
    // shot takes the next number together.
    const QStringList photos{make(QStringLiteral("IMG.CR2")), make(QStringLiteral("IMG.jpg"))};
    intrudeAtMove(QStringLiteral("trip-001.jpg"), 2);
    const Rename::BatchResult r = Rename::batchRename(photos, QStringLiteral("trip"));
    EXPECT_EQ(r.renamed, 2);
    EXPECT_EQ(names(), (QStringList{QStringLiteral("trip-001.jpg"), QStringLiteral("trip-002.CR2"),
                                    QStringLiteral("trip-002.jpg")}));
    EXPECT_EQ(contentOf(QStringLiteral("trip-001.jpg")), QStringLiteral("intruder"));
    EXPECT_EQ(contentOf(QStringLiteral("trip-002.jpg")), QStringLiteral("IMG.jpg"));
}

TEST_F(RenameTest, BatchCleansThePrefixAndCountsOnlyWhatMoved)
{
    const QStringList photos{make(QStringLiteral("a.jpg")), path(QStringLiteral("missing.jpg")),
                             make(QStringLiteral("c.jpg"))};
    const Rename::BatchResult r = Rename::batchRename(photos, QStringLiteral("2024/05:trip"));
    EXPECT_EQ(r.renamed, 2);
    EXPECT_EQ(names(), (QStringList{QStringLiteral("2024-05-trip-001.jpg"), QStringLiteral("2024-05-trip-003.jpg")}));
    // The photo that was not moved is counted with its reason.
    EXPECT_EQ(r.failed, 1);
    EXPECT_EQ(r.firstReason, SafeFile::Failure::of(SafeFile::Failure::Kind::gone).reason);

    // A failing disk: nothing moves, and the batch says why rather than "renamed 0".
    SafeFile::setStepHook([](std::string_view step) { return step != "before-move"; });
    const Rename::BatchResult none = Rename::batchRename({path(QStringLiteral("2024-05-trip-001.jpg"))}, QStringLiteral("x"));
    EXPECT_EQ(none.renamed, 0);
    EXPECT_EQ(none.failed, 1);
    EXPECT_FALSE(none.firstReason.isEmpty());
}

} // namespace
