#include "core/OVHistory.h"

#include "core/BrimMultiLangs.h"

namespace journal {

const std::vector<Kind> &Kinds()
{
    static const std::vector<Kind> kinds {Kind::Download,  Kind::Install,     Kind::Uninstall,
                                          Kind::Terminate, Kind::RemoveEntry, Kind::CleanLeftovers};
    return kinds;
}

std::vector<HistoryRow> HistoryRows(const std::vector<Entry> &Entries, std::optional<Kind> Filter)
{
    std::vector<HistoryRow> rows;
    for (const Entry &e : Entries) {
        if (Filter && e.OperationKind != *Filter)
            continue;
        HistoryRow row;
        row.OperationKind = e.OperationKind;
        row.Outcome = e.Outcome;
        row.Time = e.Started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        row.Operation = OVGetText(KindKey(e.OperationKind));
        row.Program = e.What.Version.isEmpty() ? e.What.Name : e.What.Name + u' ' + e.What.Version;
        QString result = OVGetText(ResultKey(e.Outcome));
        // A clean exit says nothing the result does not.
        if (e.ExitStatus && *e.ExitStatus != 0)
            result = OVFormatText(QStringLiteral("String.Journal.ExitStatus"), {result, *e.ExitStatus});
        if (!e.Error.isEmpty())
            result += QStringLiteral(": ") + e.Error;
        row.ResultText = result;
        QStringList details;
        for (const QString &part : {e.What.Source, e.What.Command})
            if (!part.isEmpty() && !details.contains(part))
                details << part;
        // Texts from the file may hold line breaks; a row shows one line.
        row.Details = details.join(QStringLiteral("  |  ")).replace(u'\n', u' ').replace(u'\r', u' ');
        row.Program.replace(u'\n', u' ').replace(u'\r', u' ');
        row.ResultText.replace(u'\n', u' ').replace(u'\r', u' ');
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace journal
