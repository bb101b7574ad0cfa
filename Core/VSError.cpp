#include "VSError.h"

VSError::VSError(QString message)
    : message(std::move(message))
    , utf8(this->message.toUtf8())
{}

const char *VSError::what() const noexcept
{
    return utf8.constData();
}
