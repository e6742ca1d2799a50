#include "DBWorkU.h"
#include "DbSetupApplication.h"
#include "FStatus.h"
#include "FormPlacement.h"
#include "QtOperatorUi.h"

#include <QTabWidget>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// Hooks for scripts that review or time the window without an operator:
// DBSETUP_SCREENSHOT=file.png saves a picture of the shown window (of tab DBSETUP_SCREENSHOT_TAB
// when set) and ends the program; DBSETUP_QUIT_WHEN_SHOWN=1 ends it once the window is up.
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
    QTimer::singleShot(500, &window, [&window, path] {
        window.grab().save(path);
        QCoreApplication::quit();
    });
}

// Whether the command line asked for a batch run, which has then been carried out.
bool isCommandCMD()
{
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    DbSetupApplication app(argc, argv);
    QtOperatorUi operatorUi;
    app.setErrorReporter(&operatorUi);

    TFormDB form(operatorUi);
    operatorUi.setParentWindow(&form);
    setMainWindow(&form);
    // No parent: disabling the main window must not disable the progress window with it.
    TFormStatus status;
    operatorUi.setProgressWindow(&status);
    if (isCommandCMD())
        return 0;
    form.show();
    scheduleReviewHooks(form);
    return app.exec();
}
