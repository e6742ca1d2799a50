#pragma once

#include "Values.h"

#include <QList>
#include <QString>

// The server's languages (sys.syslanguages) and how its messages read in each. A session speaks
// one of them: its login's default language unless the client asked for another in LOGIN7, or
// what SET LANGUAGE chose since.
namespace sqlsim {

struct Language
{
    int langid = 0;
    QString name;       // official name: @@LANGUAGE, ENVCHANGE 2, message 5703
    QString alias;      // English name; SET LANGUAGE takes either
    QString dateFormat; // the DATEFORMAT it implies
    int dateFirst = 7;
    QString months;
    QString shortMonths;
    QString days;
    int lcid = 1033;
    int msglangid = 1033;
};

// us_english and Russian, in langid order.
const QList<Language>& installedLanguages();
const Language& usEnglish();
// By official name or alias, case ignored; nullptr when the server has no such language.
const Language* findLanguage(const QString& nameOrAlias);

// The message as that language words it. The English text is read back against the message's
// English form (sys.messages, with its %d and %ls) to find the parameters, which then go, in the
// same order, into the language's form. A message without a form there, or whose text does not
// read back, stays as it is.
Message localized(const Message& message, const Language& language);

// The placeholders of one form, in order ("%d", "%.*ls", ...): what a translation must keep.
QStringList messagePlaceholders(const QString& form);
// Every (number, English form, Russian form) of the table, for checking it.
struct MessageForms
{
    int number = 0;
    QString english;
    QString russian;
};
QList<MessageForms> messageTable();

} // namespace sqlsim
