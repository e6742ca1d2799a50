#include "DBWorkU.h"
#include "ScriptedOperatorUi.h"

#include <QTabWidget>
#include <QTest>

using namespace Qt::StringLiterals;

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void frame()
    {
        ScriptedOperatorUi ui;
        TFormDB form(ui);
        QCOMPARE(form.windowTitle(),
                 u"Настройка базы данных. Версия: "_s + QStringLiteral(DBSETUP_VERSION));
        QCOMPARE(form.size(), QSize(643, 508));
        QCOMPARE(form.minimumSize(), form.maximumSize()); // the operator cannot resize it
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));

        const auto* page = form.findChild<QTabWidget*>(u"Page"_s);
        QVERIFY(page != nullptr);
        QCOMPARE(page->count(), 3);
        QCOMPARE(page->tabText(0), u"Подключить/отключить базу"_s);
        QCOMPARE(page->tabText(1), u"Восстановить базу"_s);
        QCOMPARE(page->tabText(2), u"SQL запрос"_s);
        QCOMPARE(page->currentWidget()->objectName(), u"TabAttachDB"_s);
        QVERIFY(ui.shown.isEmpty());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
