#pragma once

// The addresses an HTML page or a style sheet loads by itself, with their
// places in the source, so that a page archive can fetch them and its mirror
// can rewrite them.

#include <QByteArray>
#include <QList>
#include <QString>

struct TPageReference
{
    enum Kind {
        Resource, // picture, script, icon, font: fetched as it is
        StyleSheet, // fetched and searched for references in turn
        Base, // <base href>: the address relative references resolve against
    };
    enum Syntax {
        HtmlValue, // an attribute value
        CssString, // a quoted string in CSS
        CssBare, // an unquoted url(...) in CSS
    };
    Kind RefKind = Resource;
    Syntax RefSyntax = HtmlValue;
    bool InAttribute = false; // CSS inside a style attribute
    qsizetype Offset = 0; // raw bytes of the address in the source
    qsizetype Length = 0;
    QString Value; // the address, character references decoded, trimmed
};

// The resources an HTML page loads by itself: img src and srcset, script src,
// link stylesheet and icons, input type=image, background and poster
// attributes, style attributes and <style> elements, and <base href>.
QList<TPageReference> FindHtmlReferences(const QByteArray &Html);
// url(...) and @import in a style sheet (or a style attribute's value).
QList<TPageReference> FindCssReferences(const QByteArray &Css);
