#pragma once

// Showing a page archive: the mirror addresses its parts are served under and
// the part bodies rewritten to point at them.

#include "online/PageArchive.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

// http(s)://host:port/p?q -> orvane-mht://host:port/p?q (port 80 left out);
// an invalid URL for anything else.
QUrl PageArchiveMirrorUrl(const QUrl &Original);
// The origin text a browser reports for Url ("scheme://host[:port]").
QString UrlOriginText(const QUrl &Url);
// The part's bytes as the mirror serves them: in the page and in style sheets
// every reference to another part of the archive points to that part's mirror
// address (and <base href> to the mirror of its target), so nothing the copy
// holds is fetched from the network.
QByteArray MirroredPartBody(const TPageArchive &Archive, const TArchivePart &Part);
