#include "FormPlacement.h"

#include "FileHelpers.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace {

QPointer<QWidget>& mainWindowPointer()
{
    static QPointer<QWidget> window;
    return window;
}

} // namespace

void setMainWindow(QWidget* window)
{
    mainWindowPointer() = window;
}

QWidget* mainWindow()
{
    return mainWindowPointer().data();
}

void PlaceForm(QWidget* reference, QWidget* form)
{
    if (form == nullptr)
        return;
    if (reference == nullptr && mainWindow() != form)
        reference = mainWindow();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    std::optional<QRect> referenceRect;
    if (reference != nullptr)
        referenceRect = QRect(reference->pos(), reference->size());
    form->move(PlaceFormPosition(referenceRect, form->size(), screen->geometry().size(),
                                 screen->availableGeometry().size()));
}
