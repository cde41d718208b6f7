// Names that look like photos but are no files: a FIFO, a socket, a link to a
// device, a folder. Every reader of photos must pass them by without opening
// them: opening a FIFO blocks until a writer appears, a device streams forever.
// A watchdog turns a hang into a failure with a message, well inside ctest's
// own timeout.

#include "cleanup/CleanupReport.h"
#include "cleanup/FileDigest.h"
#include "library/CaptureDate.h"
#include "library/FolderModel.h"
#include "library/ImageLoader.h"
#include "platform/Codec.h"
#include "platform/Metadata.h"
#include "platform/RegularFile.h"
#include "TestApplication.h"
#include "TestData.h"
#include "support/SanitizerAllowance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// Every reader, the face detector above all, is many times slower in a sanitized build.
constexpr int hangLimitFactor = allowForSanitizers(1, 10);

// Ends the process with a message when the test body has not returned in time.
class Watchdog
{
public:
    explicit Watchdog(const char *what, std::chrono::seconds limit = std::chrono::seconds(20))
        : thread([this, what, limit = limit * hangLimitFactor] {
              std::unique_lock lock(mutex);
              if (!done.wait_for(lock, limit, [this] { return finished; })) {
                  std::fprintf(stderr, "HANG: %s did not return within %lld s\n", what,
                               static_cast<long long>(limit.count()));
                  std::fflush(stderr);
                  std::_Exit(3);
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex);
            finished = true;
        }
        done.notify_all();
        thread.join();
    }

private:
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread thread;
};

// A folder holding one real photo and every kind of name that is not a photo.
struct OddFolder {
    QTemporaryDir dir;
    QString photo, link, fifo, socket, device, folder;
    int socketFd = -1;

    OddFolder()
    {
        photo = dir.filePath("photo.jpg");
        QFile::copy(TestData::photo("formats/hopper.jpg"), photo);
        link = dir.filePath("link.jpg");
        ::symlink(QFile::encodeName(photo).constData(), QFile::encodeName(link).constData());
        fifo = dir.filePath("pipe.jpg");
        ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
        device = dir.filePath("zero.png");
        ::symlink("/dev/zero", QFile::encodeName(device).constData());
        folder = dir.filePath("folder.tif");
        QDir(dir.path()).mkdir("folder.tif");
        socket = dir.filePath("socket.webp");
        socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray encoded = QFile::encodeName(socket);
        if (size_t(encoded.size()) < sizeof(address.sun_path)) {
            std::memcpy(address.sun_path, encoded.constData(), size_t(encoded.size()));
            ::bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof(address));
        }
    }
    ~OddFolder() { ::close(socketFd); }

    QStringList oddOnes() const { return {fifo, socket, device, folder}; }
};

} // namespace

TEST(SpecialFiles, OnlyRegularFilesAndLinksToThemCountAsRegular)
{
    const Watchdog watchdog("RegularFile");
    OddFolder odd;
    ASSERT_TRUE(QFileInfo(odd.fifo).exists());
    ASSERT_TRUE(QFileInfo(odd.socket).exists());
    EXPECT_TRUE(RegularFile::isRegular(odd.photo));
    EXPECT_TRUE(RegularFile::isRegular(odd.link));
    for (const QString &path : odd.oddOnes()) {
        EXPECT_FALSE(RegularFile::isRegular(path)) << qPrintable(path);
        EXPECT_EQ(RegularFile::openForReading(path), -1) << qPrintable(path);
        QFile file;
        EXPECT_FALSE(RegularFile::open(file, path)) << qPrintable(path);
    }
    QFile file;
    ASSERT_TRUE(RegularFile::open(file, odd.link));
    EXPECT_EQ(file.readAll(), [&] {
        QFile original(odd.photo);
        original.open(QIODevice::ReadOnly);
        return original.readAll();
    }());
}

TEST(SpecialFiles, DecodersAndMetadataReadersSkipThemWithoutBlocking)
{
    const Watchdog watchdog("a decoder or metadata reader on a special file");
    OddFolder odd;
    ImageLoader loader(uint64_t(8) << 30);
    for (const QString &path : odd.oddOnes()) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(Codec::formatOfFile(path), ImageFormat::unknown);
        EXPECT_FALSE(Codec::probe(path));
        EXPECT_TRUE(Codec::decodeScaled(path, 256, true).isNull());
        EXPECT_TRUE(Codec::decodeFull(path).isNull());
        EXPECT_FALSE(Codec::frames(path));
        EXPECT_TRUE(Codec::colorProfileName(path).isEmpty());
        EXPECT_FALSE(Metadata::readMetadata(path));
        EXPECT_FALSE(Metadata::readCaptureDateStrings(path));
        EXPECT_FALSE(readCaptureDate(path));
        EXPECT_FALSE(fileDigest(path));
        EXPECT_FALSE(loader.info(path));
        EXPECT_TRUE(loader.preview(path, 512).isNull());
        EXPECT_TRUE(loader.thumbnail(path).isNull());
        EXPECT_TRUE(loader.full(path).isNull());
        EXPECT_TRUE(loader.makeThumbnail(path, 1280, true, false).isNull());
    }
    // The link to a photo is a photo.
    EXPECT_TRUE(Codec::probe(odd.link));
    EXPECT_FALSE(loader.thumbnail(odd.link).isNull());
    EXPECT_TRUE(fileDigest(odd.link));
}

TEST(SpecialFiles, FolderListingHoldsTheRegularFilesAndLinksOnly)
{
    const Watchdog watchdog("listing a folder with special files");
    OddFolder odd;
    const auto items = FolderModel::listFolder(odd.dir.path());
    ASSERT_TRUE(items);
    QStringList names;
    for (const ImageItem &item : *items)
        names.append(QFileInfo(item.url).fileName());
    names.sort();
    EXPECT_EQ(names.join(u' ').toStdString(), "link.jpg photo.jpg");

    // Opening the FIFO itself shows the folder's photos and not the FIFO.
    FolderModel model;
    model.load(odd.fifo);
    for (const ImageItem &item : model.items())
        EXPECT_NE(item.url.toStdString(), odd.fifo.toStdString());
}

TEST(SpecialFiles, CleanupReportOnAFolderWithAFifoReturns)
{
    testApplication();
    const Watchdog watchdog("the cleanup report of a folder with a FIFO", std::chrono::seconds(60));
    OddFolder odd;
    const QString report = cleanupReport(odd.dir.path());
    EXPECT_TRUE(report.contains("photo.jpg"));
    EXPECT_TRUE(report.contains("link.jpg"));
    EXPECT_FALSE(report.contains("pipe.jpg"));
    EXPECT_FALSE(report.contains("socket.webp"));
    EXPECT_FALSE(report.contains("zero.png"));
    EXPECT_FALSE(report.contains("folder.tif"));
}
