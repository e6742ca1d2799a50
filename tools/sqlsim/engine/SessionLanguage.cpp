// A session's language: where it comes from at login, SET LANGUAGE, and the words of the
// messages the session is sent.
#include "Languages.h"
#include "SessionImpl.h"

using namespace Qt::StringLiterals;

namespace sqlsim {

const Language& ServerImpl::loginLanguage(const QString& login) const
{
    // A login's DEFAULT_LANGUAGE; one created without it has the server's default language
    // ("default language" server option, learn.microsoft.com/sql/database-engine/
    // configure-windows/configure-the-default-language-server-configuration-option), as sa has.
    QString own;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_logins.find(login.toLower());
        if (it != m_logins.end())
            own = it->defaultLanguage;
    }
    if (const Language* language = own.isEmpty() ? nullptr : findLanguage(own))
        return *language;
    const Language* language = findLanguage(m_options.language);
    return language ? *language : usEnglish();
}

const Language& ServerImpl::sessionLanguage(const QString& login, const QString& requested) const
{
    // The login's default language, "unless overridden on a per-session basis by using the
    // ODBC or OLE DB APIs" (LOGIN7's language: FreeTDS sends us_english unless told otherwise).
    // A name the server does not know falls back to the login's default; message 4016, which
    // would say so, is not sent.
    if (const Language* asked = requested.isEmpty() ? nullptr : findLanguage(requested))
        return *asked;
    return loginLanguage(login);
}

Message ServerImpl::localizedForLogin(const Message& message, const QString& user,
                                      const QString& requestedLanguage) const
{
    return localized(message, sessionLanguage(user, requestedLanguage));
}

void SessionImpl::setLanguage(const Language& language)
{
    // "SET LANGUAGE implicitly sets the setting of SET DATEFORMAT."
    // (learn.microsoft.com/sql/t-sql/statements/set-language-transact-sql)
    m_language = &language;
    setDateFormat(language.dateFormat);
}

QString SessionImpl::languageName() const
{
    return m_language.load()->name;
}

Message SessionImpl::localized(const Message& message) const
{
    return sqlsim::localized(message, *m_language.load());
}

void SessionImpl::runSetLanguage(const Stmt& s)
{
    // SET LANGUAGE { [ N ] 'language' | @language_var }: a name or an alias of sys.syslanguages.
    QString given = s.value;
    if (!s.variable.isEmpty()) {
        const Variable* v = variable(s.variable);
        if (!v)
            throw SqlError(137, u"Must declare the scalar variable \"%1\"."_s.arg(s.variable));
        given = valueToText(v->value);
    }
    const Language* language = findLanguage(given);
    if (!language)
        throw SqlError(2740, u"SET LANGUAGE failed because '%1' is not an official language name "
                             "or a language alias on this SQL Server."_s.arg(given));
    setLanguage(*language);
    sendInfo(5703, u"Changed language setting to %1."_s.arg(language->name));
}

void SessionImpl::makeLanguageView()
{
    // Columns and types of "sys.syslanguages (Transact-SQL)".
    serverViewExec("CREATE TEMP TABLE IF NOT EXISTS sqlsim_syslanguages (langid smallint NOT "
                   "NULL, dateformat nchar(3) NOT NULL, datefirst tinyint NOT NULL, upgrade int, "
                   "name nvarchar(128) NOT NULL, alias nvarchar(128) NOT NULL, months "
                   "nvarchar(372), shortmonths nvarchar(132), days nvarchar(217), lcid int NOT "
                   "NULL, msglangid smallint NOT NULL)");
    for (const Language& l : installedLanguages())
        serverViewInsert("INSERT INTO temp.sqlsim_syslanguages VALUES (?1, ?2, ?3, 0, ?4, ?5, ?6, "
                         "?7, ?8, ?9, ?10)",
                         {qint64(l.langid), l.dateFormat, qint64(l.dateFirst), l.name, l.alias,
                          l.months, l.shortMonths, l.days, qint64(l.lcid), qint64(l.msglangid)});
}

} // namespace sqlsim
