#pragma once

#include <QString>

class QWidget;

// The main window's size and place between runs, kept per user in the state file
// (platform::userStateFile()), group [window]; never in settings.ini.
QString windowStateFile();
void saveWindowGeometry(const QWidget& window);
// Gives the window the size and place saved last, when its title bar would still be on a
// screen; false, and the window untouched, when nothing was saved or it would not.
bool restoreWindowGeometry(QWidget& window);
