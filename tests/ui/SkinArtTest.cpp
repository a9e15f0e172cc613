#include "support/GuiApp.h"
#include "support/Wait.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimSkin.h"
#include "ui/BrimSkinManager.h"

#include <gtest/gtest.h>

namespace {

// Every picture the windows ask for exists in the compiled-in skin, at the size
// the layout relies on.
TEST(SkinArt, EveryPictureExistsAtItsSize)
{
    testsupport::guiApp();
    QStringList names;
    QMap<QString, QSize> sizes;
    for (const char *b : {"btn_min", "btn_max", "btn_close", "btn_menu"}) {
        for (const char *s : {"normal", "hover", "down", "disabled"})
            sizes[QStringLiteral("%1_%2").arg(b, s)] = QSize(24, 22);
    }
    for (const char *t : {"tab_recommend", "tab_tasks", "tab_running", "tab_uninstall"}) {
        for (const char *s : {"normal", "hover", "down", "selected"})
            sizes[QStringLiteral("%1_%2").arg(t, s)] = QSize(84, 80);
    }
    sizes["tab_tasks_anim"] = QSize(84, 80);
    for (const char *t :
         {"task_downloading", "task_paused", "task_completed", "task_installing", "task_failed"})
        sizes[t] = QSize(20, 20);
    sizes["logo"] = QSize(128, 128);
    sizes["icon"] = QSize(20, 20);
    for (const char *s : {"normal", "hover", "down"})
        sizes[QStringLiteral("banner_upgrade_%1").arg(s)] = QSize(190, 26);
    for (const char *s : {"normal", "hover", "down", "disabled"}) {
        sizes[QStringLiteral("btn_action_%1").arg(s)] = QSize(76, 26);
        sizes[QStringLiteral("btn_plain_%1").arg(s)] = QSize(76, 26);
    }
    for (const char *n :
         {"frame_topleft", "frame_top", "frame_topright", "frame_left", "frame_right", "frame_bottomleft",
          "frame_bottom", "frame_bottomright", "header_bg", "panel_bg", "selection_bg"})
        sizes[n] = QSize();
    for (auto it = sizes.cbegin(); it != sizes.cend(); ++it) {
        const QPixmap pic = brim::skinPicture(it.key());
        ASSERT_FALSE(pic.isNull()) << it.key().toStdString();
        if (it.value().isValid()) {
            EXPECT_EQ(pic.size(), it.value()) << it.key().toStdString();
        }
    }
    EXPECT_TRUE(brim::skinPicture("no_such_picture").isNull());
    // The Tasks shortcut's animation and the frame that runs round it.
    EXPECT_EQ(brim::skinFrames("tasks_shortcut").size(), 6);
    const QList<QPixmap> frame = brim::skinFrames("tasks_frame");
    ASSERT_EQ(frame.size(), 8);
    EXPECT_EQ(frame.first().size(), QSize(92, 88));
    EXPECT_NE(frame[0].toImage(), frame[1].toImage());
    EXPECT_TRUE(brim::skinFrames("no_such_animation").isEmpty());
    // Rendered at another size on request.
    EXPECT_EQ(brim::skinPicture("logo", QSize(32, 32)).size(), QSize(32, 32));
}

TEST(SkinArt, WindowSkinFitsTheTitleBar)
{
    testsupport::guiApp();
    QWidget window;
    window.resize(800, 600);
    auto *skin = new TBrimSkinManager(&window);
    brim::applyWindowSkin(skin);
    skin->ApplySkin();
    // The title bar is tall enough for the command buttons at top 5.
    const int titleBar = skin->FramePiece(TSMFrame::Top)->height();
    EXPECT_GE(titleBar, 5 + skin->CommandButton(TSMButtonKind::Close)->height());
    EXPECT_EQ(skin->FramePiece(TSMFrame::TopLeft)->height(), titleBar);
    EXPECT_EQ(skin->FramePiece(TSMFrame::TopRight)->height(), titleBar);
    // Frame pieces are opaque.
    for (int i = 0; i < TSMFrame::PieceCount; ++i)
        EXPECT_FALSE(skin->Frame().Picture(TSMFrame::Piece(i)).hasAlphaChannel()) << i;

    TBrimImageButton button(&window);
    brim::setButtonPictures(&button, "tab_running", "selected");
    EXPECT_EQ(button.size(), QSize(84, 80));
    EXPECT_FALSE(button.PicDisabled().isNull());
}

} // namespace
