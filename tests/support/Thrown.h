#pragma once

#include "MyException.h"

#include <QByteArray>
#include <QString>
#include <QTest>
#include <functional>

// What an action threw, as the program reports errors: the operator's text and the number of
// the server's error behind it, so that a check never leans on the server's English wording.
struct Thrown
{
    bool thrown = false;
    QString message;
    int serverError = 0;
    // What came, for a failed check: "nothing thrown" or the number and text.
    QByteArray describe() const;
};

// Runs the action; an exception of type E is caught and described, any other passes on and
// fails the test as uncaught.
template <typename E = std::exception> Thrown thrownBy(const std::function<void()>& action)
{
    try {
        action();
    } catch (const E& error) {
        return {true, errorMessage(error), serverErrorOf(error)};
    }
    return {};
}

// Fails the test function unless the statements throw E; `error` (a Thrown) holds what came.
#define EXPECT_THROWN(error, E, ...)                                                               \
    const Thrown error = thrownBy<E>([&] { __VA_ARGS__; });                                        \
    QVERIFY2(error.thrown, "nothing thrown by: " #__VA_ARGS__)

// Fails the test function unless the statements throw an error from the server's error
// `number`; `error` holds what came (its text is the program's own words to check).
#define EXPECT_SERVER_ERROR(error, number, ...)                                                    \
    const Thrown error = thrownBy([&] { __VA_ARGS__; });                                           \
    QVERIFY2(                                                                                      \
        error.serverError == (number),                                                             \
        QByteArray("server error " #number " expected, came: " + error.describe()).constData())
