#pragma once

#include "installed/LeftoverScan.h"
#include "platform/Worker.h"

#include <QDialog>
#include <functional>
#include <vector>

class QLabel;
class QTreeWidget;
class TBrimImageButton;
class TBrimSkinManager;
class TUninstItem;
class TUninstManager;

// The leftovers of one program after its uninstall, or of every program
// removed elsewhere: each item with why it is listed and its size, checked
// unless another application claims it. "Move to Trash" moves the checked
// ones; nothing is deleted outright. Fixed 720 x 460, skinned.
class TFormOVLeftovers : public QDialog
{
    Q_OBJECT
public:
    // Program: the uninstalled program; empty for the leftovers of programs removed elsewhere.
    TFormOVLeftovers(std::vector<installed::Leftover> Items, const QString &Program,
                     QWidget *owner = nullptr);
    ~TFormOVLeftovers() override;

    void ApplyTexts();
    // The items whose rows are checked.
    std::vector<installed::Leftover> CheckedItems() const;
    // Moves the checked items to the Trash (purges checked package configurations
    // through the package path, on a worker), tells what failed, and closes.
    void btnTrashClick();

    // ShowMessageBox with the current language by default; tests replace it.
    std::function<int(QWidget *Owner, const QString &Text, const QString &Caption, unsigned Type)> MessageBox;

    TBrimSkinManager *SkinMgr = nullptr;
    QLabel *lblIntro = nullptr;
    QTreeWidget *lvLeftovers = nullptr;
    QLabel *lblNone = nullptr;
    TBrimImageButton *btnTrash = nullptr;
    TBrimImageButton *btnClose = nullptr;

private:
    // Tells what could not be cleaned up, then closes.
    void Finish(const QStringList &Failed);

    std::vector<installed::Leftover> m_items;
    QString m_program;
    // The purge of package configurations: the password question and apt take their time.
    platform::Worker m_workers;
};

namespace installed {

// How a dialog is shown: exec() by default; tests look at it instead.
using LeftoverPresenter = std::function<void(TFormOVLeftovers &Dialog)>;
void SetLeftoverPresenter(LeftoverPresenter Presenter);

// Keeps the facts of an entry about to be uninstalled (its folder and menu
// entries are about to go), for the offer when the uninstall completes.
void RememberBeforeUninstall(const TUninstItem &Item);
// After the uninstall of Program completed and the manager was rescanned:
// when the program is gone, offers what its facts tie to it (if anything).
void OfferLeftovers(QWidget *Owner, const TUninstManager &Manager, const QString &Program);
// The leftovers of programs removed elsewhere, from the main menu.
void ShowLeftoversOfRemovedPrograms(QWidget *Owner, const TUninstManager &Manager);

} // namespace installed
