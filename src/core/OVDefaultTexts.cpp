#include "core/OVDefaultTexts.h"

#include "core/BrimMultiLangs.h"

namespace {

struct DefaultFont
{
    int number;
    const char16_t *name;
    quint32 colour;
    int size;
    TFontStyles style;
};

constexpr DefaultFont defaultFonts[] = {
    {0, u"Tahoma", 0xFFFFFF, 12, fsBold},
    {1, u"Tahoma", 0xFFFFFF, 10, fsBold},
    {2, u"Tahoma", 0x000000, 12, fsBold},
};

struct DefaultFontKey
{
    const char16_t *key;
    int number;
};

constexpr DefaultFontKey defaultFontKeys[] = {
    {u"FormOVMain.SkinMgr.Title.Font", 0},     {u"FormOVMain.btnTabTopX.Font", 1},
    {u"FormOVMain.btnTabRunning.Font", 1},     {u"FormOVMain.btnTabUninst.Font", 1},
    {u"FormOVAbout.SkinMgr.Title.Font", 1},    {u"FormOVAbout.lblTitle.Font", 2},
    {u"FormOVSettings.SkinMgr.Title.Font", 1},
};

// The vendor addresses point at the reference site on loopback; a vendor
// deploying the program replaces them with its own through a language file.
constexpr OVDefaultText defaultTexts[] = {
    {u"String.Copyright", u"Copyright #(C) 2026 Brimwell. All rights reserved."},
    {u"String.URL.Home", u"http://127.0.0.1:8770/"},
    {u"String.URL.Help", u"http://127.0.0.1:8770/help.html"},
    {u"String.URL.TopX", u"http://127.0.0.1:8770/index.php/soft_api"},
    {u"String.URL.WAPI", u"http://127.0.0.1:8770/index.php/halvex_api"},
    {u"String.Help.Topic", u"::/Tessaly_help/software/software.html"},
    {u"String.Button.Yes", u"Yes"},
    {u"String.Button.No", u"No"},
    {u"String.Button.Ok", u"OK"},
    {u"String.Button.Cancel", u"Cancel"},
    {u"String.Button.Apply", u"Apply"},
    {u"String.MsgTitle.Information", u"Information"},
    {u"String.MsgTitle.Question", u"Question"},
    {u"String.MsgTitle.Warning", u"Warning"},
    {u"String.MsgTitle.Failure", u"Failure"},
    {u"String.MsgTitle.Error", u"Error"},
    {u"String.MsgTitle.Critical", u"Critical"},
    {u"String.MsgText.HelpFailed",
     u"Sorry! Lost help file. Please reinstall this software to solve this problem."},
    {u"String.MsgText.HelpViewerMissing",
     u"No program to read the help is installed. The help is a CHM file: install a CHM viewer, for"
     u" example the Debian package xchm (sudo apt install xchm), then press F1 again."},
    {u"String.MsgText.CriticalProcess", u"This is a critical system process, cannot be terminated."},
    {u"String.MsgText.TerminateQuery",
     u"Terminating a process may cause undesired results, such as: application instability and"
     u" loss of data.#N#RAre you sure you want to terminate this process %s [%d]?"},
    {u"String.MsgText.TerminateFailed", u"Sorry! Process termination failed."},
    {u"String.MsgText.PriorityQuery",
     u"Modifying process priority may cause undesired results, such as: application instability"
     u" and loss of data.#N#RAre you sure you want to modify priority of %s [%d]."},
    {u"String.MsgText.PriorityFailed", u"Sorry! Failure to set priority."},
    {u"String.MsgText.OpenDiretoryFailed", u"Failure to open directory!"},
    {u"String.MsgText.OpenUrlFailed", u"Failure to open the link!"},
    {u"String.MsgText.UninstallQuery", u"Are you sure you want to uninstall this application?"},
    {u"String.MsgText.PackageRemovalQuery", u"Are you sure you want to uninstall %s (package %s)?"},
    {u"String.MsgText.PackageRemovalQueryPackage", u"Are you sure you want to uninstall the package %s?"},
    {u"String.MsgText.PackageRemovalSiblings",
     u"These applications of the same package are removed with it: %s"},
    {u"String.MsgText.PackageRemovalDependents", u"These packages need it and are removed too: %s"},
    {u"String.MsgText.PackageRemovalUnneeded",
     u"These packages were installed only for it and are removed too: %s"},
    {u"String.MsgText.PackageRemovalRefused",
     u"This removal would take packages the system needs: %s. Nothing was removed."},
    {u"String.MsgText.PackageRemovalFailed", u"The package manager did not remove the package. It says:#N%s"},
    {u"String.MsgText.PackageDatabaseLocked",
     u"The package database is in use by another program (a software update or another installation). "
     u"Nothing was removed. Try again when it has finished."},
    {u"String.MsgText.PkexecMissing",
     u"Removing a package needs administrator rights, which are asked for through pkexec, and pkexec is not "
     u"installed (Debian package \"pkexec\"). Nothing was removed."},
    {u"String.MsgText.NoPolkitAgent",
     u"No authentication agent is running to ask for the administrator password, so nothing was removed. Log "
     u"in to a desktop session that has one, or remove the package in a terminal."},
    {u"String.MsgText.PackageRemovalNotAuthorized", u"The removal was not authorized. Nothing was removed."},
    {u"String.MsgText.PackageRemovalChanged",
     u"What this removal would take has changed since you were asked, so nothing was removed. Try again to "
     u"see the new list."},
    {u"String.MsgText.PackageSelectionsNotRestored",
     u"Packages that are still installed remain marked for removal: %s"},
    {u"String.MsgText.PackageRemovalRunning",
     u"Another package removal is still running. Try again when it has finished."},
    {u"String.PackageEssential", u"Essential package: the system cannot do without it."},
    {u"String.PackageRequired", u"Package of priority \"required\": the system needs it."},
    {u"String.PackageProtected", u"Protected package: the system needs it."},
    {u"String.MsgText.UninstallFailed", u"%s was not uninstalled. The uninstaller says:#N%s"},
    {u"String.FlatpakDetails", u"%s (branch %s, from %s, %s)"},
    {u"String.FlatpakUserInstallation", u"user installation"},
    {u"String.FlatpakSystemInstallation", u"system installation"},
    {u"String.FlatpakNamedInstallation", u"system installation \"%s\""},
    {u"String.MsgText.UninstallRunningQuery",
     u"These programs of the application are running:#N#R%s#N#RThey are closed before the uninstall. Close "
     u"them "
     u"and uninstall?"},
    {u"String.MsgText.UninstallRunningFailed",
     u"Some programs of the application could not be closed, so the uninstall was not started."},
    {u"String.MsgText.RemoveFromListQuery",
     u"Cannot uninstall this application, do you want to remove this item from the list?"},
    {u"String.MsgText.DeleteTaskQuery", u"Are you sure you want to delete this task?"},
    {u"String.MsgText.DeleteAllTasksQuery", u"Are you want to delete all tasks?"},
    {u"String.MsgText.NetConnDiagQuery", u"Network is unreachable, do you want to diagnose network?"},
    {u"String.MsgText.NoFind", u"Can not find \"%s\"."},
    {u"String.MsgText.Upgrade", u"Upgrade"},
    {u"String.NA", u"N/A"},
    {u"String.Upgrade", u"Upgrade"},
    {u"String.Terminate", u"Terminate"},
    {u"String.Uninstall", u"Uninstall"},
    {u"String.Download", u"Download"},
    {u"String.Purchase", u"Purchase"},
    {u"String.MainMenu", u"Main menu"},
    {u"String.Minimize", u"Minimize"},
    {u"String.Close", u"Close"},
    {u"String.BlankItem", u"..."},
    {u"String.ShowAllProcesses", u"Show all applications"},
    {u"String.HideSystemProcesses", u"Hide system applications"},
    {u"String.ExceptSystemProcesses", u"(does not include system applications)"},
    {u"String.ProcessDesc.Risk", u"(Risk)"},
    {u"String.ProcessDesc.Unknown", u"(Unknown)"},
    {u"String.UnknownName", u"(Unknown Name)"},
    {u"String.Programs", u"Applications"},
    {u"String.Updates", u"Updates"},
    {u"String.ShowPrograms", u"Show applications"},
    {u"String.ShowUpdates", u"Show updates"},
    {u"String.ShowSoftwareDetails", u"Show details"},
    {u"String.HideSoftwareDetails", u"Hide details"},
    {u"String.TasksInfo_0", u"Download / Install"},
    {u"String.TasksInfo_1", u"Download(%d) / Install(%d)"},
    {u"String.TaskState.NotDownloaded", u"Not downloaded yet"},
    {u"String.TaskState.StartDownload", u"Start download"},
    {u"String.TaskState.StartInstall", u"Start install"},
    {u"String.TaskState.Downloading", u"Downloading... | %s/s"},
    {u"String.TaskState.Installing", u"Installing..."},
    {u"String.TaskState.DownloadStopped", u"Stopped"},
    {u"String.TaskState.DownloadPaused", u"Paused"},
    {u"String.TaskState.DownloadResumed", u"Resumed"},
    {u"String.TaskState.InstallStopped", u"Stopped"},
    {u"String.TaskState.DownloadCompleted", u"Completed"},
    {u"String.TaskState.InstallCompleted", u"Completed"},
    {u"String.TaskState.Failed", u"Failed"},
    {u"String.Notify.InstallCompleted", u"Installation completed"},
    {u"String.Notify.InstallCompletedText", u"%s was installed."},
    {u"String.Notify.InstallFailed", u"Installation failed"},
    {u"String.Notify.InstallFailedText", u"%s could not be installed."},
    {u"String.Notify.InstallHeld", u"Download waiting to be installed"},
    {u"String.Notify.InstallHeldText",
     u"%s came from %s over a connection that was not encrypted, with no digest to check it, so it was not "
     u"installed. If you trust it, install it from the Tasks tab."},
    {u"String.MsgText.WineMissing",
     u"%s is a Windows program. Install the Debian package \"%s\" (Wine) to install and run it."},
    {u"String.MsgText.DigestMismatch",
     u"%s was not installed: the downloaded file does not match the SHA-256 digest the vendor published, so "
     u"it may have been altered on the way.#NExpected: %s#NActual: %s#NThe file was not run and was kept as "
     u"%s."},
    {u"String.MsgText.DigestUnreadable",
     u"%s was not installed: the downloaded file %s could not be read to check it against the vendor's "
     u"SHA-256 digest."},
    {u"String.MsgText.UnverifiedInstallQuery",
     u"%s came from %s over a connection that was not encrypted, and the vendor gave no digest to check it "
     u"with: anyone on the network could have changed it on the way.#NInstall it anyway?"},
    {u"String.BrowseFolder.Title", u"Specify a folder to save download files."},
    {u"FormOVMain.SkinMgr.Title.Text", u"Orvane"},
    {u"FormOVMain.Caption", u"Orvane"},
    {u"FormOVMain.btnTabTopX.Caption", u"Software"},
    {u"FormOVMain.btnTabRunning.Caption", u"Running"},
    {u"FormOVMain.btnTabUninst.Caption", u"Uninstall"},
    {u"FormOVMain.btnTabTasks.Caption", u"Download / Install"},
    {u"FormOVMain.lblStatusVersion.Caption", u"Orvane Version: %s"},
    {u"FormOVMain.lblStatusInfo.Caption", u""},
    {u"FormOVMain.mniMainSettings.Caption", u"Settings..."},
    {u"FormOVMain.mniMainLanguages.Caption", u"Languages"},
    {u"FormOVMain.mniMainHelp.Caption", u"Help"},
    {u"FormOVMain.mniMainHomePage.Caption", u"Homepage"},
    {u"FormOVMain.mniMainAbout.Caption", u"About..."},
    {u"FormOVMain.lvRunning.Columns.Items[0].Caption", u"Name"},
    {u"FormOVMain.lvRunning.Columns.Items[1].Caption", u"CPU"},
    {u"FormOVMain.lvRunning.Columns.Items[2].Caption", u"Memory(KB)"},
    {u"FormOVMain.lvRunning.Columns.Items[3].Caption", u"Path"},
    {u"FormOVMain.lvRunning.Columns.Items[4].Caption", u"Description"},
    {u"FormOVMain.mniRunningTerminate.Caption", u"Terminate Process"},
    {u"FormOVMain.mniRunningTerminateTree.Caption", u"Terminate Process Tree"},
    {u"FormOVMain.mniRunningPriority.Caption", u"Set Priority"},
    {u"FormOVMain.mniRunningPriority_Realtime.Caption", u"Realtime"},
    {u"FormOVMain.mniRunningPriority_High.Caption", u"High"},
    {u"FormOVMain.mniRunningPriority_AboveNormal.Caption", u"Above Normal"},
    {u"FormOVMain.mniRunningPriority_Normal.Caption", u"Normal"},
    {u"FormOVMain.mniRunningPriority_BelowNormal.Caption", u"Below Normal"},
    {u"FormOVMain.mniRunningPriority_Low.Caption", u"Low"},
    {u"FormOVMain.mniRunningLocation.Caption", u"File Location"},
    {u"FormOVMain.mniRunningProperties.Caption", u"File Properties"},
    {u"FormOVMain.mniRunningSearch.Caption", u"Search Online"},
    {u"FormOVMain.mniRunningShowInUninstall.Caption", u"Show in the Uninstall list"},
    {u"FormOVMain.lblRunningTitle.Caption", u"View of applications' running state and resource usage."},
    {u"FormOVMain.lblRunningSysStatus.Caption",
     u"%d activated applications %s, CPU usage: %d %%, memory usage: %d %%."},
    {u"FormOVMain.lblRunningHideSystem.Caption", u"Hide system applications"},
    {u"FormOVMain.lblRunningSelItemTitle.Caption", u"%s"},
    {u"FormOVMain.lblRunningSelItemCPU.Caption", u"CPU: %.2d  |"},
    {u"FormOVMain.lblRunningSelItemMemory.Caption", u"Memory: %3.0n KB  |"},
    {u"FormOVMain.lblRunningSelItemPath.Caption", u"Path: %s"},
    {u"FormOVMain.lblRunningSelItemDesc.Caption", u"Description\uFF1A%s"},
    {u"FormOVMain.imgRunningSelItemIcon.Hint", u"Double-click to open file's folder."},
    {u"FormOVMain.lblRunningSelItemPath.Hint", u"Click to copy path to clipboard.#N#R%s"},
    {u"FormOVMain.lblRunningSelItemDesc.Hint", u"Click to copy description to clipboard.#N#R%s"},
    {u"FormOVMain.btnRunningSelItemTerminate.Caption", u"Terminate"},
    {u"FormOVMain.lvUninst.Columns.Items[0].Caption", u"Software Name"},
    {u"FormOVMain.lvUninst.Columns.Items[1].Caption", u"Publisher"},
    {u"FormOVMain.lblUninstStatus.Caption", u"%s: %d"},
    {u"FormOVMain.lblUninstShowPatches.Caption", u"Show updates"},
    {u"FormOVMain.lblUninstRefreshList.Caption", u"Refresh"},
    {u"FormOVMain.chkUninstShowSystem.Caption", u"Show system packages"},
    {u"FormOVMain.imgUninstSelItemIcon.Hint", u"Click icon to get software details (show/hide)"},
    {u"FormOVMain.lblUninstDetails_Name.Caption", u"Software Name:"},
    {u"FormOVMain.lblUninstDetails_NameV.Caption", u""},
    {u"FormOVMain.lblUninstDetails_Publisher.Caption", u"Publisher:"},
    {u"FormOVMain.lblUninstDetails_PublisherV.Caption", u""},
    {u"FormOVMain.lblUninstDetails_Version.Caption", u"Version:"},
    {u"FormOVMain.lblUninstDetails_VersionV.Caption", u""},
    {u"FormOVMain.lblUninstDetails_Date.Caption", u"Installation Date:"},
    {u"FormOVMain.lblUninstDetails_DateV.Caption", u""},
    {u"FormOVMain.lblUninstDetails_Location.Caption", u"Setup Path:"},
    {u"FormOVMain.lblUninstDetails_LocationV.Caption", u""},
    {u"FormOVMain.lblUninstDetails_LocationV.Hint", u"Click to open setup directory."},
    {u"FormOVMain.lblUninstDetails_Link.Caption", u"Related Links:"},
    {u"FormOVMain.lblUninstDetails_LinkV.Caption", u""},
    {u"FormOVMain.lblUninstDetails_LinkV.Hint", u"Click to visit related links."},
    {u"FormOVMain.lblUninstShowDetails.Caption", u"Hide details"},
    {u"FormOVMain.edtUninstSearch.Text", u"Software Name"},
    {u"FormOVMain.btnUninstSearch.Caption", u"Search"},
    {u"FormOVMain.lblTop3Title.Caption", u"List of recommended software"},
    {u"FormOVMain.lblTop3Submit.Caption", u"(I want to share)"},
    {u"FormOVMain.lblTop3Submit.Hint", u"Click to submit..."},
    {u"FormOVMain.lblTop3PayWares.Caption", u"Recommended paid software %d"},
    {u"FormOVMain.lblTop3PayWareMore.Caption", u"(more)"},
    {u"FormOVMain.lblTop3PayWareMore.Hint", u"Click to get more..."},
    {u"FormOVMain.lblTop3FreeWares.Caption", u"Recommended free software %d"},
    {u"FormOVMain.lblTop3FreeWareMore.Caption", u"(more)"},
    {u"FormOVMain.lblTop3FreeWareMore.Hint", u"Click to get more..."},
    {u"FormOVMain.imgTop3WareIcon.Hint", u"Click icon to get details."},
    {u"FormOVMain.chkTop3Disabled.Caption", u"Disable recommendation."},
    {u"FormOVMain.lblTasksTitle.Caption", u"%d tasks in the list:"},
    {u"FormOVMain.lvTasks.Hint", u"Right-click to get more operations..."},
    {u"FormOVMain.lvTasks.Columns.Items[0].Caption", u"Software Name"},
    {u"FormOVMain.lvTasks.Columns.Items[1].Caption", u"State"},
    {u"FormOVMain.lvTasks.Columns.Items[2].Caption", u"File Size"},
    {u"FormOVMain.lvTasks.Columns.Items[3].Caption", u"File Path"},
    {u"FormOVMain.mniTasksStop.Caption", u"Stop"},
    {u"FormOVMain.mniTasksPause.Caption", u"Pause"},
    {u"FormOVMain.mniTasksResume.Caption", u"Resume"},
    {u"FormOVMain.mniTasksStart.Caption", u"Download and Install"},
    {u"FormOVMain.mniTasksDownload.Caption", u"Download"},
    {u"FormOVMain.mniTasksInstall.Caption", u"Install"},
    {u"FormOVMain.mniTasksDelete.Caption", u"Delete Task"},
    {u"FormOVMain.lblTasksOpenDownloadDir.Caption", u"Open directory of downloaded files"},
    {u"FormOVMain.lblTasksSetDownloadDir.Caption", u"Modify directory of downloaded files"},
    {u"FormOVMain.btnTasksClear.Caption", u"Clear All"},
    {u"FormOVAbout.SkinMgr.Title.Text", u"About Orvane"},
    {u"FormOVAbout.Caption", u"About Orvane"},
    {u"FormOVAbout.lblTitle.Caption", u"Orvane"},
    {u"FormOVAbout.lblVersion.Caption", u"Version %s"},
    {u"FormOVAbout.lblHome.Caption", u"Homepage"},
    {u"FormOVAbout.mmoDesc.Lines.Text",
     u"\"Orvane\" is a utility that enables software recommending, downloading, installing and"
     u" uninstalling. It can help users easily and effectively manage software and get their"
     u" system information.#N#R1. Software Recommending - All kinds of new and useful software"
     u" are shown in ranking-list.#N2. Running Applications - Help users learn and manage all"
     u" running applications in system.#N3. Software Uninstall - Help users uninstall unneeded"
     u" software clean and tidy, and offer replaceable similar software."},
    {u"FormOVSettings.SkinMgr.Title.Text", u"Orvane - Settings"},
    {u"FormOVSettings.Caption", u"Orvane - Settings"},
    {u"FormOVSettings.lblDownloadsDirTitle.Caption", u"Specify a folder to save download files."},
    {u"FormOVSettings.btnDownloadsDirBrowse.Hint", u"Browse..."},
    {u"FormOVSettings.lblDownloadsDirOpen.Caption", u"Open this folder"},
    {u"FormOVSettings.lblDownloadsDirDefault.Caption", u"Use default folder"},
    {u"FormOVSettings.chkAutoInstallValue.Caption", u"Auto install after finishing download."},
    {u"FormOVSettings.lblAutoInstallDesc.Caption", u"(or you need install manually.)"},
    {u"FormOVSettings.rbFileKeepDays1.Caption", u"Downloaded files will be deleted after days of:"},
    {u"FormOVSettings.rbFileKeepDays2.Caption", u"Auto delete downloaded install files after installation."},
    {u"FormOVSettings.rbFileKeepDays3.Caption",
     u"Keep the downloaded install files until you delete them manually."},
    {u"FormOVSettings.chkResumeBrokenValue.Caption", u"Resume broken downloads."},
};

} // namespace

std::span<const OVDefaultText> OVDefaultTexts()
{
    return defaultTexts;
}

void MultiLangsMakeDefault(TBrimMultiLangs *Sender)
{
    if (!Sender)
        return;
    for (const DefaultFont &f : defaultFonts)
        Sender->SetDefaultFont(f.number, QString::fromUtf16(f.name), f.style, f.size, f.colour);
    for (const DefaultFontKey &k : defaultFontKeys)
        Sender->SetDefaultFontKey(QString::fromUtf16(k.key), k.number);
    for (const OVDefaultText &t : defaultTexts)
        Sender->SetDefaultText(QString::fromUtf16(t.key), QString::fromUtf16(t.text));
}
