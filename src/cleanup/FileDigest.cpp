#include "cleanup/FileDigest.h"
#include "platform/RegularFile.h"

#include <QFile>

#include <openssl/evp.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace {

constexpr size_t chunkSize = 1024 * 1024;

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

struct MdCtxDeleter {
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};

} // namespace

std::optional<QString> fileDigest(const QString &path)
{
    // Only regular files: a FIFO named like a photo would block the hashing
    // worker, and two sub-folders named like photos must not look like copies.
    const int fd = RegularFile::openForReading(path);
    if (fd < 0)
        return std::nullopt;
    const FdCloser closer{fd};
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;

    // One buffer per thread: the hashing worker reads thousands of files, and
    // first touch of fresh pages is expensive on these machines.
    thread_local std::vector<unsigned char> buffer(chunkSize);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), chunkSize);
        if (got < 0 && errno == EINTR)
            continue;
        // A file that cannot be read to its end has no trustworthy digest: two
        // files failing alike must not be taken for copies of each other.
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        EVP_DigestUpdate(ctx.get(), buffer.data(), size_t(got));
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1)
        return std::nullopt;
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}
