// UDL files: the bytes are a file that LoadConnectString reads ("[oledb]", "Provider=..."), as
// UTF-16LE from Windows or UTF-8; the panel and the current database take what it holds.
#include "Connection.h"
#include "FuzzPanel.h"
#include "FuzzSupport.h"
#include "IniFile.h"
#include "ServerConnection.h"

using namespace Qt::StringLiterals;

FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    const QString udlPath = fuzz::writeInputFile(u"default.udl"_s, input);
    const platform::IniFile ini = platform::IniFile::load(udlPath);
    FUZZ_CHECK(ini.sections() == platform::IniFile::fromBytes(input).sections(),
               u"the file and its bytes read differently"_s);

    db::Connection connection;
    connection.setProvider(u"SQLOLEDB.1"_s);
    fuzz::Panel panel(false);
    QString connectString;
    QString database = u"init-db"_s;
    ServerConnection server(connection, panel, connectString, database);
    server.LoadConnectString(udlPath);

    const ParsedConnectString parsed =
        SplitConnectString(u"Provider="_s + ini.value(u"oledb"_s, u"Provider"_s).trimmed());
    if (parsed.userId.isEmpty() || parsed.dataSource.isEmpty()) {
        // Any other file changes nothing.
        FUZZ_CHECK(panel.serverText == u"init-server"_s && database == u"init-db"_s &&
                       connection.provider() == u"SQLOLEDB.1"_s,
                   panel.serverText);
    } else {
        FUZZ_CHECK(panel.serverText == parsed.dataSource && panel.userText == parsed.userId &&
                       panel.passwordText == parsed.password && database == parsed.initialCatalog,
                   panel.serverText);
        FUZZ_CHECK(!connection.provider().isEmpty(), parsed.provider);
    }
    FUZZ_CHECK(connectString.isEmpty(), connectString); // loading never connects
    return 0;
}
