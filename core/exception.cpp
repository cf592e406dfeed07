#include "exception.h"

#include <utility>

Exception::Exception(QString message, int helpContext)
    : message_(std::move(message)), utf8_(message_.toUtf8()), helpContext_(helpContext)
{}
