#pragma once

// Scripts in a web engine page, for tests that link the web engine.

#include "support/Wait.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QVariant>
#include <QWebEnginePage>
#include <memory>

namespace testsupport {

// Runs code (statements allowed; the last value counts) in the page's main
// world and waits for its value. It runs inside try/catch: a probe that
// throws while the page is still loading would otherwise be a script error of
// the page, and a browser set to stop on script errors would stop the page.
inline QVariant evalInPage(QWebEnginePage *page, const QString &code, int timeoutMs = 15000)
{
    const QByteArray literal = QJsonDocument(QJsonArray {code}).toJson(QJsonDocument::Compact);
    const QString wrapped
        = QStringLiteral("(function () { try { return eval(%1[0]); } catch (e) { return null; } })()")
              .arg(QString::fromUtf8(literal));
    struct Result
    {
        QVariant value;
        bool done = false;
    };
    auto result = std::make_shared<Result>(); // outlives a call that times out
    page->runJavaScript(wrapped, [result](const QVariant &v) {
        result->value = v;
        result->done = true;
    });
    waitUntil([&] { return result->done; }, timeoutMs); // generous: the machine may be busy
    return result->value;
}

} // namespace testsupport
