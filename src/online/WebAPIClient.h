#pragma once

// Client of the vendor's web API: one HTTP POST per call, parameter values
// form-encoded and optionally obscured, the answer URL-decoded JSON.

#include "online/SoftwareTop3.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <utility>
#include <vector>

// One HTTP exchange with the web API.
class THttpClient
{
public:
    // The fixed key that obscures parameter values.
    static constexpr const char *ObscureKey = "qunvelto";

    QString URL;
    bool Encrypt = true;
    // A dead server must not freeze the caller: bounded connect and whole exchange.
    long ConnectTimeoutMs = 10000;
    long TotalTimeoutMs = 30000;
    // Answers beyond this size are refused rather than held in memory.
    qint64 MaxBodyBytes = 16 * 1024 * 1024;
    // When set, raising it from another thread abandons the exchange.
    const std::atomic<bool> *Cancel = nullptr;

    // Encodes Value and sets the entry Name to it; an empty result removes the entry.
    void AddParam(const QString &Name, const QString &Value);
    // Sets an already encoded value (same replace/remove rules).
    void SetParam(const QString &Name, const QString &EncodedValue);
    // The entries joined by "&", in the order their names were first set.
    QString Query() const;
    // Performs the call; the decoded answer, or an empty text when there is none.
    QString Execute();

    // The encoding steps, usable on their own.
    static QByteArray FormEncode(const QByteArray &Bytes);
    static QByteArray Base64Lines(const QByteArray &Bytes);
    static QString Obscure(const QByteArray &Text);
    QString EncodeValue(const QString &Value) const;

    // Turns a raw answer body into text: charset, byte-order marks, URL-decoding.
    static QString DecodeBody(const QByteArray &Body, const QByteArray &ContentType);

private:
    std::vector<std::pair<QString, QString>> m_params;
};

// The web API component owned by the main window.
class TWebAPIClient
{
public:
    QString APIUrl;
    quint16 LanguageID = 0;
    bool Encrypt = true;
    QString LastResponse;
    long ConnectTimeoutMs = 10000;
    long TotalTimeoutMs = 30000;
    // Set on the copy a worker calls with; raising it from another thread abandons the call.
    const std::atomic<bool> *Cancel = nullptr;

    // The "software_top3" call; false on any failure, with Top3 emptied.
    bool GetSoftwareTop3(const QString &Keywords, TSoftwareTop3 &Top3);
    // Whether LastResponse is a success envelope.
    bool IsSuccess() const { return IsSuccessAnswer(LastResponse); }

    static bool IsSuccessAnswer(const QString &Answer);
};
