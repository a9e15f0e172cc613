#pragma once

// Small text helpers every layer shares.

#include <QChar>

namespace textutil {

// The value of a hexadecimal digit (either case), -1 for anything else.
constexpr int hexDigit(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return int(c - U'0');
    if (c >= U'a' && c <= U'f')
        return int(c - U'a') + 10;
    if (c >= U'A' && c <= U'F')
        return int(c - U'A') + 10;
    return -1;
}

constexpr int hexDigit(char c)
{
    return hexDigit(char32_t(static_cast<unsigned char>(c)));
}

constexpr int hexDigit(QChar c)
{
    return hexDigit(char32_t(c.unicode()));
}

} // namespace textutil
