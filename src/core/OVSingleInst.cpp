#include "core/OVSingleInst.h"

#include "platform/SingleInstance.h"

#include <memory>

namespace {
std::unique_ptr<platform::SingleInstanceLock> instanceLock;
} // namespace

QString InstanceName()
{
    const QString tag = qEnvironmentVariable("ORVANE_INSTANCE_TAG");
    return QString::fromLatin1(kInstanceName) + tag;
}

InstanceRole CheckSingleInstance(int popupCode)
{
    if (!instanceLock)
        instanceLock = std::make_unique<platform::SingleInstanceLock>(InstanceName());
    // Two rounds: the holder may end between our failed bind and our hand-over.
    for (int round = 0; round < 2; ++round) {
        switch (instanceLock->acquire()) {
        case platform::SingleInstanceLock::State::Acquired:
        case platform::SingleInstanceLock::State::Unavailable:
            return InstanceRole::First;
        case platform::SingleInstanceLock::State::HeldElsewhere:
            if (platform::SingleInstanceLock::sendCode(InstanceName(), popupCode))
                return InstanceRole::HandedOver;
            break;
        }
    }
    // Someone holds the name but takes no codes: end as a second start does.
    return InstanceRole::HandedOver;
}

void SetInstanceMessageHandler(std::function<void(int)> handler)
{
    if (instanceLock)
        instanceLock->setMessageHandler(std::move(handler));
}

void ReleaseSingleInstance()
{
    instanceLock.reset();
}
