#pragma once

#include <QApplication>

class OperatorUi;

// The application object. An error that leaves an event handler is shown by the default error
// report and the program carries on, as the operator expects; Qt itself cannot pass exceptions
// through its event loop.
class DbSetupApplication : public QApplication
{
public:
    DbSetupApplication(int& argc, char** argv);
    void setErrorReporter(OperatorUi* ui) { m_reporter = ui; }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    OperatorUi* m_reporter = nullptr;
};
