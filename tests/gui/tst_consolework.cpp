// The console keeps the operator's work (the demo's configuration, bin/sqlsim): the export asks
// before it replaces a file.
#include "DBWorkU.h"
#include "GuiFixture.h"
#include "TextDecoding.h"

#include <QClipboard>
#include <QComboBox>

using namespace Qt::StringLiterals;

class TestConsoleWork : public QObject
{
    Q_OBJECT

    LoggedSqlsim m_sim;
    ProgramFolder m_folder;

    std::unique_ptr<TFormDB> openConsole(ScriptedOperatorUi& ui, const QString& sql)
    {
        auto form = openForm(m_folder, ui, QString(), 2);
        auto* chooser = control<QComboBox>(*form, u"DBNameSQL"_s);
        chooser->setCurrentIndex(chooser->findText(u"ostrel_ts"_s));
        runConsole(*form, sql, u"BOpenSQL"_s);
        return form;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_sim.start(), m_sim.process().stderrText().constData());
        prepareDemo(m_sim, m_folder);
    }

    void exportToFile_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("typed"); // the name given in the dialog
        QTest::addColumn<bool>("exists");   // export.xls is there before
        QTest::addColumn<bool>("replace");  // the answer when asked
        QTest::addColumn<int>("lost");      // characters Windows-1251 lacks ("€" it has)
        const QString foreign = u"select N'Müller' as a, N'北京, €' as b"_s;
        QTest::newRow("new file") << clientsSql() << u"export.xls"_s << false << false << 0;
        QTest::newRow("kept") << clientsSql() << u"export.xls"_s << true << false << 0;
        QTest::newRow("replaced") << clientsSql() << u"export.xls"_s << true << true << 0;
        QTest::newRow("typed without extension")
            << clientsSql() << u"export"_s << true << false << 0;
        QTest::newRow("characters lost") << foreign << u"export.xls"_s << false << false << 3;
    }
    void exportToFile()
    {
        QFETCH(QString, sql);
        QFETCH(QString, typed);
        QFETCH(bool, exists);
        QFETCH(bool, replace);
        QFETCH(int, lost);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"export.xls"_s);
        if (exists)
            QVERIFY(writeFile(file, "old bytes"));
        ScriptedOperatorUi ui;
        auto form = openConsole(ui, sql);
        clickControl(*form, u"BCopyBuffer"_s);
        ui.fileAnswers = {dir.filePath(typed)};
        ui.answers = {replace};
        clickControl(*form, u"BSaveExcel"_s);
        QStringList told;
        if (exists)
            told << u"Файл \"%1\" уже существует. Заменить его?"_s.arg(file);
        if (lost > 0)
            told << u"Файл \"%1\" записан. В кодировке Windows-1251 нет части символов "
                    u"результата: они заменены знаком \"?\" (символов: %2)."_s.arg(file)
                        .arg(lost);
        QCOMPARE(shownTexts(ui), told);
        QCOMPARE(readFile(file), exists && !replace ? QByteArray("old bytes")
                                                    : platform::encodeWindows1251(
                                                          QGuiApplication::clipboard()->text()));
    }

private:
    static QString clientsSql() { return u"select id, name, city from clients order by id"_s; }
};

DBSETUP_GUI_TEST_MAIN(TestConsoleWork)
#include "tst_consolework.moc"
