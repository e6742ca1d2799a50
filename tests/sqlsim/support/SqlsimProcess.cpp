#include "SqlsimProcess.h"

#include <csignal>
#include <sys/prctl.h>

using namespace Qt::StringLiterals;

namespace {

// Generous: a sanitizer build starts slowly on a loaded machine. Only a broken simulator waits
// this long; a working one answers in milliseconds.
constexpr int startTimeoutMs = 60'000;

} // namespace

SqlsimProcess::SqlsimProcess() = default;

SqlsimProcess::~SqlsimProcess()
{
    stop();
}

bool SqlsimProcess::start(const QStringList& extraArgs, const QString& dataDir)
{
    m_extraArgs = extraArgs;
    if (!dataDir.isEmpty()) {
        m_dataDir = dataDir;
    } else if (m_dataDir.isEmpty()) {
        m_tempDir = std::make_unique<QTemporaryDir>();
        m_dataDir = m_tempDir->path();
    }
    QStringList args = {u"--port"_s, u"0"_s, u"--data"_s, m_dataDir, u"--password"_s, password()};
    // A whole test re-run against a server set up otherwise (another collation, forced
    // encryption): CTest sets this for the variants it registers.
    args += qEnvironmentVariable("SQLSIM_TEST_ARGS").split(u' ', Qt::SkipEmptyParts);
    args += m_extraArgs;
    m_process.setProgram(QStringLiteral(SQLSIM_BIN));
    m_process.setArguments(args);
    // A test killed by a timeout must not leave its simulator running.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start();
    if (!m_process.waitForStarted(startTimeoutMs))
        return false;
    // The first line on stdout is the port it listens on.
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(startTimeoutMs))
            return false;
    }
    bool ok = false;
    const uint port = m_process.readLine().trimmed().toUInt(&ok);
    m_port = ok && port > 0 && port < 65536 ? static_cast<quint16>(port) : 0;
    return m_port != 0;
}

QString SqlsimProcess::programLogin()
{
    const QString login = qEnvironmentVariable("SQLSIM_TEST_LOGIN");
    return login.isEmpty() ? u"sa"_s : login;
}

bool SqlsimProcess::restart()
{
    stop();
    return start(m_extraArgs, m_dataDir);
}

void SqlsimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10'000)) {
        m_process.kill();
        m_process.waitForFinished(10'000);
    }
    m_stderr += m_process.readAllStandardError();
}

QString SqlsimProcess::adoString(const QString& login, const QString& password) const
{
    return u"Data Source=127.0.0.1,%1;User ID=%2;Password=%3"_s.arg(m_port).arg(
        login, password.isEmpty() ? this->password() : password);
}

OdbcResult SqlsimProcess::query(const QString& sql, const QString& database)
{
    OdbcClient client;
    if (!client.connect(m_port, u"sa"_s, password(), database)) {
        OdbcResult failed;
        failed.ok = false;
        failed.error = client.lastError();
        failed.nativeError = client.lastNativeError();
        return failed;
    }
    return client.exec(sql);
}

bool SqlsimProcess::exec(const QString& sql, const QString& database)
{
    const OdbcResult result = query(sql, database);
    if (!result.ok)
        qWarning("%s: %s", qPrintable(sql), qPrintable(result.error));
    return result.ok;
}

QStringList SqlsimProcess::rows(const QString& sql, const QString& database)
{
    const OdbcResult result = query(sql, database);
    if (!result.ok)
        qWarning("%s: %s", qPrintable(sql), qPrintable(result.error));
    return flatten(result.resultSets.value(0));
}

QByteArray SqlsimProcess::stderrText()
{
    m_stderr += m_process.readAllStandardError();
    return m_stderr;
}
