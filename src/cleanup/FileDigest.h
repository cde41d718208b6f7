#pragma once

#include <QString>

#include <optional>

// The SHA-256 of a file's bytes as 64 lower-case hexadecimal digits; absent when
// the file cannot be opened. A read error ends the reading early and the digest
// of what was read is returned.
std::optional<QString> fileDigest(const QString &path);
