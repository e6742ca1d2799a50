#include "CommandLine.h"
#include "DBWorkU.h"
#include "DbSetupApplication.h"
#include "FStatus.h"
#include "FormPlacement.h"
#include "QtOperatorUi.h"
#include "StderrOperatorUi.h"

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

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

bool isBatchRun(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < std::min(argc, 2); ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return batchModeOf(arguments) != BatchMode::None;
}

// An error that ended a batch run: a stop box titled "Application Error", or one stderr line
// without a display; the exit code says the rest.
void reportUnhandled(const std::exception& error, bool unattended)
{
    const QString text =
        applicationErrorText(error, QCoreApplication::applicationFilePath().section(u'/', -1));
    if (unattended) {
        printStderrLine(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, u"Application Error"_s, text, QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    // A nightly batch run has no display: it runs on the offscreen platform and talks on stderr.
    const bool batch = isBatchRun(argc, argv);
    const bool unattended = batch && hasNoDisplay();
    if (unattended && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    DbSetupApplication app(argc, argv);
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
    try {
        if (form.isCommandCMD(QCoreApplication::arguments()))
            return 0;
    } catch (const std::exception& error) {
        reportUnhandled(error, unattended);
        return 1;
    }
    form.show();
    scheduleReviewHooks(form);
    return app.exec();
}
