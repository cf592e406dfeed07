#include "commands.h"

#include <cstring>

#include "px418usb.h"

void RaiseHardwareError()
{
    const char *text = nullptr;
    PX418_GetLastError(&text);
    // Copy at once: the library rewrites its text with the next call.
    throw EHardwareException(QString::fromLocal8Bit(text ? text : ""));
}

void CheckedSetMode(std::int32_t mode)
{
    if (!PX418_SetMode(mode)) {
        RaiseHardwareError();
    }
}

void CheckedGetMode(std::int32_t *mode)
{
    std::int32_t read = 0;
    if (!PX418_GetMode(&read)) {
        RaiseHardwareError();
    }
    *mode = read;
}

void CheckedSetPar(std::int32_t group, std::int32_t number, std::int32_t value)
{
    if (!PX418_SetPar(group, number, value)) {
        RaiseHardwareError();
    }
}

void CheckedGetPar(std::int32_t group, std::int32_t number, std::int32_t *value)
{
    std::int32_t read = 0;
    if (!PX418_GetPar(group, number, &read)) {
        RaiseHardwareError();
    }
    *value = read;
}

void CheckedGetSelPar(std::int32_t *group, std::int32_t *number, std::int32_t *value)
{
    std::int32_t g = 0;
    std::int32_t n = 0;
    std::int32_t v = 0;
    if (!PX418_GetSelPar(&g, &n, &v)) {
        RaiseHardwareError();
    }
    *group = g;
    *number = n;
    *value = v;
}

QString CheckedGetInfo()
{
    const unsigned char *answer = nullptr;
    if (!PX418_GetInfo(&answer)) {
        RaiseHardwareError();
    }
    if (!answer) {
        return {};
    }
    const char *text = reinterpret_cast<const char *>(answer);
    // The identity ends at the first zero byte, within the answer area.
    const void *end = std::memchr(text, 0, PX418_ANSWER_SIZE);
    const qsizetype length =
        end ? static_cast<const char *>(end) - text : qsizetype(PX418_ANSWER_SIZE);
    return QString::fromLatin1(text, length);
}
