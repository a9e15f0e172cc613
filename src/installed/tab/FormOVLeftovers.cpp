#include "installed/tab/FormOVLeftovers.h"

#include "core/BrimMultiLangs.h"
#include "core/BrimSystem.h"
#include "core/MessageBoxTypes.h"
#include "installed/UninstManager.h"
#include "ui/BrimDialogs.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimSkinManager.h"
#include "ui/OVWindowLook.h"

#include <QDir>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>
#include <optional>

namespace {
constexpr int kWidth = 720;
constexpr int kHeight = 460;
constexpr int kColumns = 4;
constexpr int kIndexRole = Qt::UserRole + 1;

installed::LeftoverPresenter &presenter()
{
    static installed::LeftoverPresenter p;
    return p;
}

QHash<QString, installed::LeftoverFacts> &remembered()
{
    static QHash<QString, installed::LeftoverFacts> facts;
    return facts;
}

void present(TFormOVLeftovers &dialog)
{
    if (presenter())
        presenter()(dialog);
    else
        dialog.exec();
}
} // namespace

TFormOVLeftovers::TFormOVLeftovers(std::vector<installed::Leftover> Items, const QString &Program,
                                   QWidget *owner)
    : QDialog(owner)
    , m_items(std::move(Items))
    , m_program(Program)
{
    setObjectName(QStringLiteral("FormOVLeftovers"));
    setModal(true);

    lblIntro = new QLabel(this);
    lblIntro->setObjectName(QStringLiteral("lblIntro"));
    lblIntro->setFont(ovlook::UiFont(12));
    lblIntro->setWordWrap(true);
    ovlook::SetTextColor(lblIntro, ovlook::Ink);
    lblIntro->setGeometry(24, 42, kWidth - 48, 40);

    lvLeftovers = new QTreeWidget(this);
    lvLeftovers->setObjectName(QStringLiteral("lvLeftovers"));
    lvLeftovers->setColumnCount(kColumns);
    lvLeftovers->setRootIsDecorated(false);
    lvLeftovers->setUniformRowHeights(true);
    lvLeftovers->setFont(ovlook::UiFont(12));
    lvLeftovers->header()->setStyleSheet(ovlook::ListHeaderStyleSheet());
    ovlook::SetListPalette(lvLeftovers);
    lvLeftovers->setGeometry(24, 88, kWidth - 48, kHeight - 88 - 58);
    // The program column only where several programs are listed.
    lvLeftovers->setColumnHidden(0, !Program.isEmpty());
    lvLeftovers->setColumnWidth(0, 130);
    lvLeftovers->setColumnWidth(1, Program.isEmpty() ? 230 : 320);
    lvLeftovers->setColumnWidth(3, 76);
    lvLeftovers->header()->setStretchLastSection(false);
    lvLeftovers->header()->setSectionResizeMode(2, QHeaderView::Stretch);
    // Paths in the user's home read shorter from "~".
    const QString home = QDir::homePath();
    const QLocale locale;
    for (size_t i = 0; i < m_items.size(); ++i) {
        const installed::Leftover &l = m_items[i];
        const QString size = l.Size < 0 ? QStringLiteral("-") : locale.formattedDataSize(l.Size, 1);
        const QString shown = l.Path.startsWith(home + u'/') ? u'~' + l.Path.mid(home.size()) : l.Path;
        auto *row = new QTreeWidgetItem(lvLeftovers, {l.Program, shown, QString(), size});
        row->setData(0, kIndexRole, int(i));
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
        // A package's configuration is purged only where the package path can do so.
        if (l.What == installed::Leftover::Kind::PackageConfig && !installed::packagePurger().CanPurge())
            flags &= ~Qt::ItemIsUserCheckable;
        row->setFlags(flags);
        row->setCheckState(1,
                           l.Preselected && (flags & Qt::ItemIsUserCheckable) ? Qt::Checked : Qt::Unchecked);
        row->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
        row->setToolTip(1, l.Path);
    }

    lblNone = new QLabel(this);
    lblNone->setObjectName(QStringLiteral("lblNone"));
    lblNone->setFont(ovlook::UiFont(12));
    ovlook::SetTextColor(lblNone, ovlook::Muted);
    lblNone->setAlignment(Qt::AlignCenter);
    lblNone->setGeometry(24, 140, kWidth - 48, 40);
    lblNone->setVisible(m_items.empty());

    btnTrash = ovlook::NewActionButton(this, QStringLiteral("btnTrash"), false);
    btnTrash->resize(124, 26);
    btnTrash->move(kWidth - 24 - 84 - 12 - 124, kHeight - 16 - 26);
    btnTrash->OnClick = [this](QObject *) { btnTrashClick(); };
    btnTrash->setEnabled(!m_items.empty());
    btnClose = ovlook::NewActionButton(this, QStringLiteral("btnClose"), true);
    btnClose->SetCancel(true);
    btnClose->SetDefault(true);
    btnClose->move(kWidth - 24 - 84, kHeight - 16 - 26);
    btnClose->OnClick = [this](QObject *) { reject(); };

    setTabOrder(lvLeftovers, btnTrash);
    setTabOrder(btnTrash, btnClose);
    MessageBox = [](QWidget *owner, const QString &t, const QString &caption, unsigned type) {
        return ShowMessageBox(owner, t, caption, type, OVLanguageId(), 0);
    };
    SkinMgr = ovlook::SetupDialogSkin(this, kWidth, kHeight);
    ovlook::MakeLabelsTransparent(this);
    ApplyTexts();
    lvLeftovers->setFocus();
}

TFormOVLeftovers::~TFormOVLeftovers() = default;

void TFormOVLeftovers::ApplyTexts()
{
    const auto text = [](const char *key) { return OVGetText(QLatin1String(key)); };
    SkinMgr->Title().SetText(text("FormOVLeftovers.SkinMgr.Title.Text"));
    setWindowTitle(text("FormOVLeftovers.Caption"));
    lblIntro->setText(m_program.isEmpty()
                          ? text("FormOVLeftovers.lblIntroAll.Caption")
                          : OVFormatText(QStringLiteral("FormOVLeftovers.lblIntro.Caption"), {m_program}));
    QStringList headers;
    for (int c = 0; c < kColumns; ++c)
        headers << OVGetText(QStringLiteral("FormOVLeftovers.lvLeftovers.Columns.Items[%1].Caption").arg(c));
    lvLeftovers->setHeaderLabels(headers);
    lvLeftovers->setAccessibleName(SkinMgr->Title().Text());
    for (int i = 0; i < lvLeftovers->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = lvLeftovers->topLevelItem(i);
        const installed::Leftover &l = m_items[size_t(row->data(0, kIndexRole).toInt())];
        const QString reason = installed::ReasonText(l);
        row->setText(2, reason);
        row->setToolTip(2, reason);
        // Why the row cannot be checked.
        if (!(row->flags() & Qt::ItemIsUserCheckable))
            row->setToolTip(
                1, OVFormatText(QStringLiteral("String.MsgText.LeftoversPurgeUnavailable"), {l.Path}));
    }
    lblNone->setText(text("FormOVLeftovers.lblNone.Caption"));
    btnTrash->SetCaption(text("FormOVLeftovers.btnTrash.Caption"));
    btnTrash->setAccessibleName(btnTrash->Caption());
    btnClose->SetCaption(text("FormOVLeftovers.btnClose.Caption"));
    btnClose->setAccessibleName(btnClose->Caption());
}

std::vector<installed::Leftover> TFormOVLeftovers::CheckedItems() const
{
    std::vector<installed::Leftover> checked;
    for (int i = 0; i < lvLeftovers->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = lvLeftovers->topLevelItem(i);
        if (row->checkState(1) == Qt::Checked)
            checked.push_back(m_items[size_t(row->data(0, kIndexRole).toInt())]);
    }
    return checked;
}

void TFormOVLeftovers::btnTrashClick()
{
    const std::vector<installed::Leftover> checked = CheckedItems();
    QStringList failed = installed::TrashLeftovers(checked);
    QStringList packages;
    for (const installed::Leftover &l : checked)
        if (l.What == installed::Leftover::Kind::PackageConfig)
            packages << l.Path;
    if (packages.isEmpty()) {
        Finish(failed);
        return;
    }
    // pkexec's password question and apt's work take a while: the window stays
    // responsive meanwhile, and the dialog waits for the answer.
    btnTrash->setEnabled(false);
    btnClose->setEnabled(false);
    setCursor(Qt::BusyCursor);
    installed::PackagePurger *purger = &installed::packagePurger();
    const bool started = m_workers.start(
        [purger, packages](const platform::WorkerContext &) -> std::optional<QString> {
            QString error;
            if (purger->Purge(packages, error))
                return std::nullopt;
            return error;
        },
        [this, failed, packages](const std::optional<QString> &error) mutable {
            unsetCursor();
            if (error)
                failed << packages << *error;
            Finish(failed);
        });
    if (!started)
        Finish(failed << packages);
}

void TFormOVLeftovers::Finish(const QStringList &Failed)
{
    if (!Failed.isEmpty())
        MessageBox(this,
                   OVFormatText(QStringLiteral("String.MsgText.LeftoversTrashFailed"), {Failed.join(u'\n')}),
                   OVGetText(QStringLiteral("String.MsgTitle.Failure")), MB_OK | MB_ICONERROR);
    accept();
}

namespace installed {

void SetLeftoverPresenter(LeftoverPresenter Presenter)
{
    presenter() = std::move(Presenter);
}

void RememberBeforeUninstall(const TUninstItem &Item)
{
    remembered().insert(Item.DisplayName, FactsOf(Item, LeftoverPlaces::FromEnvironment()));
}

void OfferLeftovers(QWidget *Owner, const TUninstManager &Manager, const QString &Program)
{
    const auto it = remembered().constFind(Program);
    if (it == remembered().constEnd())
        return;
    const LeftoverFacts facts = *it;
    remembered().erase(it);
    // Still listed: the uninstaller did not remove it (cancelled, failed); its files are no leftovers.
    for (const TUninstItem *e : ListedEntries(Manager))
        if (e->DisplayName == Program && e->Source == facts.Source)
            return;
    std::vector<Leftover> items = ScanLeftovers(facts, LeftoverPlaces::FromEnvironment(), ClaimsOf(Manager));
    if (items.empty())
        return;
    // After the completion's handler has returned: a dialog must not hold up the hand-off.
    QPointer<QWidget> owner(Owner);
    QTimer::singleShot(0, Owner, [owner, items = std::move(items), Program]() mutable {
        TFormOVLeftovers dialog(std::move(items), Program, owner);
        present(dialog);
    });
}

void ShowLeftoversOfRemovedPrograms(QWidget *Owner, const TUninstManager &Manager)
{
    const LeftoverPlaces places = LeftoverPlaces::FromEnvironment();
    const std::vector<Claim> claims = ClaimsOf(Manager);
    std::vector<Leftover> items;
    QSet<QString> paths;
    for (const LeftoverFacts &facts : RemovedPrograms(places, claims))
        for (Leftover &l : ScanLeftovers(facts, places, claims))
            if (!paths.contains(l.Path)) {
                paths.insert(l.Path);
                items.push_back(std::move(l));
            }
    TFormOVLeftovers dialog(std::move(items), QString(), Owner);
    present(dialog);
}

} // namespace installed
