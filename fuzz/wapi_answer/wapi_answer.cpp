// A web API answer body through decoding, the success test and the
// recommendations reading. The first byte picks the declared charset.
#include "online/OnlineError.h"
#include "online/SoftwareTop3.h"
#include "online/WebAPIClient.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray contentType
        = (data[0] & 1) ? QByteArray("text/html; charset=UTF-8") : QByteArray("text/html");
    const QByteArray body(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const QString answer = THttpClient::DecodeBody(body, contentType);
    if (!TWebAPIClient::IsSuccessAnswer(answer))
        return 0;
    TSoftwareTop3 top3;
    try {
        ReadSoftwareTop3(answer, top3);
    } catch (const EOnlineError &) {
        return 0;
    }
    if (top3.PayItems.size() > 3 || top3.FreeItems.size() > 3 || top3.PayCount < 0 || top3.FreeCount < 0
        || top3.PayCount > top3.PayItems.size() || top3.FreeCount > top3.FreeItems.size())
        std::abort();
    return 0;
}
