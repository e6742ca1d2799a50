#include "Thrown.h"

QByteArray Thrown::describe() const
{
    if (!thrown)
        return QByteArrayLiteral("nothing thrown");
    return "server error " + QByteArray::number(serverError) + ": " + message.toUtf8();
}
