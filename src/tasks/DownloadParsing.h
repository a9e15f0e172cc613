#pragma once

#include <QByteArrayView>
#include <QString>
#include <QtGlobal>
#include <optional>

// The downloader's readings of untrusted bytes, free of any network or file, so
// they can be checked (and fuzzed) on their own.
namespace tasks {

// What a "Content-Range: bytes first-last/complete" header says.
struct ContentRange
{
    // The leading offset, the only figure the downloader relies on; -1 when the
    // value does not start with one ("bytes */1000", garbage).
    qint64 First = -1;
    qint64 Last = -1;
    qint64 Complete = -1; // -1 for "*"
    // The whole value is well formed: First <= Last, and Last < Complete when
    // the complete length is known.
    bool Valid = false;
};

// Reads one header line as the answer delivers it (line end included or not).
// Empty when the line is not a Content-Range header with the "bytes" unit.
std::optional<ContentRange> ParseContentRangeLine(QByteArrayView line);

// The partial-state file beside a download: bytes already written (offset 0)
// and the expected total (offset 4), both unsigned 32-bit little-endian.
struct PartialState
{
    quint32 Written = 0;
    quint32 Total = 0; // 0 when the file stops before it
};

// Empty when the file is too short to hold the written count (under 4 bytes).
std::optional<PartialState> ParsePartialState(QByteArrayView bytes);

// Where a resumed run starts: the stored count, unless the target holds fewer
// bytes than that (TargetSize -1: the target is missing); then from the start.
quint32 ResumeOffset(quint32 Written, qint64 TargetSize);

// Whether an answer received over plain HTTP came from this machine: the
// address names it (localhost, 127.0.0.0/8, ::1) and the peer the bytes came
// from (a proxy, if one was used) is a loopback address as well. Anything
// else came over the network, where it may have been altered.
bool FromThisMachine(const QString &Host, const QString &PeerAddress);

// Tests only: counts loopback as another machine, so that the rules for
// downloads from the open network can be tried against loopback servers.
void SetLoopbackCountsAsRemote(bool On);

} // namespace tasks
