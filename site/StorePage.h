#pragma once

// The store's pages, filled from the catalogue: the recommendation page (one
// self-contained page: styles, script and the whole list inline, pictures by
// absolute address, so a saved copy works from any address) and the purchase
// page of a paid program.

#include "Catalogue.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

namespace orvane::site {

// The SHA-256 of each program's installer as served at one address, by program id.
using InstallerDigests = QHash<QString, QString>;

// Fills the recommendation page template, in Lang, for a client that reached
// the site at Base. Kind ("free", "pay" or empty) and Category (one of
// Categories() or empty) choose what the page shows first; the page filters
// the rest itself. Download buttons carry the digest of their installer.
QByteArray StorePage(const QByteArray &Template, const QVector<Program> &Programs, const QString &Base,
                     const QString &Kind, const QString &Category, Language Lang = Language::English,
                     const InstallerDigests &Digests = {});

// Fills the purchase page template for the paid program P, in Lang.
QByteArray PurchasePage(const QByteArray &Template, const Program &P, const QString &Base,
                        Language Lang = Language::English, const QString &Digest = {});

// "248 KB", "1.3 MB".
QString SizeText(qint64 Bytes);

} // namespace orvane::site
