#pragma once

#include <QString>
#include <QStringList>

// Whether there is a display to show windows on, asked before Qt is started: Qt ends the process
// when it cannot open the display it was given.

// The platform the program was told to use: "-platform NAME" among the arguments (arguments[0]
// is the program), else QT_QPA_PLATFORM; empty when Qt is left to choose.
QString chosenPlatform(const QStringList& arguments);

// Whether this process has no display to show windows on: a platform without one ("offscreen",
// "minimal") or one Qt has no plugin for was chosen, or none was chosen and neither an X display
// (DISPLAY) nor a Wayland display (WAYLAND_DISPLAY) accepts a connection. The display is asked, not
// only named: Qt ends the process when it cannot open the display it was given, and a stale DISPLAY
// after ssh ended still names one.
bool hasNoDisplay(const QStringList& arguments);

// Whether Qt has a platform plugin of that name ("xcb", "wayland", "xcb:option"): libqxcb.so,
// qwindows.dll and the like in a "platforms" folder of its plugin paths. Qt ends the process when
// it cannot load the one it was told to use.
bool platformPluginFound(const QString& platform);

// The one line a window run without a display ends with (exit code 2).
QString noDisplayText();
