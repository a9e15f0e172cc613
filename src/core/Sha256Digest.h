#pragma once

// SHA-256 digests as the vendor publishes them and the task list stores them:
// 64 hexadecimal digits, kept in lower case.

#include <QString>
#include <QStringView>
#include <atomic>
#include <optional>

namespace core {

constexpr int Sha256TextLength = 64;

// Text in the stored form when it is a digest (64 hexadecimal digits, either
// case); empty otherwise. Nothing around the digits is accepted: a value that
// is almost a digest is not one.
QString NormalisedSha256(QStringView Text);

// The SHA-256 of a file's content in the stored form, read a piece at a time
// (installers can be large); nullopt when the file cannot be read whole or
// Cancel was raised meanwhile.
std::optional<QString> FileSha256(const QString &Path, const std::atomic<bool> *Cancel = nullptr);

} // namespace core
