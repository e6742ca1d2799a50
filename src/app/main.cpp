#include "CommandLine.h"
#include "Connection.h"
#include "DBWorkU.h"
#include "DbSetupApplication.h"
#include "FStatus.h"
#include "FormPlacement.h"
#include "InterruptWatch.h"
#include "ProgramVersion.h"
#include "QtOperatorUi.h"
#include "StderrOperatorUi.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <vector>
#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Hooks for scripts that review or time the window without an operator:
// DBSETUP_SCREENSHOT=file.png saves a picture of the shown window (of tab DBSETUP_SCREENSHOT_TAB
// when set, after running the console query DBSETUP_SCREENSHOT_SQL when set) and ends the
// program; DBSETUP_QUIT_WHEN_SHOWN=1 ends it once the window is up.
void scheduleReviewHooks(QWidget& window)
{
    if (qEnvironmentVariableIntValue("DBSETUP_QUIT_WHEN_SHOWN") == 1) {
        QTimer::singleShot(0, &window, [] { QCoreApplication::quit(); });
        return;
    }
    const QString path = qEnvironmentVariable("DBSETUP_SCREENSHOT");
    if (path.isEmpty())
        return;
    bool hasTab = false;
    const int tab = qEnvironmentVariableIntValue("DBSETUP_SCREENSHOT_TAB", &hasTab);
    if (auto* page = window.findChild<QTabWidget*>(u"Page"_s); page != nullptr && hasTab)
        page->setCurrentIndex(tab);
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
        QCoreApplication::quit();
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

void printStdout(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

// --help and --version need neither a display nor a server.
std::optional<int> answerInfoRequest(int argc, char* argv[], const QStringList& arguments)
{
    switch (infoRequestOf(arguments)) {
    case InfoRequest::Help:
        printStdout(usageText());
        return 0;
    case InfoRequest::Version: {
        // The version resource is read from the program's own file, which Qt locates.
        const QCoreApplication core(argc, argv);
        const QString version = ProgramVersionText();
        printStdout(u"dbsetup "_s +
                    (version.isEmpty() ? QStringLiteral(DBSETUP_VERSION) : version) + u'\n');
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

// Qt wants a runtime folder of the user's own and says so on stderr, on every run, where cron
// and ssh give none: a batch run gets one of the program's, made private.
void provideRuntimeFolder()
{
#if defined(Q_OS_UNIX)
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const QByteArray folder =
        QFile::encodeName(QDir::tempPath()) + "/dbsetup-runtime-" + QByteArray::number(::getuid());
    ::mkdir(folder.constData(), 0700);
    struct stat info = {};
    // Only a folder of this user's that nobody else may enter; anything else is left to Qt.
    if (::lstat(folder.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == ::getuid() && (info.st_mode & 0777) == 0700)
        qputenv("XDG_RUNTIME_DIR", folder);
#endif
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

} // namespace

int main(int argc, char* argv[])
{
    const QStringList raw = rawArguments(argc, argv);
    if (const std::optional<int> exitCode = answerInfoRequest(argc, argv, raw))
        return *exitCode;

    // A nightly batch run has no display: it runs on the offscreen platform and talks on stderr.
    // The window cannot do without one; Qt would abort, so the operator is told what to run.
    const bool batch = batchModeOf(raw) != BatchMode::None;
    const bool noDisplay = hasNoDisplay(raw);
    if (noDisplay && !batch && chosenPlatform(raw).isEmpty()) {
        const QString mistyped = mistypedModeText(raw);
        printStderrLine(mistyped.isEmpty() ? noDisplayText() : mistyped);
        return 2;
    }
    // /no_dialogs: nothing waits for a click, whatever the display.
    const bool noDialogs = wantsNoDialogs(raw);
    const bool unattended = batch && (noDisplay || noDialogs);
    if (unattended) {
        if (chosenPlatform(raw).isEmpty() || noDialogs)
            qputenv("QT_QPA_PLATFORM", "offscreen");
        provideRuntimeFolder();
    }

    // Whose sessions these are, as sysprocesses shows them to an administrator.
    db::setApplicationName(batch ? u"dbsetup (пакетный режим)"_s : u"dbsetup (окно)"_s);
    const std::vector<char*> originalArgv(argv, argv + argc);
    DbSetupApplication app(argc, argv);
    // Read once, before the passwords among them are wiped from what other users can see.
    const QStringList arguments = QCoreApplication::arguments();
    hideConnectionStrings(originalArgv);
    // A typo must not run on with defaults; nothing has reached the server yet.
    if (const QString error = commandLineError(arguments); !error.isEmpty()) {
        printStderrLine(error);
        return 2;
    }
    QtOperatorUi windowUi;
    StderrOperatorUi stderrUi;
    OperatorUi& operatorUi = unattended ? static_cast<OperatorUi&>(stderrUi) : windowUi;
    app.setErrorReporter(&operatorUi);

    TFormDB form(operatorUi);
    windowUi.setParentWindow(&form);
    setMainWindow(&form);
    // No parent: disabling the main window must not disable the progress window with it.
    TFormStatus status;
    windowUi.setProgressWindow(&status);
    std::optional<InterruptWatch> interrupts;
    if (batch) {
        interrupts.emplace(form.Connection);
        form.stopRequested = [&interrupts] {
            return interrupts->stopRequested();
        };
        form.unattended = unattended;
    }
    try {
        if (form.isCommandCMD(arguments))
            return 0;
    } catch (const std::exception& error) {
        const int signal = interrupts ? interrupts->signalNumber() : 0;
        // Whoever sent the signal does not wait for a message box.
        reportUnhandled(error, unattended || signal != 0);
        if (signal != 0) {
            printStderrLine(u"Работа прервана: получен сигнал "_s +
                            InterruptWatch::signalName(signal) + u'.');
            return 128 + signal;
        }
        return 1;
    }
    form.show();
    scheduleReviewHooks(form);
    return app.exec();
}
