#include "FStatus.h"

#include "FormPlacement.h"
#include "OperatorUi.h"
#include "ui_FStatus.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int titleWrapWidth = 400;
constexpr int gap = 20;

QFont pixelFont(const QString& family, int pixels)
{
    QFont font(family);
    font.setPixelSize(pixels);
    return font;
}

} // namespace

TFormStatus::TFormStatus(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TFormStatus>())
{
    ui->setupUi(this);
    // A tool window without system menu or buttons: the operator cannot close it.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowStaysOnTopHint);
    // Designer keeps point sizes only; these fonts are given in pixels.
    setFont(pixelFont(u"Tahoma"_s, 11));
    ui->LTitle->setFont(pixelFont(u"Arial"_s, 12));
}

TFormStatus::~TFormStatus()
{
    // Going away in the middle of an operation must not leave the main window dead.
    if (!_isClose && _MainForm)
        _MainForm->setEnabled(true);
}

void TFormStatus::StartOperation(const QString& title, QWidget* mainForm)
{
    if (mainForm == nullptr)
        return;
    _MainForm = mainForm;
    _isClose = false;
    ShowPercent(-1);
    m_title = title;
    LayoutTitle(title);
    PlaceForm(mainForm, this);
    show();
    // Painted once before the caller blocks on the server.
    QCoreApplication::processEvents();
    if (_MainForm)
        _MainForm->setEnabled(false);
}

void TFormStatus::FinishOperation()
{
    _isClose = true;
    // A hidden window may not get a close request at all; the main window is enabled regardless.
    if (!isVisible()) {
        FormCloseQuery();
        return;
    }
    close();
}

void TFormStatus::ShowPercent(int percent, const QString& step)
{
    QProgressBar* bar = ui->ProgressBar;
    if (percent < 0) {
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        return;
    }
    bar->setRange(0, 100);
    bar->setValue(std::clamp(percent, 0, 100));
    bar->setFormat(ProgressText(std::clamp(percent, 0, 100), step));
    bar->setTextVisible(true);
}

void TFormStatus::ShowNote(const QString& text)
{
    if (_isClose)
        return;
    LayoutTitle(m_title + u"\n\n"_s + text);
    PlaceForm(_MainForm, this);
}

void TFormStatus::closeEvent(QCloseEvent* event)
{
    event->setAccepted(FormCloseQuery());
}

bool TFormStatus::FormCloseQuery()
{
    if (_isClose && _MainForm)
        _MainForm->setEnabled(true);
    return _isClose;
}

void TFormStatus::LayoutTitle(const QString& title)
{
    // The label wraps at 400 pixels and then fits its text: narrower for a short title, wider
    // only for a word that does not fit. Measured left-aligned: a centred measurement rounds
    // its fractional offset into one pixel more.
    QLabel* label = ui->LTitle;
    label->setText(title);
    const QFontMetrics metrics(label->font());
    const QRect text =
        metrics.boundingRect(QRect(0, 0, titleWrapWidth, std::numeric_limits<int>::max() / 2),
                             Qt::AlignLeft | Qt::TextWordWrap, title);
    // An empty title still keeps one line, so the window does not collapse.
    label->resize(text.width(), std::max(text.height(), metrics.height()));

    QProgressBar* bar = ui->ProgressBar;
    bar->setGeometry(bar->x(), label->y() + label->height() + gap, label->width(), bar->height());
    resize(label->width() + gap, bar->y() + bar->height() + gap);
}
