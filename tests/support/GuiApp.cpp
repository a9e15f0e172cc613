#include "support/GuiApp.h"

#include <gtest/gtest.h>

namespace testsupport {

namespace {

// Ends the application object after the last test, before the program's own
// end: the web engine shuts its threads down with it, instead of running on
// while the program's static objects are freed.
class ApplicationEnd : public ::testing::Environment
{
public:
    void TearDown() override { delete QCoreApplication::instance(); }
};

} // namespace

QApplication *guiApp()
{
    static int argc = 1;
    static char name[] = "orvane_test";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        new QApplication(argc, argv);
        ::testing::AddGlobalTestEnvironment(new ApplicationEnd);
    }
    return qobject_cast<QApplication *>(QCoreApplication::instance());
}

QRect boundsOf(const QImage &img, QRgb color, bool differing)
{
    QRect r;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const bool same = (img.pixel(x, y) & 0xFFFFFF) == (color & 0xFFFFFF);
            if (same != differing)
                r |= QRect(x, y, 1, 1);
        }
    }
    return r;
}

QPixmap solid(QSize size, QColor color)
{
    QPixmap pm(size);
    pm.fill(color);
    return pm;
}

} // namespace testsupport
