#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Every program start and every hand-off to the desktop (browser, file
// manager, document viewer) goes through one launcher, so tests can put a
// recording launcher in its place and nothing real is opened.
class ILauncher
{
public:
    virtual ~ILauncher() = default;

    // Starts argv[0] (a path, or a name looked up in PATH) with the remaining
    // arguments, without waiting and without a shell. False when it could not be started.
    virtual bool startProgram(const QStringList &argv) = 0;
    // Opens a URL, document or folder with the desktop's default handler.
    virtual bool openWithDesktop(const QString &target) = 0;
    // Shows a folder in the file manager.
    virtual bool showFolder(const QString &dir) = 0;
    // Shows the folder holding a file with that file selected.
    virtual bool showItem(const QString &file) = 0;
    // Shows the file manager's properties view of a file.
    virtual bool showItemProperties(const QString &file) = 0;
    // Whether the desktop has a program for documents of mimeType: a desktop
    // entry that declares the type (or one of its aliases), or one of the
    // known programs found on PATH. The opener has no dry run, so this is how
    // to tell "nothing can show it" before opening anything.
    virtual bool canOpenType(const QString &mimeType, const QStringList &knownPrograms) = 0;
};

// The launcher in use: the system one unless a test installed another.
ILauncher &launcher();
// Installs a launcher (not owned); nullptr puts the system launcher back.
void setLauncher(ILauncher *replacement);

} // namespace platform
