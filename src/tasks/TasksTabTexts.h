#pragma once

#include <QString>
#include <QVariantList>

// The language texts the Tasks tab shows, read from the program-wide
// language component.
namespace tasks {
QString TabText(const QString &key);
QString TabFormat(const QString &key, const QVariantList &args);
// Identifier of the current language for message boxes; 0 when unknown.
quint16 TabLanguageId();
} // namespace tasks
