#pragma once
// The filter language: an expression over field names that keeps or drops records.

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

namespace dictdb {

struct FilterNode;

class TDictFilterExpr
{
public:
    // Field names are resolved through fieldIndex (-1: unknown field).
    TDictFilterExpr(const QString &text, const std::function<int(const QString &)> &fieldIndex);
    ~TDictFilterExpr();
    TDictFilterExpr(TDictFilterExpr &&) noexcept;
    TDictFilterExpr &operator=(TDictFilterExpr &&) noexcept;

    // True when the record whose field values fieldValue hands out passes.
    bool Matches(const std::function<QVariant(int field)> &fieldValue) const;

private:
    std::unique_ptr<FilterNode> m_root;
};

} // namespace dictdb
