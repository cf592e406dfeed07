// Checked calls into the device link library: a false result becomes an
// EHardwareException whose message is a copy of the library's error text,
// taken at the moment of the failure.
#pragma once

#include <cstdint>

#include "exception.h"

class EHardwareException : public Exception {
public:
    explicit EHardwareException(const QString &message) : Exception(message, 0) {}
};

// Each passes its arguments to the export unchanged. A failed get leaves the
// caller's variables as they were: the outputs are read into locals and
// assigned only on success, so a value that was never read cannot reach the
// device later through a reload or a file.
void CheckedSetMode(std::int32_t mode);
void CheckedGetMode(std::int32_t *mode);
void CheckedSetPar(std::int32_t group, std::int32_t number, std::int32_t value);
void CheckedGetPar(std::int32_t group, std::int32_t number, std::int32_t *value);
void CheckedGetSelPar(std::int32_t *group, std::int32_t *number, std::int32_t *value);
// The device's identity text: the info answer up to its first zero byte.
QString CheckedGetInfo();

// Throws EHardwareException with a copy of the library's last-error text.
[[noreturn]] void RaiseHardwareError();
