#include "WindowState.h"

#include "SettingsFolder.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

// Qt's own record of the window (its normal size and place, whether maximised), and the frame
// it had, which tells whether it still fits the screens.
const QString geometryKey = u"window/geometry"_s;
const QString frameKey = u"window/frame"_s;

QSettings stateSettings()
{
    return QSettings(platform::userStateFile(), QSettings::IniFormat);
}

// Where the operator takes hold of the window: the middle of its title bar.
bool titleBarOnScreen(const QRect& frame)
{
    const QPoint grip(frame.center().x(), frame.top() + 10);
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().contains(grip))
            return true;
    return false;
}

} // namespace

QString windowStateFile()
{
    return stateSettings().fileName();
}

void saveWindowGeometry(const QWidget& window)
{
    QSettings settings = stateSettings();
    settings.setValue(geometryKey, window.saveGeometry());
    settings.setValue(frameKey, window.frameGeometry());
}

bool restoreWindowGeometry(QWidget& window)
{
    const QSettings settings = stateSettings();
    const QByteArray geometry = settings.value(geometryKey).toByteArray();
    const QRect frame = settings.value(frameKey).toRect();
    if (geometry.isEmpty() || !frame.isValid() || !titleBarOnScreen(frame))
        return false;
    return window.restoreGeometry(geometry);
}
