#pragma once

#include "core/OVJournal.h"

#include <optional>
#include <vector>

// What the History window shows of the journal, one row per operation in the
// journal's order (newest first), in the interface language.
namespace journal {

struct HistoryRow
{
    Kind OperationKind = Kind::Download;
    Result Outcome = Result::Running;
    QString Time; // local time of the start
    QString Operation;
    QString Program; // name and version
    QString ResultText; // the result, with the exit status and error where known
    QString Details; // source and command
};

// The rows of Entries of Filter's kind (every kind without one).
std::vector<HistoryRow> HistoryRows(const std::vector<Entry> &Entries,
                                    std::optional<Kind> Filter = std::nullopt);

// Every kind, in the order the window offers them.
const std::vector<Kind> &Kinds();

} // namespace journal
