#include "MyException.h"
#include "OperatorUi.h"
#include "ScriptedOperatorUi.h"

#include <QTest>
#include <stdexcept>

using namespace Qt::StringLiterals;

class TestErrors : public QObject
{
    Q_OBJECT

private slots:
    void composition_data()
    {
        QTest::addColumn<QString>("classMethod");
        QTest::addColumn<QString>("msg");
        QTest::addColumn<bool>("hasCause");
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("expected");

        const QString c300 = QString(150, u'a') + QString(150, u'b');
        const QString c301 = QString(150, u'a') + u'M' + QString(150, u'b');
        const QString c1000 = QString(150, u'x') + QString(700, u'm') + QString(150, u'y');

        QTest::newRow("message alone")
            << QString() << u"Не удалось подключиться к базе данных."_s << false << QString()
            << u"Не удалось подключиться к базе данных."_s;
        QTest::newRow("calling place") << u"LoadXML"_s << u"XML=nil"_s << false << QString()
                                       << u"XML=nil\r\n(Ошибка вызвана в LoadXML)"_s;
        QTest::newRow("cause of 300 whole")
            << QString() << u"Не удалось восстановить базу."_s << true << c300
            << u"Не удалось восстановить базу.\r\n\r\n"_s + c300;
        QTest::newRow("cause of 301 cut in the middle")
            << QString() << u"m"_s << true << c301
            << u"m\r\n\r\n"_s + QString(150, u'a') + u"..."_s + QString(150, u'b');
        QTest::newRow("long cause keeps both ends")
            << QString() << u"m"_s << true << c1000
            << u"m\r\n\r\n"_s + QString(150, u'x') + u"..."_s + QString(150, u'y');
        QTest::newRow("empty cause still adds the breaks")
            << QString() << u"m"_s << true << QString() << u"m\r\n\r\n"_s;
        QTest::newRow("place and cause") << u"P"_s << u"m"_s << true << u"cause"_s
                                         << u"m\r\n(Ошибка вызвана в P)\r\n\r\ncause"_s;
        QTest::newRow("nothing") << QString() << QString() << false << QString() << QString();
    }

    void composition()
    {
        QFETCH(QString, classMethod);
        QFETCH(QString, msg);
        QFETCH(bool, hasCause);
        QFETCH(QString, cause);
        QFETCH(QString, expected);
        const Error causeError(cause);
        const MyException error(classMethod, msg, hasCause ? &causeError : nullptr);
        QCOMPARE(error.message(), expected);
        QCOMPARE(QString::fromUtf8(error.what()), expected);
    }

    void causeFromStandardError()
    {
        // Errors that are not ours carry UTF-8 in what().
        const std::runtime_error cause(u"Сервер недоступен"_s.toStdString());
        const MyException error(QString(), u"m"_s, &cause);
        QCOMPARE(error.message(), u"m\r\n\r\nСервер недоступен"_s);
    }

    void reportText_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("full stop") << u"Не удалось."_s << u"Не удалось."_s;
        QTest::newRow("cyrillic letter") << u"Файл не найден"_s << u"Файл не найден."_s;
        QTest::newRow("latin letter") << u"error"_s << u"error."_s;
        QTest::newRow("digit") << u"code 5"_s << u"code 5."_s;
        QTest::newRow("colon") << u"a:"_s << u"a:."_s;
        QTest::newRow("question") << u"a?"_s << u"a?."_s;
        QTest::newRow("closing parenthesis") << u"(LoadXML)"_s << u"(LoadXML)"_s;
        QTest::newRow("exclamation") << u"a!"_s << u"a!"_s;
        QTest::newRow("quote") << u"\"a\""_s << u"\"a\""_s;
        QTest::newRow("space") << u"a "_s << u"a "_s;
        QTest::newRow("line break") << u"a\r\n"_s << u"a\r\n"_s;
        QTest::newRow("empty") << QString() << QString();
    }

    void reportText()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(errorReportText(message), shown);
    }

    void reportBox()
    {
        ScriptedOperatorUi ui;
        ShowErrorReport(ui, MyException(u"LoadXML"_s, u"XML=nil"_s));
        ShowErrorReport(ui, MyException(u"Файл по пути \"x\" не найден"_s));
        QCOMPARE(ui.shown.size(), 2);
        QCOMPARE(ui.shown[0].icon, OperatorUi::Icon::Error);
        QCOMPARE(ui.shown[0].caption, u"Настройка базы данных"_s);
        QCOMPARE(ui.shown[0].text, u"XML=nil\r\n(Ошибка вызвана в LoadXML)"_s);
        QCOMPARE(ui.shown[1].text, u"Файл по пути \"x\" не найден."_s);
    }
};

QTEST_GUILESS_MAIN(TestErrors)
#include "tst_errors.moc"
