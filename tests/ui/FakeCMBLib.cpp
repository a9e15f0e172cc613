// Stand-in for the optional message-box library: answers IDYES (6) only to
// the exact call the test makes, so the test sees every argument arrived.
#include <cstdint>
#include <string_view>

extern "C" __attribute__((visibility("default"))) int MessageBox(std::uintptr_t owner, const char16_t *text,
                                                                 const char16_t *caption, std::uint32_t type,
                                                                 std::uint16_t languageId,
                                                                 std::uint32_t reserved)
{
    (void)owner;
    const bool expected = std::u16string_view(text) == u"Upgrade now?"
        && std::u16string_view(caption) == u"Upgrade" && type == 0x44 && languageId == 2052 && reserved == 0;
    return expected ? 6 : 99;
}
