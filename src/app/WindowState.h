#pragma once

#include <QString>

class QWidget;

// The main window's size and place between runs, kept per user in "state.ini" of the user's
// settings folder for dbsetup ($XDG_CONFIG_HOME/dbsetup/ on Linux, the application data folder
// on Windows), group [window]. settings.ini beside the program is only ever read.
QString windowStateFile();
void saveWindowGeometry(const QWidget& window);
// Gives the window the size and place saved last, when its title bar would still be on a
// screen; false, and the window untouched, when nothing was saved or it would not.
bool restoreWindowGeometry(QWidget& window);
