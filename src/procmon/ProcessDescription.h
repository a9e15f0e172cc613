#pragma once

#include <QString>
#include <functional>

class TFileProp;

// The knowledge base look-up: true when it knows the name, then Description
// and IsRisk are set.
using TProcDBLookup = std::function<bool(const QString &ProcessName, QString *Description, bool *IsRisk)>;

// The description the Running tab shows for a process. Under the Simplified
// Chinese interface (locale 2052) it comes from the knowledge base: the risk
// mark then the description, the description alone, or the "unknown" text.
// Under every other language it is the executable's FileDescription (empty
// when the file cannot be opened).
QString OVProcessDescription(const QString &ProcessName, const QString &ImagePath, TFileProp &FileProps,
                             const TProcDBLookup &Lookup);
