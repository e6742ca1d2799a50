#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

namespace Ui {
class TFormStatus;
}

class QCloseEvent;

// The small always-on-top window with a title and a busy bar shown while a long server operation
// runs; it keeps the main window disabled meanwhile. Created hidden once and reused.
class TFormStatus : public QWidget
{
    Q_OBJECT

public:
    explicit TFormStatus(QWidget* parent = nullptr);
    ~TFormStatus() override;

    // Shows the window with the title over mainForm and disables mainForm; nothing at all when
    // mainForm is null.
    void StartOperation(const QString& title, QWidget* mainForm);
    // Allows closing and closes (hides); closing enables the recorded main window again.
    void FinishOperation();
    // The server's progress in the bar ("Выполнено 60%"); a negative percentage, and every new
    // operation, bring back the endless bar.
    void ShowPercent(int percent, const QString& step = {});
    // A paragraph under the running operation's title; the window grows to hold it.
    void ShowNote(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool FormCloseQuery();
    void LayoutTitle(const QString& title);

    std::unique_ptr<Ui::TFormStatus> ui;
    bool _isClose = true;
    QString m_title;
    QPointer<QWidget> _MainForm;
};
