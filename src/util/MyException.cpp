#include "MyException.h"

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype causeLimit = 300;
constexpr qsizetype causeHalf = 150;

} // namespace

Error::Error(QString message, int serverError)
    : m_message(std::move(message)), m_utf8(m_message.toUtf8()), m_serverError(serverError)
{}

const char* Error::what() const noexcept
{
    return m_utf8.constData();
}

MyException::MyException(const QString& ClassMethod, const QString& Msg,
                         const std::exception* MsgExcept, const QString& afterCause)
    : Error(
          [&] {
              if (MsgExcept == nullptr)
                  return compose(ClassMethod, Msg, nullptr, afterCause);
              const QString cause = errorMessage(*MsgExcept);
              return compose(ClassMethod, Msg, &cause, afterCause);
          }(),
          MsgExcept != nullptr ? serverErrorOf(*MsgExcept) : 0)
{}

QString MyException::compose(const QString& ClassMethod, const QString& Msg,
                             const QString* causeMessage, const QString& afterCause)
{
    QString text = Msg;
    if (!ClassMethod.isEmpty())
        text += u"\r\n(Ошибка вызвана в "_s + ClassMethod + u')';
    if (causeMessage != nullptr) {
        const QString& cause = *causeMessage;
        text += u"\r\n\r\n"_s;
        if (cause.size() <= causeLimit)
            text += cause;
        else
            text += cause.left(causeHalf) + u"..."_s + cause.right(causeHalf);
    }
    if (!afterCause.isEmpty())
        text += u"\r\n"_s + afterCause;
    return text;
}

CancelledByOperator::CancelledByOperator() : Error(u"Отменено оператором."_s) {}

QString errorMessage(const std::exception& error)
{
    if (const auto* own = dynamic_cast<const Error*>(&error))
        return own->message();
    return QString::fromUtf8(error.what());
}

int serverErrorOf(const std::exception& error)
{
    const auto* own = dynamic_cast<const Error*>(&error);
    return own != nullptr ? own->serverError() : 0;
}
