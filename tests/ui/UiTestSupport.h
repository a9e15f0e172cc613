#pragma once

#include "support/Wait.h"

#include <QApplication>
#include <QImage>
#include <QRect>
#include <QWidget>
#include <functional>

namespace uitest {

// One application object for the whole test program.
inline QApplication *app()
{
    static int argc = 1;
    static char name[] = "test_ui";
    static char *argv[] = {name, nullptr};
    static QApplication *instance = QApplication::instance() ? nullptr : new QApplication(argc, argv);
    return instance ? instance : qApp;
}

inline bool waitUntil(const std::function<bool()> &done, int timeoutMs = 5000)
{
    return testsupport::waitUntil(done, timeoutMs);
}

using testsupport::flushQueuedCalls;

// A fixed wait: only where the delay itself is what a test is about.
inline void settle(int ms)
{
    testsupport::waitUntil([] { return false; }, ms);
}

// Bounding box of the pixels of one colour (or of all pixels differing from it).
inline QRect boundsOf(const QImage &img, QRgb color, bool differing = false)
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

inline QPixmap solid(QSize size, QColor color)
{
    QPixmap pm(size);
    pm.fill(color);
    return pm;
}

} // namespace uitest
