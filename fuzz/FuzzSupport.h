#pragma once

// Small helpers the harnesses share.

#include <QByteArray>
#include <QtGlobal>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace Fuzz {

// A broken invariant is a finding like a crash: stop so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)

// Qt's warnings about damaged files (libpng's among them) would be most of what a
// run prints, and printing them slows the run down.
inline void quietQt()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtFatalMsg) {
            fprintf(stderr, "%s\n", qPrintable(message));
            std::abort();
        }
    });
}

// The input without a copy: a read past its end is one past libFuzzer's own
// allocation, which AddressSanitizer reports.
inline QByteArray view(const uint8_t *data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

// One file per process that each input is written to, for the readers that take
// a path. It lives in a private temporary folder (TMPDIR, which scripts/fuzz
// points at memory where it can) and goes away with the process.
class InputFile
{
public:
    explicit InputFile(const QString &suffix)
        : m_path(m_dir.filePath(QStringLiteral("input") + suffix))
    {}

    const QString &write(const uint8_t *data, size_t size) const
    {
        const int fd = ::open(m_path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            std::abort();
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0)
                std::abort();
            done += size_t(n);
        }
        ::close(fd);
        return m_path;
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

} // namespace Fuzz
