// The skin's art on screens of different pixel density: drawn sharp at each
// screen's ratio (not a 1x picture enlarged), also after the window moves from
// one screen to another, and unchanged on an ordinary screen.
#include "support/GuiApp.h"
#include "support/Wait.h"
#include "ui/BrimImage.h"
#include "ui/BrimImageButton.h"
#include "ui/BrimImagePanel.h"
#include "ui/BrimSkin.h"
#include "ui/BrimSkinManager.h"

#include <QFile>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Two screens side by side, the right one of twice the density; set up before
// the application object exists (the first test makes it).
const bool kTwoScreens = [] {
    static QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/screens.json");
    QFile f(file);
    if (!dir.isValid() || !f.open(QIODevice::WriteOnly))
        return false;
    f.write(R"({"screens": [
        {"name": "plain", "x": 0, "y": 0, "width": 1000, "height": 800, "logicalDpi": 96, "dpr": 1},
        {"name": "dense", "x": 1000, "y": 0, "width": 1000, "height": 800, "logicalDpi": 96, "dpr": 2}]})");
    f.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + file).toUtf8());
    return true;
}();

QScreen *screenWithRatio(qreal ratio)
{
    for (QScreen *s : QGuiApplication::screens())
        if (qFuzzyCompare(s->devicePixelRatio(), ratio))
            return s;
    return nullptr;
}

// Pixels of a that differ from b by more than a rounding error (tolerance per channel).
int differing(const QImage &a, const QImage &b, int tolerance = 8)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    if (x.size() != y.size())
        return x.width() * x.height();
    int n = 0;
    for (int j = 0; j < x.height(); ++j)
        for (int i = 0; i < x.width(); ++i) {
            const QRgb p = x.pixel(i, j), q = y.pixel(i, j);
            n += qAbs(qRed(p) - qRed(q)) > tolerance || qAbs(qGreen(p) - qGreen(q)) > tolerance
                || qAbs(qBlue(p) - qBlue(q)) > tolerance;
        }
    return n;
}

// What the art looks like drawn straight at ratio over white: the sharp result.
QImage sharpArt(const QString &name, QSize logical, qreal ratio)
{
    QImage out((QSizeF(logical) * ratio).toSize(), QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter p(&out);
    p.drawImage(QRect(QPoint(0, 0), out.size()),
                brim::renderSvg(QStringLiteral(":/skin/%1.svg").arg(name), logical, ratio));
    return out;
}

struct Control
{
    const char *name;
    const char *art;
    std::function<QWidget *(QWidget *window)> make;
};

void PrintTo(const Control &c, std::ostream *os)
{
    *os << c.name;
}

class SkinDensity : public ::testing::TestWithParam<Control>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kTwoScreens);
        testsupport::guiApp();
        plain = screenWithRatio(1);
        dense = screenWithRatio(2);
        ASSERT_TRUE(plain && dense) << "the offscreen platform gave no screens of ratio 1 and 2";
        window = std::make_unique<QWidget>();
        window->setAutoFillBackground(true);
        QPalette pal = window->palette();
        pal.setColor(QPalette::Window, Qt::white);
        window->setPalette(pal);
        window->resize(300, 200);
        control = GetParam().make(window.get());
        control->move(10, 10);
    }

    void showOn(QScreen *screen)
    {
        window->move(screen->geometry().topLeft() + QPoint(50, 50));
        window->show();
        ASSERT_TRUE(testsupport::waitUntil([&] {
            return window->windowHandle() && window->windowHandle()->screen() == screen
                && qFuzzyCompare(window->devicePixelRatioF(), screen->devicePixelRatio());
        }));
    }

    // The control as the screen shows it (over the window's white), at the
    // screen's density.
    QImage shown() const { return window->grab(control->geometry()).toImage(); }

    QScreen *plain = nullptr;
    QScreen *dense = nullptr;
    std::unique_ptr<QWidget> window;
    QWidget *control = nullptr;
};

} // namespace

TEST_P(SkinDensity, ArtIsSharpOnEachScreenItIsShownOn)
{
    const QString art = QLatin1String(GetParam().art);
    const QSize size = control->size();

    showOn(plain);
    const QImage atOne = shown();
    EXPECT_EQ(atOne.size(), size);
    EXPECT_EQ(differing(atOne, sharpArt(art, size, 1)), 0);

    // The same window moved to the dense screen.
    showOn(dense);
    const QImage atTwo = shown();
    ASSERT_EQ(atTwo.size(), size * 2);
    const QImage enlarged = atOne.scaled(size * 2);
    EXPECT_GT(differing(enlarged, sharpArt(art, size, 2)), 0) << "the art has no detail to lose at 1x";
    EXPECT_EQ(differing(atTwo, sharpArt(art, size, 2)), 0);

    // And back: the ordinary screen's picture again.
    showOn(plain);
    EXPECT_EQ(differing(shown(), atOne), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Controls, SkinDensity,
    ::testing::Values(Control {"ImageButton", "tab_running_normal",
                               [](QWidget *w) -> QWidget * {
                                   auto *b = new TBrimImageButton(w);
                                   b->SetTransparent(true);
                                   brim::setButtonPictures(b, QStringLiteral("tab_running"));
                                   return b;
                               }},
                      Control {"Image", "icon",
                               [](QWidget *w) -> QWidget * {
                                   auto *i = new TBrimImage(w);
                                   i->SetPicture(brim::skinPicture(QStringLiteral("icon")));
                                   i->SetAutoSize(true);
                                   return i;
                               }},
                      Control {"ImagePanel", "panel_bg",
                               [](QWidget *w) -> QWidget * {
                                   auto *p = new TBrimImagePanel(w);
                                   p->SetPicture(brim::skinImage(QStringLiteral("panel_bg")));
                                   p->SetAutoSize(true);
                                   return p;
                               }}),
    [](const ::testing::TestParamInfo<Control> &info) { return std::string(info.param.name); });

// The frame of a skinned window follows its screen too (the title bar is a
// stretched piece: compared against the piece drawn at the window's size).
TEST(SkinDensityFrame, FramePiecesAreDrawnForTheScreensRatio)
{
    ASSERT_TRUE(kTwoScreens);
    testsupport::guiApp();
    QScreen *dense = screenWithRatio(2);
    ASSERT_NE(dense, nullptr);
    QWidget window;
    window.resize(200, 120);
    TBrimSkinManager skin(&window);
    skin.SetStyle(fsFixed);
    brim::applyWindowSkin(&skin);
    skin.ApplySkin();
    window.move(dense->geometry().topLeft() + QPoint(50, 50));
    window.show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return qFuzzyCompare(window.devicePixelRatioF(), 2.0); }));
    QWidget *corner = skin.FramePiece(TSMFrame::TopLeft);
    ASSERT_NE(corner, nullptr);
    const QImage shown = corner->grab().toImage(); // opaque: nothing of the window shows through
    // Frame pieces are drawn opaque: the art's alpha is dropped, not blended.
    QImage opaque = brim::renderSvg(QStringLiteral(":/skin/frame_topleft.svg"), corner->size(), 2)
                        .convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < opaque.height(); ++y)
        for (int x = 0; x < opaque.width(); ++x)
            opaque.setPixel(x, y, opaque.pixel(x, y) | 0xFF000000u);
    // The frame's art is a soft gradient: it takes an exact comparison to tell
    // it from the 1x piece enlarged.
    const QImage enlarged = brim::skinImage(QStringLiteral("frame_topleft"))
                                .convertToFormat(QImage::Format_RGB32)
                                .scaled(corner->size() * 2);
    EXPECT_GT(differing(enlarged, opaque, 0), 0);
    EXPECT_EQ(differing(shown, opaque, 0), 0);
}
