#pragma once

// The small JSON object model used for web API answers: a lenient parser
// (comments, single quotes, unquoted words, "=" / "=>" and ";" separators),
// typed accessors that raise named errors, and a writer.

#include "online/OnlineError.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

class TZAbstractObject;
class TJSONObject;
class TJSONArray;

// ---- errors -------------------------------------------------------------

class ParseException : public EOnlineError
{
public:
    ParseException(const QString &message, int position)
        : EOnlineError(message)
        , m_position(position)
    { }
    int Position() const { return m_position; }

private:
    int m_position;
};

class ClassCastException : public EOnlineError
{
    using EOnlineError::EOnlineError;
};
class NoSuchElementException : public EOnlineError
{
    using EOnlineError::EOnlineError;
};
class NumberFormatException : public EOnlineError
{
    using EOnlineError::EOnlineError;
};
class NullPointerException : public EOnlineError
{
    using EOnlineError::EOnlineError;
};
class NotImplmentedFeature : public EOnlineError
{
    using EOnlineError::EOnlineError;
};
// A text that is not a decimal number where one is required.
class EConvertError : public EOnlineError
{
    using EOnlineError::EOnlineError;
};

// ---- ownership ----------------------------------------------------------

// Frees a value unless it is one of the three shared constants.
struct JSONValueDeleter
{
    void operator()(TZAbstractObject *value) const;
};
using JSONValue = std::unique_ptr<TZAbstractObject, JSONValueDeleter>;

// ---- values -------------------------------------------------------------

class TZAbstractObject
{
public:
    TZAbstractObject() = default;
    TZAbstractObject(const TZAbstractObject &) = delete;
    TZAbstractObject &operator=(const TZAbstractObject &) = delete;
    virtual ~TZAbstractObject() = default;

    // Identity unless a value type says otherwise; false for nil.
    virtual bool Equals(const TZAbstractObject *Other) const;
    // Raises NotImplmentedFeature unless a value type can copy itself.
    virtual JSONValue Clone() const;
    virtual QString ToString() const;
    virtual const char *ClassName() const { return "TZAbstractObject"; }

    // True for the shared true, false and null constants.
    bool IsShared() const;
};

class _Number : public TZAbstractObject
{
public:
    virtual double DoubleValue() const = 0;
    virtual int IntValue() const = 0;
    const char *ClassName() const override { return "_Number"; }
};

class _Integer : public _Number
{
public:
    explicit _Integer(int value)
        : m_value(value)
    { }
    double DoubleValue() const override { return m_value; }
    int IntValue() const override { return m_value; }
    JSONValue Clone() const override;
    QString ToString() const override;
    const char *ClassName() const override { return "_Integer"; }

private:
    int m_value;
};

class _Double : public _Number
{
public:
    explicit _Double(double value)
        : m_value(value)
    { }
    double DoubleValue() const override { return m_value; }
    // Truncates towards zero; values beyond the 32-bit range saturate, NaN gives 0.
    int IntValue() const override;
    JSONValue Clone() const override;
    QString ToString() const override;
    const char *ClassName() const override { return "_Double"; }

private:
    double m_value;
};

class _Boolean : public TZAbstractObject
{
public:
    explicit _Boolean(bool value)
        : m_value(value)
    { }
    bool BoolValue() const { return m_value; }
    JSONValue Clone() const override;
    QString ToString() const override;
    const char *ClassName() const override { return "_Boolean"; }

private:
    bool m_value;
};

class _String : public TZAbstractObject
{
public:
    explicit _String(const QString &value)
        : m_value(value)
    { }
    bool Equals(const TZAbstractObject *Other) const override;
    JSONValue Clone() const override;
    QString ToString() const override { return m_value; }
    const char *ClassName() const override { return "_String"; }

private:
    QString m_value;
};

// The JSON null ("NULL" is taken by the C library, hence the longer name).
class JSONNull : public TZAbstractObject
{
public:
    bool Equals(const TZAbstractObject *Other) const override;
    QString ToString() const override { return QStringLiteral("null"); }
    const char *ClassName() const override { return "NULL"; }
};

// The three shared constants; the parser hands them out, containers never free them.
_Boolean *JSONTrue();
_Boolean *JSONFalse();
JSONNull *JSONNullValue();

// ---- tokener ------------------------------------------------------------

class JSONTokener
{
public:
    // Deeper nesting than this is refused, so hostile answers cannot exhaust the stack.
    static constexpr int MaxDepth = 512;

    explicit JSONTokener(const QString &Source)
        : m_source(Source)
    { }

    bool More() const { return m_pos <= m_source.size(); }
    QChar NextChar();
    void Back();
    QChar NextClean();
    QString NextString(QChar Quote);
    JSONValue NextValue();
    ParseException SyntaxError(const QString &Message) const;
    int Position() const { return m_pos; }

private:
    friend class TJSONObject;
    friend class TJSONArray;
    struct DepthGuard
    {
        explicit DepthGuard(JSONTokener &t);
        ~DepthGuard() { --m_t.m_depth; }
        JSONTokener &m_t;
    };

    QString m_source;
    int m_pos = 1; // 1-based; may pass the end by the characters read there
    int m_depth = 0;
};

// ---- containers ---------------------------------------------------------

class TJSONObject : public TZAbstractObject
{
public:
    TJSONObject() = default;
    // Parses one object; raises ParseException on a syntax error.
    explicit TJSONObject(const QString &Text);
    explicit TJSONObject(JSONTokener &x);

    int Count() const { return int(m_entries.size()); }
    // Appends an entry (an existing name is not replaced: the first one is found).
    void Put(const QString &Name, JSONValue Value);

    TZAbstractObject *Find(const QString &Name) const;
    TZAbstractObject *Get(const QString &Name) const;
    bool Has(const QString &Name) const;
    bool IsNull(const QString &Name) const;
    bool GetBoolean(const QString &Name) const;
    double GetDouble(const QString &Name) const;
    int GetInt(const QString &Name) const;
    QString GetString(const QString &Name) const;
    TJSONObject *GetObject(const QString &Name) const;
    TJSONArray *GetArray(const QString &Name) const;
    QStringList Keys() const;

    JSONValue Clone() const override;
    QString ToString() const override;
    const char *ClassName() const override { return "TJSONObject"; }

    // Writer functions.
    static QString QuoteString(const QString &Text);
    static QString NumberToString(const _Number *Value);
    static QString ValueToString(const TZAbstractObject *Value);

private:
    void parse(JSONTokener &x);
    std::vector<std::pair<QString, JSONValue>> m_entries;
};

class TJSONArray : public TZAbstractObject
{
public:
    TJSONArray() = default;
    explicit TJSONArray(const QString &Text);
    explicit TJSONArray(JSONTokener &x);

    int Count() const { return int(m_items.size()); }
    // Appends an element; nil is allowed (an empty position).
    void Put(JSONValue Value);

    TZAbstractObject *Find(int Index) const;
    TZAbstractObject *Get(int Index) const;
    TJSONObject *GetObject(int Index) const;
    QString Join(const QString &Separator) const;

    QString ToString() const override;
    const char *ClassName() const override { return "TJSONArray"; }

private:
    void parse(JSONTokener &x);
    std::vector<JSONValue> m_items;
};

// Decimal text to number with "." as separator (surrounding blanks allowed);
// false for anything else, including hexadecimal, infinities and overflow.
bool JSONTextToDouble(const QString &Text, double &Value);
// General format with up to 15 significant digits, "." as separator.
QString JSONFormatDouble(double Value);
