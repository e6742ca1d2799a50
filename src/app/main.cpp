#include "DBWorkU.h"
#include "DbSetupApplication.h"
#include "FormPlacement.h"
#include "QtOperatorUi.h"

#include <QDir>
#include <QTimer>

namespace {

// For reviewing the window without a screen: DBSETUP_SCREENSHOT=file.png saves a picture of the
// shown window and ends the program.
void scheduleScreenshot(QWidget& window)
{
    const QString path = qEnvironmentVariable("DBSETUP_SCREENSHOT");
    if (path.isEmpty())
        return;
    QTimer::singleShot(500, &window, [&window, path] {
        window.grab().save(path);
        QCoreApplication::quit();
    });
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
    form.show();
    scheduleScreenshot(form);
    return app.exec();
}
