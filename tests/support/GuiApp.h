#pragma once

// The application object of the widget tests. Only tests that use widgets link it
// (orvane_test_gui): the model tests stay without QtWidgets.

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QSize>

namespace testsupport {

// Made on the first call, before anything makes a QCoreApplication, and never
// destroyed: tearing a GUI application down at exit races Qt's own statics.
QApplication *guiApp();

// Bounding box of the pixels of one colour (or of all pixels differing from it).
QRect boundsOf(const QImage &img, QRgb color, bool differing = false);

// A picture of one colour.
QPixmap solid(QSize size, QColor color);

} // namespace testsupport
