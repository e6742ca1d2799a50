#pragma once

#include <QApplication>
#include <memory>

class OperatorUi;
class QTranslator;

// The application object. An error that leaves an event handler is shown by the default error
// report and the program carries on, as the operator expects; Qt itself cannot pass exceptions
// through its event loop.
class DbSetupApplication : public QApplication
{
public:
    DbSetupApplication(int& argc, char** argv);
    ~DbSetupApplication() override;
    void setErrorReporter(OperatorUi* ui) { m_reporter = ui; }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    OperatorUi* m_reporter = nullptr;
    std::unique_ptr<QTranslator> m_qtTexts;
};
