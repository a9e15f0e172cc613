#pragma once

// The shared loopback server under the name these tests use.

#include "support/LoopbackServer.h"

using LoopbackServer = testsupport::LoopbackServer;
