#include "shell/FormOVHistory.h"

#include "core/BrimMultiLangs.h"
#include "core/OVHistory.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimSkinManager.h"
#include "ui/OVWindowLook.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>

namespace {
constexpr int kWidth = 720;
constexpr int kHeight = 460;
constexpr int kColumns = 5;
} // namespace

TFormOVHistory::TFormOVHistory(QWidget *owner)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("FormOVHistory"));
    setModal(true);

    lblKind = new QLabel(this);
    lblKind->setObjectName(QStringLiteral("lblKind"));
    lblKind->setFont(ovlook::UiFont(12));
    ovlook::SetTextColor(lblKind, ovlook::Ink);
    lblKind->setGeometry(24, 46, 80, 24);

    cbKind = new QComboBox(this);
    cbKind->setObjectName(QStringLiteral("cbKind"));
    cbKind->setFont(ovlook::UiFont(12));
    cbKind->setGeometry(108, 46, 220, 24);
    cbKind->addItem(QString());
    for (journal::Kind k : journal::Kinds())
        cbKind->addItem(QString(), int(k));
    connect(cbKind, &QComboBox::currentIndexChanged, this, [this] { fill(); });
    lblKind->setBuddy(cbKind);

    lvHistory = new QTreeWidget(this);
    lvHistory->setObjectName(QStringLiteral("lvHistory"));
    lvHistory->setColumnCount(kColumns);
    lvHistory->setRootIsDecorated(false);
    lvHistory->setUniformRowHeights(true);
    lvHistory->setAlternatingRowColors(true);
    lvHistory->setSelectionMode(QAbstractItemView::SingleSelection);
    lvHistory->setFont(ovlook::UiFont(12));
    lvHistory->header()->setStyleSheet(ovlook::ListHeaderStyleSheet());
    lvHistory->header()->setStretchLastSection(true);
    ovlook::SetListPalette(lvHistory);
    lvHistory->setGeometry(24, 80, kWidth - 48, kHeight - 80 - 58);
    for (auto [column, width] : {std::pair {0, 150}, {1, 110}, {2, 136}, {3, 156}})
        lvHistory->setColumnWidth(column, width);

    lblEmpty = new QLabel(this);
    lblEmpty->setObjectName(QStringLiteral("lblEmpty"));
    lblEmpty->setFont(ovlook::UiFont(12));
    ovlook::SetTextColor(lblEmpty, ovlook::Muted);
    lblEmpty->setAlignment(Qt::AlignCenter);
    lblEmpty->setGeometry(24, 130, kWidth - 48, 40); // over the list's empty rows

    btnClose = ovlook::NewActionButton(this, QStringLiteral("btnClose"), false);
    btnClose->SetCancel(true);
    btnClose->SetDefault(true);
    btnClose->move(kWidth - 24 - 84, kHeight - 16 - 26);
    btnClose->OnClick = [this](QObject *) { reject(); };

    setTabOrder(cbKind, lvHistory);
    setTabOrder(lvHistory, btnClose);

    SkinMgr = ovlook::SetupDialogSkin(this, kWidth, kHeight);
    ovlook::MakeLabelsTransparent(this);
    ApplyTexts();
    Reload();
    lvHistory->setFocus();
}

TFormOVHistory::~TFormOVHistory() = default;

void TFormOVHistory::ApplyTexts()
{
    const auto text = [](const char *key) { return OVGetText(QLatin1String(key)); };
    SkinMgr->Title().SetText(text("FormOVHistory.SkinMgr.Title.Text"));
    setWindowTitle(text("FormOVHistory.Caption"));
    lblKind->setText(text("FormOVHistory.lblKind.Caption"));
    cbKind->setItemText(0, text("FormOVHistory.cbKind.All"));
    for (int i = 1; i < cbKind->count(); ++i)
        cbKind->setItemText(i, OVGetText(journal::KindKey(journal::Kind(cbKind->itemData(i).toInt()))));
    cbKind->setAccessibleName(lblKind->text());
    QStringList headers;
    for (int c = 0; c < kColumns; ++c)
        headers << OVGetText(QStringLiteral("FormOVHistory.lvHistory.Columns.Items[%1].Caption").arg(c));
    lvHistory->setHeaderLabels(headers);
    lvHistory->setAccessibleName(SkinMgr->Title().Text());
    lblEmpty->setText(text("FormOVHistory.lblEmpty.Caption"));
    btnClose->SetCaption(text("FormOVHistory.btnClose.Caption"));
    btnClose->setAccessibleName(btnClose->Caption());
    fill(); // the rows' words are texts too
}

void TFormOVHistory::Reload()
{
    m_entries = journal::Read();
    fill();
}

std::optional<journal::Kind> TFormOVHistory::Filter() const
{
    const QVariant data = cbKind->currentData();
    if (!data.isValid())
        return std::nullopt;
    return journal::Kind(data.toInt());
}

void TFormOVHistory::SetFilter(std::optional<journal::Kind> Kind)
{
    cbKind->setCurrentIndex(Kind ? cbKind->findData(int(*Kind)) : 0);
}

void TFormOVHistory::fill()
{
    lvHistory->clear();
    const std::vector<journal::HistoryRow> rows = journal::HistoryRows(m_entries, Filter());
    QList<QTreeWidgetItem *> items;
    for (const journal::HistoryRow &r : rows) {
        auto *item = new QTreeWidgetItem({r.Time, r.Operation, r.Program, r.ResultText, r.Details});
        for (int c = 0; c < kColumns; ++c)
            item->setToolTip(c, item->text(c));
        if (r.Outcome == journal::Result::Failed || r.Outcome == journal::Result::Interrupted)
            item->setForeground(3, QColor(0xb0, 0x24, 0x1c));
        items << item;
    }
    lvHistory->addTopLevelItems(items);
    lblEmpty->setVisible(rows.empty());
}
