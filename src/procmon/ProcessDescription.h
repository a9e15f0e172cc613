#pragma once

#include <QString>

class TFileProp;
namespace procmon {
class OVProcDB;
}

// The description the Running tab shows for a process, by the language
// component's current language: under Simplified Chinese from the knowledge
// base (the program's own when none is given), otherwise the executable's
// FileDescription read through FileProps (empty when the file cannot be opened).
QString OVProcessDescription(const QString &ProcessName, const QString &ImagePath, TFileProp &FileProps,
                             procmon::OVProcDB *KnowledgeBase = nullptr);
