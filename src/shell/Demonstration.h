#pragma once

struct OVCommandLineOptions;
class TFormOVMain;

// Runs that show the program rather than serve a user (screenshots, smoke
// starts), as the command line asks: a row selected, a dialog opened, a
// picture of the window taken, the run ended after a time.

// Before FormCreate: a run that takes a picture answers every question No,
// so the picture shows the window, not a question.
void PrepareDemonstration(TFormOVMain &Form, const OVCommandLineOptions &Options);
// Once the window is created: schedules what the command line asked for.
void StartDemonstration(TFormOVMain &Form, const OVCommandLineOptions &Options);
