#include "online/SoftwareTop3.h"

#include "core/Sha256Digest.h"
#include "online/JSONValues.h"
#include "online/OnlineError.h"

#include <algorithm>
#include <memory>

namespace {

constexpr int MaxShown = 3;

bool present(const TJSONObject &o, const char *name)
{
    return !o.IsNull(QLatin1String(name));
}

void readSide(const TJSONObject &answer, const char *sideName, bool paid, QString &moreUrl, int &count,
              QVector<TSoftwareItem> &items)
{
    if (!present(answer, sideName))
        return;
    const TJSONObject *side = answer.GetObject(QLatin1String(sideName));
    if (present(*side, "more_url"))
        moreUrl = side->GetString(QStringLiteral("more_url"));
    int wanted = 0;
    if (present(*side, "count"))
        wanted = side->GetInt(QStringLiteral("count"));
    if (!present(*side, "items"))
        return; // no items: nothing shown, whatever the count
    const TJSONArray *list = side->GetArray(QStringLiteral("items"));
    const int n = std::min(list->Count(), MaxShown);
    items.resize(n);
    count = std::clamp(wanted, 0, n);
    for (int i = 0; i < n; ++i) {
        const TJSONObject *src = list->GetObject(i);
        TSoftwareItem &item = items[i];
        const struct
        {
            const char *name;
            QString *field;
        } texts[] = {{"title", &item.Title},
                     {"description", &item.Description},
                     {"icon_url", &item.IconURL},
                     {"details_url", &item.DetailsURL},
                     {"download_url", &item.DownloadURL},
                     {"purchase_url", paid ? &item.PurchaseURL : nullptr}};
        for (const auto &t : texts)
            if (t.field && present(*src, t.name))
                *t.field = src->GetString(QLatin1String(t.name));
        if (present(*src, "sha256")) {
            const QString text = src->GetString(QStringLiteral("sha256"));
            item.Sha256 = core::NormalisedSha256(text);
            if (item.Sha256.isEmpty() && !text.isEmpty())
                throw EOnlineError(QStringLiteral("\"sha256\" is not a SHA-256 digest"));
        }
        if (present(*src, "freeware"))
            item.Freeware = src->GetBoolean(QStringLiteral("freeware"));
    }
}

} // namespace

void ReadSoftwareTop3(const QString &Answer, TSoftwareTop3 &Top3)
{
    Top3.Clear();
    std::unique_ptr<TJSONObject> answer;
    try {
        answer = std::make_unique<TJSONObject>(Answer);
    } catch (const ParseException &) {
        return;
    }
    readSide(*answer, "top3_pay", true, Top3.PayMoreURL, Top3.PayCount, Top3.PayItems);
    readSide(*answer, "top3_free", false, Top3.FreeMoreURL, Top3.FreeCount, Top3.FreeItems);
}
