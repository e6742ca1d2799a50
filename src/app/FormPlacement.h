#pragma once

class QWidget;

// The window every other one is placed over when no reference is given; none while the main
// window is still being created.
void setMainWindow(QWidget* window);
QWidget* mainWindow();

// Centres form over reference (or over the main window), kept inside the primary screen; with
// no reference at all, centres it in the screen's work area.
void PlaceForm(QWidget* reference, QWidget* form);
