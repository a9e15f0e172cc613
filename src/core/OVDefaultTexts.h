#pragma once

#include <QString>
#include <span>

class TBrimMultiLangs;

// The vendor web host the built-in texts point at: the reference site on
// loopback, so a fresh start never reaches an outside address.
inline constexpr char16_t OVDefaultVendorHost[] = u"http://127.0.0.1:8770";

struct OVDefaultText
{
    const char16_t *key;
    const char16_t *text; // escapes not yet decoded
};

// Every built-in text in registration order.
std::span<const OVDefaultText> OVDefaultTexts();

// Registers the built-in English defaults: the three caption fonts, the seven
// font keys and every text. Fits TBrimMultiLangs::OnMakeDefault.
void MultiLangsMakeDefault(TBrimMultiLangs *Sender);
