#include "platform/FakeTrash.h"

#include <QFileInfo>

TrashOutcome FakeTrash::moveToTrash(const QStringList &paths)
{
    std::lock_guard guard(lock);
    moves.push_back(paths);
    TrashOutcome outcome;
    for (const QString &path : paths) {
        if (failingMoves.contains(path) || trashed.contains(path)) {
            outcome.failed.push_back({path, QStringLiteral("refused by the test")});
            continue;
        }
        ++serial;
        const QString name = QFileInfo(path).fileName() + QLatin1Char('.') + QString::number(serial);
        outcome.moved.push_back({path, QStringLiteral("/fake-trash/files/") + name,
                                 QStringLiteral("/fake-trash/info/") + name + QStringLiteral(".trashinfo"),
                                 QStringLiteral("2026-01-01T00:00:00"), 0, ino_t(serial)});
        trashed.insert(path);
    }
    return outcome;
}

RestoreOutcome FakeTrash::restore(const TrashedFile &file)
{
    std::lock_guard guard(lock);
    restores.append(file.original);
    if (const auto it = failingRestores.constFind(file.original); it != failingRestores.constEnd())
        return {it.value(), QStringLiteral("refused by the test")};
    if (!trashed.remove(file.original))
        return {RestoreOutcome::Kind::entryChanged, QStringLiteral("not in the fake trash")};
    return {RestoreOutcome::Kind::restored, {}};
}

void FakeTrash::failMove(const QString &path)
{
    std::lock_guard guard(lock);
    failingMoves.insert(path);
}

void FakeTrash::failRestore(const QString &path, RestoreOutcome::Kind kind)
{
    std::lock_guard guard(lock);
    failingRestores.insert(path, kind);
}

void FakeTrash::allowRestore(const QString &path)
{
    std::lock_guard guard(lock);
    failingRestores.remove(path);
}

std::vector<QStringList> FakeTrash::moveCalls() const
{
    std::lock_guard guard(lock);
    return moves;
}

QStringList FakeTrash::restoreCalls() const
{
    std::lock_guard guard(lock);
    return restores;
}

QSet<QString> FakeTrash::inTrash() const
{
    std::lock_guard guard(lock);
    return trashed;
}

std::optional<QString> FakeTrash::keepInTrash(const QString &, TrashedFile *)
{
    return QStringLiteral("the fake Trash keeps no copies");
}

void FakeTrash::discardKept(const TrashedFile &) {}
