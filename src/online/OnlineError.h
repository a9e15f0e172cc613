#pragma once

#include "platform/MessageError.h"

// Base of every error raised by the online services (JSON values,
// web API answers). Callers catch this one type and treat the answer as failed.
class EOnlineError : public EMessageError
{
    using EMessageError::EMessageError;
};
