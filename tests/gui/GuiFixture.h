#pragma once

// Shared by the window tests: a program folder of their own (settings.ini, dbs.xml beside a
// pretended executable), a simulator with a request log, and a test main that runs the real
// application object so that errors leaving event handlers are reported as in the program.
#include "DBWorkU.h"
#include "DbSetupApplication.h"
#include "OdbcClient.h"
#include "ScriptedOperatorUi.h"
#include "SqlsimProcess.h"
#include "TestFiles.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

class ProgramFolder
{
public:
    ProgramFolder() { QVERIFY(m_dir.isValid()); }
    // With a trailing separator, as the program's own folder is given.
    QString path() const { return m_dir.path() + u'/'; }
    QString file(const QString& name) const { return path() + name; }
    void write(const QString& name, const QString& text) const
    {
        QVERIFY(writeFile(file(name), text.toUtf8()));
    }

private:
    QTemporaryDir m_dir;
};

// A simulator that logs every request, so a test can count logins and statements.
class LoggedSqlsim
{
public:
    bool start(const QStringList& extraArgs = {})
    {
        if (!m_logDir.isValid())
            return false;
        return m_sim.start(QStringList{QStringLiteral("--log"), logPath()} + extraArgs);
    }
    SqlsimProcess& process() { return m_sim; }
    quint16 port() const { return m_sim.port(); }
    QString password() const { return m_sim.password(); }
    QString logPath() const { return m_logDir.filePath(QStringLiteral("requests.log")); }
    QStringList log() const
    {
        QFile file(logPath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    qsizetype count(const QString& prefix) const
    {
        const QStringList entries = log();
        return std::count_if(entries.begin(), entries.end(),
                             [&](const QString& e) { return e.startsWith(prefix); });
    }
    // The settings that point the program at this simulator as its login.
    QString settings(const QString& more = {}) const
    {
        return QStringLiteral("[db]\nserver=127.0.0.1,%1\nuser_name=%2\npassword=%3\n")
                   .arg(port())
                   .arg(SqlsimProcess::programLogin(), password()) +
               more;
    }
    // Runs setup statements as "sa" on a connection of the test's own.
    bool exec(const QString& sql) { return m_sim.exec(sql); }

private:
    QTemporaryDir m_logDir;
    SqlsimProcess m_sim;
};

// The demo's program folder for this simulator, written by "scripts/demo --prepare": the same
// settings.ini (identity probe on), dbs.xml and sample databases the demo opens.
inline void prepareDemo(LoggedSqlsim& sim, const ProgramFolder& folder)
{
    QProcess prepare;
    prepare.start(QStringLiteral("bash"),
                  {QStringLiteral(DBSETUP_SOURCE_DIR "/scripts/demo"), QStringLiteral("--prepare"),
                   folder.path(), QString::number(sim.port()), sim.password()});
    QVERIFY(prepare.waitForFinished(120000));
    QVERIFY2(prepare.exitStatus() == QProcess::NormalExit && prepare.exitCode() == 0,
             prepare.readAllStandardError().constData());
    QVERIFY(QFile::exists(folder.file(QStringLiteral("settings.ini"))));
    QVERIFY(QFile::exists(folder.file(QStringLiteral("dbs.xml"))));
}

// The names column of the window's database list, row by row.
inline QStringList listedNames(const QObject& form)
{
    QStringList out;
    const auto* list = form.findChild<QTableWidget*>(QStringLiteral("ListDB"));
    for (int row = 0; list != nullptr && row < list->rowCount(); ++row)
        out << list->item(row, 0)->text();
    return out;
}

// A control of the window by its object name; a test cannot go on without it.
template <typename T> T* control(const QObject& form, const QString& name)
{
    auto* found = form.findChild<T*>(name);
    if (found == nullptr)
        qFatal("no control %s", qPrintable(name));
    return found;
}

inline void clickControl(const QObject& form, const QString& button)
{
    QTest::mouseClick(control<QAbstractButton>(form, button), Qt::LeftButton);
}

// Makes the named row of the attach tab's list current, as the operator's click does.
inline bool selectListedRow(const QObject& form, const QString& name)
{
    const int row = static_cast<int>(listedNames(form).indexOf(name));
    if (row < 0)
        return false;
    form.findChild<QTableWidget*>(QStringLiteral("ListDB"))->setCurrentCell(row, 0);
    return true;
}

// The texts of the messages and questions the operator was shown, in order.
inline QStringList shownTexts(const ScriptedOperatorUi& ui)
{
    QStringList out;
    for (const ScriptedOperatorUi::Shown& shown : ui.shown)
        out << shown.text;
    return out;
}

inline DbSetupApplication* dbsetupApp()
{
    return static_cast<DbSetupApplication*>(QCoreApplication::instance());
}

// The main window of a test, shown and active, its handlers' errors reported to ui; settings.ini
// is written into the folder first unless settings is null (the folder has its own), and the tab
// of that index is made current when one is given.
inline std::unique_ptr<TFormDB> openForm(ProgramFolder& folder, ScriptedOperatorUi& ui,
                                         const QString& settings, int tab = -1)
{
    if (!settings.isNull())
        folder.write(QStringLiteral("settings.ini"), settings);
    dbsetupApp()->setErrorReporter(&ui);
    auto form = std::make_unique<TFormDB>(ui, folder.path());
    form->show();
    QApplication::setActiveWindow(form.get());
    if (!QTest::qWaitForWindowActive(form.get()))
        return nullptr;
    if (tab >= 0)
        form->findChild<QTabWidget*>(QStringLiteral("Page"))->setCurrentIndex(tab);
    return form;
}

// Types a statement into the console and presses one of its buttons.
inline void runConsole(TFormDB& form, const QString& sql, const QString& button)
{
    form.findChild<QPlainTextEdit*>(QStringLiteral("SQLText"))->setPlainText(sql);
    QTest::mouseClick(form.findChild<QPushButton*>(button), Qt::LeftButton);
}

// The window keeps the operator's state (state.ini) in the user's configuration folder: a test's
// own, never the real user's, and none left from an earlier run.
#define DBSETUP_GUI_TEST_MAIN(TestObject)                                                          \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                                        \
            qputenv("QT_QPA_PLATFORM", "offscreen");                                               \
        QTemporaryDir configHome;                                                                  \
        qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());                                    \
        DbSetupApplication app(argc, argv);                                                        \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
