#include "DbSetupApplication.h"

#include "OperatorUi.h"

#include <cstdio>

DbSetupApplication::DbSetupApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // No display name: the platform would append it to every window caption.
    setApplicationName(QStringLiteral("dbsetup"));
    setApplicationVersion(QStringLiteral(DBSETUP_VERSION));
}

bool DbSetupApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        if (m_reporter != nullptr)
            ShowErrorReport(*m_reporter, error);
        else
            std::fprintf(stderr, "%s\n", error.what());
    }
    return false;
}
