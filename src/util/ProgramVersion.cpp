#include "ProgramVersion.h"

#ifdef Q_OS_WIN
#include "FileHelpers.h"

#include <QCoreApplication>
#endif

QString ProgramVersionText()
{
#ifdef Q_OS_WIN
    try {
        return GetFileApprVersion(QCoreApplication::applicationFilePath());
    } catch (const std::exception&) {
        return {};
    }
#else
    return QStringLiteral(DBSETUP_VERSION);
#endif
}
