// The window look's shared text helpers.
#include "support/GuiApp.h"
#include "ui/OVWindowLook.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

TEST(WindowLook, ElideAtWordCutsAtAWordOrInsideTheOnlyWord)
{
    testsupport::guiApp();
    const QFontMetrics fm(QApplication::font());
    const auto width = [&fm](const char *text) { return fm.horizontalAdvance(QString::fromUtf8(text)); };
    const struct
    {
        const char *text;
        const char *room; // the width of this text is the room
        const char *expected;
    } cases[] = {
        {"alpha beta gamma delta", "alpha beta gamma delta", "alpha beta gamma delta"},
        {"alpha beta gamma delta", "alpha beta gam...", "alpha beta..."},
        {"alpha  beta\tgamma", "alpha  beta g...", "alpha  beta..."},
        {"alpha beta", "", "..."},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ovlook::ElideAtWord(QString::fromUtf8(c.text), fm, width(c.room)),
                  QString::fromUtf8(c.expected))
            << c.text << " in " << c.room;
    }
    const QString path = QStringLiteral("/usr/lib/very/long/path/without/blanks");
    const QString cut = ovlook::ElideAtWord(path, fm, width("/usr/lib/ve..."));
    EXPECT_TRUE(cut.endsWith("...") && path.startsWith(cut.chopped(3))) << cut.toStdString();
    EXPECT_LE(fm.horizontalAdvance(cut), width("/usr/lib/ve..."));
}

TEST(WindowLook, LinksTakeTheLinkColourAndEscapeTheirCaption)
{
    EXPECT_EQ(ovlook::LinkHtml(QStringLiteral("Tom & <Jerry>")),
              QStringLiteral(
                  "<a href=\"#\" style=\"color:#1f5fbf; text-decoration:none\">Tom &amp; &lt;Jerry&gt;</a>"));
}
