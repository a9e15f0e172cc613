#pragma once

#include "core/OVJournal.h"

#include <QDialog>
#include <optional>

class QComboBox;
class QLabel;
class QTreeWidget;
class TBrimImageButton;
class TBrimSkinManager;

// The History window: every operation of the journal, newest first, with its
// result; a choice of kind narrows the list. Fixed 720 x 460, skinned.
class TFormOVHistory : public QDialog
{
    Q_OBJECT
public:
    explicit TFormOVHistory(QWidget *owner = nullptr);
    ~TFormOVHistory() override;

    void ApplyTexts();
    // Reads the journal again and shows what the chosen kind lets through.
    void Reload();
    // The kind the list shows (none: every kind).
    std::optional<journal::Kind> Filter() const;
    void SetFilter(std::optional<journal::Kind> Kind);

    TBrimSkinManager *SkinMgr = nullptr;
    QLabel *lblKind = nullptr;
    QComboBox *cbKind = nullptr;
    QTreeWidget *lvHistory = nullptr;
    QLabel *lblEmpty = nullptr;
    TBrimImageButton *btnClose = nullptr;

private:
    void fill();

    std::vector<journal::Entry> m_entries;
};
