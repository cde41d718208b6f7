#pragma once

#include <QString>

#include <optional>

// The SHA-256 of a file's bytes as 64 lower-case hexadecimal digits, read in
// 1 MiB chunks; absent when the path is not a regular file, cannot be opened,
// or a read fails before the end.
std::optional<QString> fileDigest(const QString &path);
