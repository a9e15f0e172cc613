#pragma once

#include <QString>

class TFileProp;
class TProcessItem;
namespace procmon {
class OVProcDB;
}

// The description the Running tab shows for a process, by the language
// component's current language: under Simplified Chinese from the knowledge
// base (the program's own when none is given), otherwise the executable's
// FileDescription read through FileProps (empty when the file cannot be opened).
QString OVProcessDescription(const QString &ProcessName, const QString &ImagePath, TFileProp &FileProps,
                             procmon::OVProcDB *KnowledgeBase = nullptr);

// The same for a listed process: a script by its file, this program's own
// processes as this program, and where neither the knowledge base nor the file
// says anything, the application the process belongs to (its description as
// given), then the desktop entry that starts it.
QString OVProcessDescription(const TProcessItem &Item, TFileProp &FileProps, procmon::OVProcDB *KnowledgeBase,
                             const QString &ApplicationDescription);
