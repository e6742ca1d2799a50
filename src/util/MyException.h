#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <utility>

// Base of every error the program raises itself. Carries the operator's text as a QString; what()
// gives the same text in UTF-8 for code that only knows std::exception.
class Error : public std::exception
{
public:
    // serverError: the number of the server's error this one is or comes from; 0 for none.
    explicit Error(QString message, int serverError = 0);
    const char* what() const noexcept override;
    const QString& message() const noexcept { return m_message; }
    int serverError() const noexcept { return m_serverError; }

private:
    QString m_message;
    QByteArray m_utf8;
    int m_serverError = 0;
};

// The program's error with a composed operator message: the main text, then the calling place,
// then the text of the error that caused it (cut in the middle when long), then a note on that
// error. The composition happens once, here; afterwards the message is plain text, and of the
// cause only its server error number is kept.
class MyException : public Error
{
public:
    MyException(const QString& ClassMethod, const QString& Msg,
                const std::exception* MsgExcept = nullptr, const QString& afterCause = {});
    explicit MyException(const QString& Msg) : MyException(QString(), Msg) {}

    static QString compose(const QString& ClassMethod, const QString& Msg,
                           const QString* causeMessage, const QString& afterCause = {});
};

// An error the operator has been shown already: it still ends the operation, but the default
// report does not show it a second time.
class ShownError : public MyException
{
public:
    explicit ShownError(const QString& Msg) : MyException(Msg) {}
};

// The text of any error as the operator should read it.
QString errorMessage(const std::exception& error);
// The number of the server's error behind any error; 0 for none.
int serverErrorOf(const std::exception& error);

// The operator chose not to go on (answered a question with "go back"). What was under way ends
// without an error report: the operator already knows.
class CancelledByOperator : public Error
{
public:
    CancelledByOperator();
};

// The operator stopped a running statement: what it says is shown as information, not as a
// failure, and the rest of the handler is skipped.
class StoppedByOperator : public Error
{
public:
    explicit StoppedByOperator(QString message) : Error(std::move(message)) {}
};
