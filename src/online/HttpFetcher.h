#pragma once

#include "core/UrlFetcher.h"

#include <memory>

namespace online {

// The program's fetcher for layers below this one: GET through the common
// HTTP set-up with its defaults.
std::shared_ptr<core::IUrlFetcher> makeHttpFetcher();

// Installs that fetcher; call once at start-up, on the main thread.
void installHttpFetcher();

} // namespace online
