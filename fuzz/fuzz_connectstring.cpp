// ParseConnectString: the text of "/connection_string" or of a UDL file's Provider entry.
#include "Connection.h"
#include "FuzzPanel.h"
#include "FuzzSupport.h"
#include "ServerConnection.h"

using namespace Qt::StringLiterals;

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = fuzz::text(data, size);
    db::Connection connection;
    connection.setProvider(u"SQLOLEDB.1"_s);
    fuzz::Panel panel(true);
    QString connectString;
    QString database = u"init-db"_s;
    ServerConnection server(connection, panel, connectString, database);
    server.ParseConnectString(text);

    const ParsedConnectString parsed = SplitConnectString(text);
    if (parsed.userId.isEmpty() || parsed.dataSource.isEmpty()) {
        FUZZ_CHECK(panel.serverText == u"init-server"_s && panel.userText == u"init-user"_s &&
                       panel.passwordText == u"init-password"_s && panel.tick &&
                       database == u"init-db"_s && connection.provider() == u"SQLOLEDB.1"_s,
                   text);
        return 0;
    }
    FUZZ_CHECK(panel.serverText == parsed.dataSource && panel.userText == parsed.userId &&
                   panel.passwordText == parsed.password &&
                   panel.tick == parsed.integratedSecurity && database == parsed.initialCatalog,
               text);
    // A string without a provider keeps the connection's own.
    FUZZ_CHECK(connection.provider() ==
                   (parsed.provider.isEmpty() ? u"SQLOLEDB.1"_s : parsed.provider),
               text);
    return 0;
}
