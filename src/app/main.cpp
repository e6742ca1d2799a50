#include "BatchCommand.h"
#include "CommandLine.h"
#include "Connection.h"
#include "DBWorkU.h"
#include "DbSetupApplication.h"
#include "DisplayProbe.h"
#include "FStatus.h"
#include "FileHelpers.h"
#include "FormPlacement.h"
#include "InterruptWatch.h"
#include "ProgramVersion.h"
#include "QtOperatorUi.h"
#include "Session.h"
#include "SettingsFolder.h"
#include "StandardStreams.h"
#include "StderrOperatorUi.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <optional>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Hooks for scripts that review or time the window without an operator:
// DBSETUP_SCREENSHOT=file.png saves a picture of the shown window (of tab DBSETUP_SCREENSHOT_TAB
// when set, at the size DBSETUP_SCREENSHOT_SIZE ("1000x700") when set, after running the console
// query DBSETUP_SCREENSHOT_SQL when set) and ends the program; DBSETUP_QUIT_WHEN_SHOWN=1 ends it
// once the window is up. Both end the program without closing the window, which would keep its
// size and place for the operator's next start.
void scheduleReviewHooks(QWidget& window)
{
    if (qEnvironmentVariableIntValue("DBSETUP_QUIT_WHEN_SHOWN") == 1) {
        QTimer::singleShot(0, &window, [] { QCoreApplication::exit(0); });
        return;
    }
    const QString path = qEnvironmentVariable("DBSETUP_SCREENSHOT");
    if (path.isEmpty())
        return;
    bool hasTab = false;
    const int tab = qEnvironmentVariableIntValue("DBSETUP_SCREENSHOT_TAB", &hasTab);
    if (auto* page = window.findChild<QTabWidget*>(u"Page"_s); page != nullptr && hasTab)
        page->setCurrentIndex(tab);
    if (const QStringList size = qEnvironmentVariable("DBSETUP_SCREENSHOT_SIZE").split(u'x');
        size.size() == 2)
        window.resize(size[0].toInt(), size[1].toInt());
    if (const QString sql = qEnvironmentVariable("DBSETUP_SCREENSHOT_SQL"); !sql.isEmpty()) {
        QTimer::singleShot(100, &window, [&window, sql] {
            if (auto* text = window.findChild<QPlainTextEdit*>(u"SQLText"_s))
                text->setPlainText(sql);
            if (auto* run = window.findChild<QPushButton*>(u"BOpenSQL"_s))
                run->click();
        });
    }
    QTimer::singleShot(500, &window, [&window, path] {
        window.grab().save(path);
        QCoreApplication::exit(0);
    });
}

// The arguments before Qt has seen them: whether there will be a window decides how Qt starts.
QStringList rawArguments(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// --help and --version need neither a display nor a server.
std::optional<int> answerInfoRequest(int argc, char* argv[], const QStringList& arguments,
                                     const QString& configOption)
{
    switch (infoRequestOf(arguments)) {
    case InfoRequest::Help: {
        // Which settings folder a run would use depends on where the program lies.
        const QCoreApplication core(argc, argv);
        platform::writeStandardOutput(
            usageText() + u'\n' +
            platform::settingsFolderText(platform::chooseSettingsFolder(configOption)) + u'\n');
        return 0;
    }
    case InfoRequest::Version: {
        // The version resource is read from the program's own file, which Qt locates.
        const QCoreApplication core(argc, argv);
        const QString version = ProgramVersionText();
        platform::writeStandardOutput(
            u"dbsetup "_s + (version.isEmpty() ? QStringLiteral(DBSETUP_VERSION) : version) +
            u'\n');
        return 0;
    }
    case InfoRequest::None:
        break;
    }
    return std::nullopt;
}

// An error that ended a batch run: a stop box titled "Application Error", or one stderr line
// without a display; the exit code says the rest.
void reportUnhandled(const std::exception& error, bool unattended)
{
    const QString module = QCoreApplication::applicationFilePath().section(u'/', -1);
    if (unattended) {
        for (const QString& line : unattendedErrorLines(error, module))
            printStderrLine(line);
        return;
    }
    QMessageBox box(QMessageBox::Critical, u"Application Error"_s,
                    applicationErrorText(error, module), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

// Other local users read a process's command line (ps, /proc): a connection string's password
// must not stay there for the whole run. The value is overwritten where the system keeps it, once
// it has been read.
void hideConnectionStrings(const std::vector<char*>& argv)
{
    static constexpr char option[] = "/connection_string:";
    for (char* argument : argv) {
        if (argument == nullptr || qstrnicmp(argument, option, sizeof option - 1) != 0)
            continue;
        for (char* c = argument + sizeof option - 1; *c != '\0'; ++c)
            *c = '*';
    }
}

// The settings folder of this run, made ready; false (said on stderr) when the one the operator
// named does not exist. A user folder that cannot be made leaves the defaults, as a missing
// settings.ini always has.
bool useSettingsFolder(const QString& option)
{
    const platform::SettingsFolder folder = platform::chooseSettingsFolder(option);
    if (const QString problem = platform::prepareSettingsFolder(folder); !problem.isEmpty()) {
        printStderrLine(problem);
        using Source = platform::SettingsFolder::Source;
        if (folder.source == Source::Option || folder.source == Source::Environment)
            return false;
    }
    platform::setSettingsFolder(folder.path);
    return true;
}

// Reads the command line once, before the passwords among them are wiped from what other users
// can see; a typo must not run on with defaults (nothing has reached the server yet).
std::optional<QStringList> takeArguments(const std::vector<char*>& originalArgv,
                                         const QString& configOption)
{
    QStringList arguments = QCoreApplication::arguments();
    takeConfigOption(arguments);
    hideConnectionStrings(originalArgv);
    if (const QString error = commandLineError(arguments); !error.isEmpty()) {
        printStderrLine(error);
        return std::nullopt;
    }
    if (!useSettingsFolder(configOption))
        return std::nullopt;
    return arguments;
}

// A batch run: the session started as the window would start it, then the command. Exit code 0,
// 1 for an error (reported), 128 + the signal's number when one stopped it.
int runBatch(OperatorUi& operatorUi, const QStringList& arguments, bool unattended)
{
    Session session(operatorUi, platform::settingsFolder());
    InterruptWatch interrupts(session.connection());
    session.stopRequested = [&interrupts] {
        return interrupts.stopRequested();
    };
    session.unattended = unattended;
    return RunBatch(session, arguments, [&](const std::exception& error) {
        const int signal = interrupts.signalNumber();
        // Whoever sent the signal does not wait for a message box.
        reportUnhandled(error, unattended || signal != 0);
        if (signal == 0)
            return 1;
        printStderrLine(u"Работа прервана: получен сигнал "_s + InterruptWatch::signalName(signal) +
                        u'.');
        return 128 + signal;
    });
}

} // namespace

int main(int argc, char* argv[])
{
    QStringList raw = rawArguments(argc, argv);
    const ConfigOption config = takeConfigOption(raw);
    const bool batch = batchModeOf(raw) != BatchMode::None;
    if (batch)
        platform::attachCallerConsole();
    if (!config.error.isEmpty()) {
        printStderrLine(config.error);
        return 2;
    }
    if (const std::optional<int> exitCode = answerInfoRequest(argc, argv, raw, config.folder))
        return *exitCode;

    // A nightly batch run has no display: it runs without any GUI and talks on stderr. The
    // window cannot do without one; Qt would abort, so the operator is told what to run.
    const bool noDisplay = hasNoDisplay(raw);
    const QString platform = chosenPlatform(raw);
    if (noDisplay && !batch && (platform.isEmpty() || !platformPluginFound(platform))) {
        const QString mistyped = mistypedModeText(raw);
        printStderrLine(mistyped.isEmpty() ? noDisplayText() : mistyped);
        return 2;
    }
    // Whose sessions these are, as sysprocesses shows them to an administrator.
    db::setApplicationName(batch ? u"dbsetup (пакетный режим)"_s : u"dbsetup (окно)"_s);
    const std::vector<char*> originalArgv(argv, argv + argc);

    // /no_dialogs: nothing waits for a click, whatever the display.
    if (batch && (noDisplay || wantsNoDialogs(raw))) {
        QCoreApplication app(argc, argv);
        app.setApplicationName(u"dbsetup"_s);
        app.setApplicationVersion(QStringLiteral(DBSETUP_VERSION));
        const std::optional<QStringList> arguments = takeArguments(originalArgv, config.folder);
        if (!arguments)
            return 2;
        StderrOperatorUi stderrUi;
        return runBatch(stderrUi, *arguments, true);
    }

    DbSetupApplication app(argc, argv);
    const std::optional<QStringList> arguments = takeArguments(originalArgv, config.folder);
    if (!arguments)
        return 2;
    QtOperatorUi windowUi;
    app.setErrorReporter(&windowUi);
    // No parent: disabling the main window must not disable the progress window with it.
    TFormStatus status;
    windowUi.setProgressWindow(&status);
    // A batch run on a display: its messages and questions in boxes, no main window.
    if (batch)
        return runBatch(windowUi, *arguments, false);

    TFormDB form(windowUi);
    windowUi.setParentWindow(&form);
    setMainWindow(&form);
    form.show();
    scheduleReviewHooks(form);
    return app.exec();
}
