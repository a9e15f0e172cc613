#pragma once

#include <QLocale>
#include <QString>
#include <QStringView>
#include <QVariantList>

// Formats text the way the program's texts are written (the Pascal-style
// Format routine): "%" [index ":"] ["-"] [width] ["." precision] type, with
//   d  signed integer, precision = minimum digits (zero-padded)
//   u  unsigned integer, x  upper-case hexadecimal (precision = minimum digits)
//   s  text, precision = maximum characters
//   f  fixed, n  fixed with thousands separators, e  scientific, g  general
//      (floating point; integers are accepted too; precision defaults to 2 for
//      f and n, 15 for e and g, and is capped at 18)
//   %% a percent sign.
// Type letters may be upper case. Index, width and precision may be "*" (taken
// from the next argument). Arguments are consumed in order; an index moves that
// order. Separators come from the given locale.
//
// When the format does not fit the arguments (too few, wrong kind, a bad or
// absurdly large specifier), the result is an empty text and *ok is false.
QString DelphiFormat(QStringView format, const QVariantList &args, const QLocale &locale = QLocale(),
                     bool *ok = nullptr);
