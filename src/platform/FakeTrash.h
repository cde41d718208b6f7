#pragma once

#include "platform/Trash.h"

#include <QHash>
#include <QSet>

#include <mutex>

// A Trash for tests: it moves nothing, records every request and fails on
// demand. Moved files get a made-up place in a Trash that does not exist.
class FakeTrash : public Trash
{
public:
    TrashOutcome moveToTrash(const QStringList &paths) override;
    RestoreOutcome restore(const TrashedFile &file) override;
    std::optional<QString> keepInTrash(const QString &path, TrashedFile *result) override;
    void discardKept(const TrashedFile &file) override;

    // Paths whose move, or whose restore, fails from now on.
    void failMove(const QString &path);
    void failRestore(const QString &path, RestoreOutcome::Kind kind = RestoreOutcome::Kind::occupied);
    // The path's restore works again.
    void allowRestore(const QString &path);

    // Every request so far, in order: one list per moveToTrash call, and the
    // original path of each restore call.
    std::vector<QStringList> moveCalls() const;
    QStringList restoreCalls() const;
    // The paths currently "in the Trash".
    QSet<QString> inTrash() const;

private:
    mutable std::mutex lock;
    QSet<QString> failingMoves;
    QHash<QString, RestoreOutcome::Kind> failingRestores;
    std::vector<QStringList> moves;
    QStringList restores;
    QSet<QString> trashed;
    int serial = 0;
};
