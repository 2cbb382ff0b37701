// Process-manager and system queries: the front process, the clock, the system's version.
#include "platform/SystemServices.h"

#include <cerrno>
#include <ctime>

namespace {

constexpr OSErr kNoErr = 0;
constexpr OSErr kParamErr = -50;

std::uint64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

} // namespace

OSErr Gestalt(OSType selector, SInt32* response) {
    if (response == nullptr)
        return kParamErr;
    if (selector != gestaltSystemVersion)
        return gestaltUndefSelectorErr;
    *response = kOrvikReportedSystemVersion;
    return kNoErr;
}

UInt32 TickCount() {
    // Ticks wrap after about 2.27 years of uptime, as on the original platform.
    return static_cast<UInt32>(MonotonicNanoseconds() * 60u / 1000000000u);
}

void Delay(unsigned long numTicks, unsigned long* finalTicks) {
    timespec request{static_cast<time_t>(numTicks / 60u),
                     static_cast<long>((numTicks % 60u) * 1000000000u / 60u)};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
        request = remaining;
    if (finalTicks != nullptr)
        *finalTicks = TickCount();
}

OSErr GetCurrentProcess(ProcessSerialNumber* psn) {
    if (psn == nullptr)
        return kParamErr;
    psn->highLongOfPSN = 0;
    psn->lowLongOfPSN = kCurrentProcess;
    return kNoErr;
}

OSErr SetFrontProcess(const ProcessSerialNumber* psn) {
    return psn == nullptr ? kParamErr : kNoErr;
}
