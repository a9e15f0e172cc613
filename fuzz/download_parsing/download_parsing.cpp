// Feeds arbitrary answer headers and partial-state files to the downloader's
// readings: every line as a header, the whole input as a partial-state file
// and as the first bytes of a downloaded installer.
#include "tasks/DownloadParsing.h"
#include "tasks/InstallerKind.h"

#include <QByteArrayView>
#include <cstdint>

namespace {

void checkHeader(QByteArrayView line)
{
    const std::optional<tasks::ContentRange> r = tasks::ParseContentRangeLine(line);
    if (!r)
        return;
    if (r->First < -1 || r->Last < -1 || r->Complete < -1)
        __builtin_trap();
    if (r->Valid && (r->First < 0 || r->Last < r->First || (r->Complete >= 0 && r->Last >= r->Complete)))
        __builtin_trap();
}

void checkPartialState(QByteArrayView bytes)
{
    const std::optional<tasks::PartialState> s = tasks::ParsePartialState(bytes);
    if (s.has_value() != (bytes.size() >= 4))
        __builtin_trap();
    if (!s)
        return;
    const qint64 written = s->Written;
    for (const qint64 have : {qint64(-1), qint64(0), written - 1, written, written + 1}) {
        const quint32 offset = tasks::ResumeOffset(s->Written, have);
        // Either the stored count, which the target must hold, or a fresh start.
        if (offset != 0 && (offset != s->Written || have < qint64(offset)))
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    qsizetype start = 0;
    while (start <= input.size()) {
        qsizetype end = input.indexOf('\n', start);
        if (end < 0)
            end = input.size();
        checkHeader(input.sliced(start, end - start));
        start = end + 1;
    }
    checkPartialState(input);
    if (tasks::installerKindOf(input) == tasks::InstallerKind::DebianPackage
        && !input.startsWith("!<arch>\n"))
        __builtin_trap();
    return 0;
}
