// orvane-gallery: one skinned 800 x 600 window showing the toolkit's controls
// in their states, for screenshots and for checking the artwork.
//
//   orvane-gallery [--page N] [--screenshot out.png]

#include "ui/BrimImage.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimImagePanel.h"
#include "ui/BrimLVRichSelItem.h"
#include "ui/BrimSkin.h"
#include "ui/BrimSkinManager.h"
#include "ui/BrimTabControl.h"
#include "ui/DictLoginDialog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

namespace {

const QColor kBody(0xf4, 0xf6, 0xf9);
const QColor kInk(0x1f, 0x2d, 0x3d);
const QColor kMuted(0x6b, 0x7a, 0x8d);
const QColor kNavy(0x1d, 0x3a, 0x5f);

QFont uiFont(int pixelSize, bool bold = false)
{
    QFont f = QApplication::font();
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

QLabel *label(QWidget *parent, const QString &text, int x, int y, const QFont &font, const QColor &color,
              int w = -1)
{
    auto *l = new QLabel(text, parent);
    l->setFont(font);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    l->move(x, y);
    if (w > 0)
        l->resize(w, QFontMetrics(font).height() + 2);
    else
        l->adjustSize();
    return l;
}

QLabel *section(QWidget *parent, const QString &text, int x, int y)
{
    return label(parent, text.toUpper(), x, y, uiFont(10, true), kMuted);
}

TBrimImageButton *skinButton(QWidget *parent, const QString &base,
                             const QString &selected = QStringLiteral("disabled"))
{
    auto *b = new TBrimImageButton(parent);
    b->SetTransparent(true);
    brim::setButtonPictures(b, base, selected);
    return b;
}

TBrimImageButton *actionButton(QWidget *parent, const QString &caption, bool plain = false)
{
    auto *b = skinButton(parent, plain ? "btn_plain" : "btn_action");
    b->SetCaption(caption);
    b->SetStretch(true);
    const QColor text = plain ? kInk : QColor(Qt::white);
    b->SetFont({uiFont(12, true), text});
    b->SetEnableStatesFont(true);
    b->SetFontMouseHover({uiFont(12, true), text});
    b->SetFontMouseDown({uiFont(12, true), text});
    b->SetFontDisabled({uiFont(12, true), plain ? QColor(0xa0, 0xab, 0xb8) : QColor(0xf4, 0xf6, 0xf9)});
    return b;
}

// A strip of the title bar's colour to show the caption buttons on.
class Strip : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(kNavy);
        p.drawRoundedRect(rect(), 6, 6);
    }
};

// A rounded white card behind a group of controls.
class Card : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QColor(0xdb, 0xe2, 0xea));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

QPixmap dot(QColor color)
{
    QPixmap pm(10, 10);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawRoundedRect(QRectF(0, 0, 10, 10), 2.5, 2.5);
    return pm;
}

void buildButtonsPage(QWidget *page)
{
    const char *states[] = {"Normal", "Hover", "Down", "Disabled"};

    auto *card = new Card(page);
    card->setGeometry(14, 12, 372, 462);
    section(card, "Image buttons", 16, 14);
    for (int s = 0; s < 4; ++s)
        label(card, states[s], 104 + s * 66, 36, uiFont(11), kMuted);

    auto stateRow = [&](const QString &name, int y, auto make) {
        label(card, name, 16, y + 5, uiFont(12), kInk);
        for (int s = 0; s < 4; ++s) {
            TBrimImageButton *b = make();
            b->move(100 + s * 66, y);
            if (s == 1)
                b->SetVisualState(true, false);
            if (s == 2)
                b->SetVisualState(false, true);
            if (s == 3)
                b->setEnabled(false);
        }
    };
    stateRow("Action", 56, [&] {
        auto *b = actionButton(card, "Get");
        b->resize(58, 26);
        return b;
    });
    stateRow("Plain", 92, [&] {
        auto *b = actionButton(card, "Skip", true);
        b->resize(58, 26);
        return b;
    });

    label(card, "Title bar", 16, 137, uiFont(12), kInk);
    auto *strip = new Strip(card);
    strip->setGeometry(100, 128, 256, 112);
    const char *caps[] = {"btn_menu", "btn_min", "btn_max", "btn_close"};
    for (int c = 0; c < 4; ++c) {
        for (int s = 0; s < 4; ++s) {
            auto *b = skinButton(strip, caps[c]);
            b->move(10 + s * 66, 6 + c * 26);
            if (s == 1)
                b->SetVisualState(true, false);
            if (s == 2)
                b->SetVisualState(false, true);
            if (s == 3)
                b->setEnabled(false);
        }
    }

    section(card, "Picture and caption placement", 16, 256);
    for (int a = 0; a < 16; ++a) {
        auto *b = new TBrimImageButton(card);
        b->SetColor(QColor(0xf4, 0xf6, 0xf9));
        b->SetDrawBorder(true);
        b->SetPicNormal(dot(QColor(0x2f, 0x6f, 0xde)));
        b->SetPictureAlign(TBrimAlign(a));
        b->SetPictureX(6);
        b->SetPictureY(6);
        b->SetTabStop(false);
        b->setToolTip(QStringLiteral("TBrimAlign %1").arg(a));
        b->resize(36, 30);
        b->move(16 + (a % 8) * 43, 280 + (a / 8) * 37);
    }

    section(card, "Caption fonts, shadow and focus", 16, 362);
    auto *hover = actionButton(card, "Hover font", true);
    hover->resize(104, 28);
    hover->move(16, 386);
    hover->SetFontMouseHover({uiFont(12, true), QColor(0x2f, 0x6f, 0xde)});
    hover->SetVisualState(true, false);
    auto *shadow = new TBrimImageButton(card);
    shadow->SetPictures(brim::skinPicture("btn_plain_disabled"), {}, {}, {});
    shadow->SetStretch(true);
    shadow->SetCaption("Shadowed");
    shadow->SetFont({uiFont(12, true), QColor(Qt::white)});
    shadow->SetShowDisabledShadow(true);
    shadow->SetTransparent(true);
    shadow->resize(104, 28);
    shadow->move(130, 386);
    shadow->setEnabled(false);
    auto *focused = actionButton(card, "&Focused", true);
    focused->SetDrawFocused(true);
    focused->SetFocusedRectMargin(4);
    focused->resize(104, 28);
    focused->move(244, 386);
    // Focused as the keyboard focuses it, once the window is up: the mark shows.
    QTimer::singleShot(0, focused, [focused] {
        QApplication::setActiveWindow(focused->window());
        focused->clearFocus();
        focused->setFocus(Qt::TabFocusReason);
    });
    auto *multi = new TBrimImageButton(card);
    multi->SetTransparent(true);
    multi->SetMultiLines(true);
    multi->SetTextAlign(BrimAlign_CustomLeft);
    multi->SetTextY(2);
    multi->SetFont({uiFont(11), kMuted});
    multi->SetCaption("Captions wrap at word boundaries when MultiLines is on, starting at the top.");
    multi->setGeometry(16, 422, 340, 32);

    // Right column: a list with a rich selected row, and two picture panels.
    auto *listCard = new Card(page);
    listCard->setGeometry(398, 12, 382, 284);
    section(listCard, "List with rich selection", 16, 14);
    auto *list = new QTreeWidget(listCard);
    list->setGeometry(12, 36, 358, 236);
    list->setColumnCount(3);
    list->setHeaderLabels({"Program", "Size", "Version"});
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setIconSize(QSize(20, 20));
    list->header()->resizeSection(0, 180);
    list->header()->resizeSection(1, 70);
    list->setFrameShape(QFrame::NoFrame);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setStyleSheet("QTreeWidget { border: 1px solid #dbe2ea; border-radius: 4px; background: white; }"
                        "QTreeWidget::item { height: 24px; color: #1f2d3d; }"
                        "QTreeWidget::item:selected { background: #e8f0fd; color: #1f2d3d; }"
                        "QHeaderView::section { background: #f4f6f9; color: #6b7a8d; border: none;"
                        " border-bottom: 1px solid #dbe2ea; padding: 4px 6px; font-weight: bold; }");
    const char *rows[][4] = {{"Atlas Notes", "12.4 MB", "3.2.1", "task_completed"},
                             {"Brightline Photo", "88.0 MB", "7.0", "task_downloading"},
                             {"Cobalt Player", "31.7 MB", "2.14", "task_installing"},
                             {"Driftwood Mail", "45.2 MB", "5.1.3", "task_paused"},
                             {"Ember Archive", "4.9 MB", "1.08", "task_failed"},
                             {"Fjord Sync", "19.3 MB", "4.4", "task_completed"},
                             {"Granite Office", "302 MB", "2026", "task_completed"}};
    for (auto &r : rows) {
        auto *item = new QTreeWidgetItem({r[0], r[1], r[2]});
        item->setIcon(0, QIcon(brim::skinPicture(r[3])));
        list->addTopLevelItem(item);
    }
    auto *selPanel = new TBrimImagePanel(listCard);
    selPanel->SetPicture(brim::skinImage("selection_bg"));
    selPanel->SetStretch(true);
    auto *selIcon = new TBrimImage(selPanel);
    selIcon->SetPicture(brim::skinPicture("task_downloading", QSize(28, 28)));
    selIcon->setGeometry(8, 8, 28, 28);
    label(selPanel, "Brightline Photo", 44, 6, uiFont(12, true), kInk);
    label(selPanel, "61 % · 1.2 MB/s", 44, 24, uiFont(11), kMuted);
    auto *pause = actionButton(selPanel, "Pause", true);
    pause->resize(58, 24);
    pause->move(214, 22);
    auto *stop = actionButton(selPanel, "Stop", true);
    stop->resize(58, 24);
    stop->move(278, 22);
    auto *rich = new TBrimLVRichSelItem(listCard);
    rich->AttachListView(list);
    rich->AttachPanel(selPanel);
    rich->SetRowSpan(3);
    list->setCurrentItem(list->topLevelItem(1));
    rich->ExpandItem(list->topLevelItem(1));

    auto *cards = new Card(page);
    cards->setGeometry(398, 306, 382, 168);
    section(cards, "Picture panels and images", 16, 14);
    const char *offers[][3] = {{"Harbor Backup", "Copies of every changed file.", "Download"},
                               {"Juniper Studio", "Sound and video on one timeline.", "Buy"}};
    for (int i = 0; i < 2; ++i) {
        auto *panel = new TBrimImagePanel(cards);
        panel->SetPicture(brim::skinImage("panel_bg", QSize(352, 52)));
        panel->setGeometry(14, 38 + i * 58, 352, 52);
        auto *icon = new TBrimImage(panel);
        icon->SetPicture(brim::skinPicture("logo", QSize(64, 64)));
        icon->SetStretch(true);
        icon->SetProportional(true);
        icon->setGeometry(10, 10, 32, 32);
        label(panel, offers[i][0], 52, 9, uiFont(12, true), kInk, 200);
        label(panel, offers[i][1], 52, 28, uiFont(11), kMuted, 200);
        auto *b = actionButton(panel, offers[i][2], i == 1);
        b->resize(70, 24);
        b->move(268, 14);
    }
}

void buildPicturesPage(QWidget *page)
{
    auto *card = new Card(page);
    card->setGeometry(14, 12, 766, 462);
    section(card, "Logo and window icon", 16, 14);
    auto *logo = new TBrimImage(card);
    logo->SetPicture(brim::skinPicture("logo"));
    logo->SetAutoSize(true);
    logo->move(16, 38);
    auto *icon = new TBrimImage(card);
    icon->SetPicture(brim::skinPicture("icon"));
    icon->SetAutoSize(true);
    icon->move(160, 38);

    section(card, "Size modes (a 200 x 100 picture in 100 x 100)", 220, 14);
    QImage wide(200, 100, QImage::Format_ARGB32_Premultiplied);
    {
        wide.fill(Qt::transparent);
        QPainter p(&wide);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 200, 100);
        g.setColorAt(0, QColor(0x3b, 0x82, 0xf0));
        g.setColorAt(1, QColor(0x22, 0xa3, 0x9f));
        p.setBrush(g);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(0, 0, 200, 100), 14, 14);
        p.setBrush(QColor(255, 255, 255, 70));
        p.drawEllipse(QPointF(150, 50), 34, 34);
        p.setPen(Qt::white);
        p.setFont(uiFont(22, true));
        p.drawText(QRect(14, 0, 120, 100), Qt::AlignVCenter | Qt::AlignLeft, "200x100");
    }
    const char *modes[] = {"Natural", "Stretch", "Proportional", "Proportional, centred"};
    for (int m = 0; m < 4; ++m) {
        auto *frame = new Strip(card);
        frame->setGeometry(220 + m * 130, 38, 104, 104);
        auto *img = new TBrimImage(frame);
        img->setGeometry(2, 2, 100, 100);
        img->SetPicture(wide);
        img->SetStretch(m == 1);
        img->SetProportional(m >= 2);
        img->SetCenter(m == 3);
        label(card, modes[m], 220 + m * 130, 148, uiFont(11), kMuted);
    }

    section(card, "Task row icons", 16, 190);
    const char *tasks[][2] = {{"task_downloading", "Downloading"},
                              {"task_paused", "Paused"},
                              {"task_completed", "Completed"},
                              {"task_installing", "Installing"},
                              {"task_failed", "Failed"}};
    for (int t = 0; t < 5; ++t) {
        auto *img = new TBrimImage(card);
        img->SetPicture(brim::skinPicture(tasks[t][0]));
        img->SetAutoSize(true);
        img->move(16 + t * 120, 214);
        label(card, tasks[t][1], 42 + t * 120, 216, uiFont(12), kInk);
    }

    section(card, "Tab buttons: normal, hover, down, selected; the Tasks shortcut and its new-task frame", 16,
            254);
    auto *strip = new Strip(card);
    strip->setGeometry(16, 278, 734, 96);
    for (int s = 0; s < 4; ++s) {
        auto *b = skinButton(strip, "tab_recommend", "selected");
        b->move(8 + s * 90, 8);
        if (s == 1)
            b->SetVisualState(true, false);
        if (s == 2)
            b->SetVisualState(false, true);
        if (s == 3)
            b->setEnabled(false);
    }
    const char *others[]
        = {"tab_tasks_normal", "tab_tasks_anim", "tab_running_normal", "tab_uninstall_normal"};
    for (int t = 0; t < 4; ++t) {
        auto *img = new TBrimImage(strip);
        img->SetPicture(brim::skinPicture(others[t]));
        img->SetAutoSize(true);
        img->move(8 + (4 + t) * 90, 8);
    }
    // The new-task frame runs round the Tasks shortcut.
    auto *frame = new TBrimImage(strip);
    frame->SetAnimationFrames(brim::skinFrames("tasks_frame"), 90);
    frame->SetAutoSize(true);
    frame->SetGIFAnimation(true);
    frame->move(8 + 5 * 90 - 4, 4);

    section(card, "Upgrade banner: normal, hover, down", 16, 390);
    for (int s = 0; s < 3; ++s) {
        const char *st[] = {"normal", "hover", "down"};
        auto *img = new TBrimImage(card);
        img->SetPicture(brim::skinPicture(QStringLiteral("banner_upgrade_") + st[s]));
        img->SetAutoSize(true);
        img->move(16 + s * 206, 414);
    }
    section(card, "Tasks shortcut", 648, 390);
    auto *shortcutBack = new Strip(card);
    shortcutBack->setGeometry(648, 406, 52, 50);
    auto *shortcut = new TBrimImage(shortcutBack);
    shortcut->SetAnimationFrames(brim::skinFrames("tasks_shortcut"), 120);
    shortcut->SetAutoSize(true);
    shortcut->SetGIFAnimation(true);
    shortcut->move(2, 1);
}

void buildTextPage(QWidget *page, const QString &title, const QString &text)
{
    auto *card = new Card(page);
    card->setGeometry(14, 12, 766, 462);
    label(card, title, 20, 18, uiFont(16, true), kInk);
    auto *body = label(card, text, 20, 50, uiFont(12), kMuted, 720);
    body->setWordWrap(true);
    body->resize(720, 80);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    installDictLoginDialog();
    QApplication::setFont(uiFont(12));
    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption pageOpt("page", "Tab to show first (0-3).", "N", "0");
    QCommandLineOption shotOpt("screenshot", "Write a PNG of the window and quit.", "file");
    parser.addOption(pageOpt);
    parser.addOption(shotOpt);
    parser.process(app);

    QWidget window;
    window.resize(800, 600);
    window.setAutoFillBackground(true);
    QPalette pal = window.palette();
    pal.setColor(QPalette::Window, kBody);
    window.setPalette(pal);

    auto *skin = new TBrimSkinManager(&window);
    skin->SetStyle(fsFixed);
    skin->Bounds().MinWidth = 800;
    skin->Bounds().MinHeight = 600;
    brim::applyWindowSkin(skin);
    skin->Icon().SetAutoPosition(false);
    skin->Icon().SetPosX(8);
    skin->Icon().SetPosY(5);
    skin->Title().SetText("Orvane");
    skin->Title().SetFont({uiFont(16, true), Qt::white});
    skin->Title().SetAutoPosition(false);
    skin->Title().SetPosX(35);
    skin->Title().SetPosY(5);
    skin->CmdButtons().SetAutoPosition(false);
    skin->CmdButtons().BtnMax().SetVisible(false);
    skin->CmdButtons().BtnClose().SetPosX(window.width() - 30);
    skin->CmdButtons().BtnClose().SetPosY(5);
    skin->CmdButtons().BtnMin().SetPosX(window.width() - 55);
    skin->CmdButtons().BtnMin().SetPosY(5);
    skin->ApplySkin();

    auto *menu = skinButton(&window, "btn_menu");
    menu->SetTabStop(false);
    menu->move(window.width() - 80, 5);

    // Header band with the page tabs and the upgrade banner.
    auto *header = new TBrimImagePanel(&window);
    header->SetPicture(brim::skinImage("header_bg"));
    header->SetStretch(true);
    header->setGeometry(3, 30, window.width() - 6, 84);
    header->lower();

    auto *content = new QWidget(&window);
    content->setGeometry(3, 114, window.width() - 6, window.height() - 117);

    auto *tabs = new TBrimTabControl(&window);
    const char *tabNames[][2] = {{"tab_recommend", "Buttons"},
                                 {"tab_tasks", "Pictures"},
                                 {"tab_running", "Lists"},
                                 {"tab_uninstall", "About"}};
    // The active tab shows its "selected" picture by being disabled.
    tabs->OnActivateing = [](QObject *, TBrimTabItem *item) { item->Button()->setEnabled(false); };
    for (int t = 0; t < 4; ++t) {
        auto *b = skinButton(header, tabNames[t][0], "selected");
        b->SetCaption(tabNames[t][1]);
        b->SetTextAlign(BrimAlign_CustomCenter);
        b->SetTextY(57);
        b->SetFont({uiFont(12, true), QColor(0xdb, 0xe7, 0xfb)});
        b->SetEnableStatesFont(true);
        b->SetFontMouseHover({uiFont(12, true), Qt::white});
        b->SetFontMouseDown({uiFont(12, true), QColor(0xdb, 0xe7, 0xfb)});
        b->SetFontDisabled({uiFont(12, true), kInk});
        b->SetTabStop(false);
        b->move(10 + t * 88, 4);
        auto *page = new QWidget(content);
        page->setGeometry(content->rect());
        if (t == 0)
            buildButtonsPage(page);
        else if (t == 1)
            buildPicturesPage(page);
        else if (t == 2)
            buildTextPage(
                page, "Lists",
                "The list on the first page shows a selected row widened to three rows with a detail "
                "panel laid over it. Use the arrow keys there to move the selection.");
        else
            buildTextPage(
                page, "Orvane control gallery",
                "Every control of the program's toolkit in its states, drawn with the program's own "
                "skin. Take a picture of it with scripts/screenshot gallery.");
        tabs->AddTab(b, page);
    }

    auto *banner = skinButton(header, "banner_upgrade");
    banner->SetCaption("Version 2.0 is available");
    banner->resize(brim::skinPicture("banner_upgrade_normal").size());
    banner->SetTextAlign(BrimAlign_CustomMiddle);
    banner->SetTextX(30);
    banner->SetFont({uiFont(11, true), Qt::white});
    banner->SetTabStop(false);
    banner->move(header->width() - banner->width() - 14, (84 - banner->height()) / 2 - 6);

    tabs->SelectTab(qBound(0, parser.value(pageOpt).toInt(), 3));
    window.show();
    window.activateWindow();

    if (parser.isSet(shotOpt)) {
        const QString out = parser.value(shotOpt);
        QTimer::singleShot(400, &window, [&window, out] {
            const bool ok = window.grab().save(out, "PNG");
            std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(out));
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}
