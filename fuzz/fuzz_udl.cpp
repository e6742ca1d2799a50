// UDL files: the bytes are a file that LoadConnectString reads ("[oledb]", "Provider=..."), as
// UTF-16LE from Windows or UTF-8; the panel and the current database take what it holds.
#include "Connection.h"
#include "FuzzSupport.h"
#include "IniFile.h"
#include "ServerConnection.h"

#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

class Panel : public ConnectionPanel
{
public:
    QString serverText = u"init-server"_s;
    QString userText = u"init-user"_s;
    QString passwordText = u"init-password"_s;
    bool tick = false;

    QString server() const override { return serverText; }
    void setServer(const QString& text) override { serverText = text; }
    QString userName() const override { return userText; }
    void setUserName(const QString& text) override { userText = text; }
    QString password() const override { return passwordText; }
    void setPassword(const QString& text) override { passwordText = text; }
    bool isAuthorization() const override { return tick; }
    // The window would connect here; a fuzz run never reaches a server.
    void setAuthorization(bool on) override { tick = on; }
    void showConnected(bool) override {}
};

QString udlPath;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::initApplication(argc, argv);
    static QTemporaryDir dir;
    udlPath = dir.filePath(u"default.udl"_s);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = fuzz::bytes(data, size);
    {
        QFile file(udlPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(input) != input.size())
            std::abort();
    }
    const platform::IniFile ini = platform::IniFile::load(udlPath);
    FUZZ_CHECK(ini.sections() == platform::IniFile::fromBytes(input).sections(),
               u"the file and its bytes read differently"_s);

    db::Connection connection;
    connection.setProvider(u"SQLOLEDB.1"_s);
    Panel panel;
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
