#pragma once

#include <QString>
#include <functional>

// One running instance per user. The first start holds the instance lock; a
// later start hands its popup code to it and ends.

inline constexpr char kInstanceName[] = "Halvex_Orvane_byKolt_@Brimwell";

// The instance name in use. A non-empty ORVANE_INSTANCE_TAG in the
// environment is appended, so test runs never meet a real instance.
QString InstanceName();

enum class InstanceRole {
    First, // this process runs (it holds the lock, or no lock could be made)
    HandedOver // another instance runs and was handed the code: end with exit code 0
};

// Takes the lock, or hands popupCode to the instance that holds it.
InstanceRole CheckSingleInstance(int popupCode);
// Called on this thread's event loop with each code a later start hands over.
void SetInstanceMessageHandler(std::function<void(int code)> handler);
// Gives the lock up (at the end of the program).
void ReleaseSingleInstance();
