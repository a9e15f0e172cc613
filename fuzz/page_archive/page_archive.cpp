// Any bytes as a saved page archive; whatever is read must serve every part
// through the mirror, and write a file that reads back with the same parts.
// The same bytes also go through the reference finders as a page and a style sheet.
#include "online/PageMirror.h"
#include "online/PageReferences.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    for (const QList<TPageReference> &refs : {FindHtmlReferences(bytes), FindCssReferences(bytes)}) {
        for (const TPageReference &ref : refs) {
            if (ref.Offset < 0 || ref.Length < 0 || ref.Offset + ref.Length > bytes.size())
                std::abort();
        }
    }
    TPageArchive asPage;
    asPage.Parts.append({QUrl(QStringLiteral("http://site.test/dir/page")), "text/html", bytes});
    asPage.Parts.append({QUrl(QStringLiteral("http://site.test/dir/a.png")), "image/png", "a"});
    MirroredPartBody(asPage, asPage.Parts.front());

    const std::optional<TPageArchive> archive = ParsePageArchive(bytes);
    if (!archive)
        return 0;
    for (const TArchivePart &part : archive->Parts) {
        MirroredPartBody(*archive, part);
        if (archive->FindMirrored(PageArchiveMirrorUrl(part.Location)) == nullptr)
            std::abort();
    }
    const std::optional<TPageArchive> again = ParsePageArchive(SerializePageArchive(*archive));
    if (!again || again->Parts.size() != archive->Parts.size())
        std::abort();
    for (qsizetype i = 0; i < archive->Parts.size(); ++i) {
        if (again->Parts[i].Body != archive->Parts[i].Body
            || again->Parts[i].Location != archive->Parts[i].Location)
            std::abort();
    }
    return 0;
}
