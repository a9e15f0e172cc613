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

// Reads the selection from configFile (default: <app>Config/Config.ini);
// a missing file or key gives language 0. The key is only ever read.
LanguageSelection LoadLanguageSelection(const QString &configFile = {});

// <app>Config/Config.ini
QString ConfigFileName();

// Creates <app>Config/, <app>Downloads/ and <app>Files/ where missing.
// False when one of them could not be created.
bool ForceAppDirs();
