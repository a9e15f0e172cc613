#pragma once

#include <QString>

// Start-up steps that prepare the files beside the executable.

// The language chosen in Config/Config.ini, section LANGUAGE, key Language:
// its low 16 bits are the locale identifier.
struct LanguageSelection
{
    quint16 LanguageId = 0;
    QString LanguageDir; // "<LCID>/"
    QString LanguageFile; // "<app>Langs/<LCID>/Orvane.ini"
};

// Reads the selection from configFile (default: the layout's Config/Config.ini);
// a missing file or key gives language 0. The key is only ever read.
LanguageSelection LoadLanguageSelection(const QString &configFile = {});

// Config/Config.ini of the layout (see AppFiles)
QString ConfigFileName();

// Creates the Config/, Downloads/ and Files/ folders of the layout where missing.
// False when one of them could not be created.
bool ForceAppDirs();
