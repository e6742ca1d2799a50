#pragma once

#include "SqliteFunctions.h"

// The built-in functions' questions about the server and the session's databases: OBJECT_ID,
// DB_NAME, SERVERPROPERTY, DATABASEPROPERTYEX, FILEPROPERTY and the like.
namespace sqlsim {

class ServerImpl;
class SessionImpl;

class SessionFunctions final : public FunctionHost
{
public:
    SessionFunctions(ServerImpl& server, SessionImpl& session)
        : m_server(server), m_session(session)
    {}

    std::optional<qint64> objectId(const QString& name, const QString& type) override;
    Value objectName(qint64 id, std::optional<qint64> dbid) override;
    std::optional<qint64> databaseId(const QString& name) override;
    Value databaseName(qint64 id) override;
    Value serverProperty(const QString& name) override;
    Value volumeStat(qint64 databaseId, qint64 fileId, int which) override;
    Value databaseProperty(const QString& database, const QString& property) override;
    Value identCurrent(const QString& table) override;
    Value fileProperty(const QString& file, const QString& property) override;

private:
    ServerImpl& m_server;
    SessionImpl& m_session;
};

} // namespace sqlsim
