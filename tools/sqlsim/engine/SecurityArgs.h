#pragma once

#include "SessionImpl.h"

// Small helpers shared by Permissions.cpp and Security.cpp.
namespace sqlsim::security {

inline bool same(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A procedure argument by name or position, as text; nothing when absent, DEFAULT or NULL.
inline std::optional<QString> argText(const QList<SessionImpl::CallArg>& args, const QString& name,
                                      int position)
{
    const SessionImpl::CallArg* found = nullptr;
    for (const SessionImpl::CallArg& a : args)
        if (!a.name.isEmpty() && same(a.name, name))
            found = &a;
    if (!found) {
        int index = 0;
        for (const SessionImpl::CallArg& a : args) {
            if (!a.name.isEmpty())
                continue;
            if (index++ == position) {
                found = &a;
                break;
            }
        }
    }
    if (!found || found->isDefault || isNull(found->value))
        return std::nullopt;
    return valueToText(convertValue(found->value, found->type,
                                    TypeInfo::of(BaseType::NVarChar, ColumnType::max),
                                    ConversionMode::Cast));
}

inline Column column(const QString& name, const TypeInfo& type)
{
    Column c;
    c.name = name;
    c.type = type.columnType();
    return c;
}

inline Message message(int number, int severity, const QString& text)
{
    Message m;
    m.number = number;
    m.severity = severity;
    m.text = text;
    return m;
}

// "User does not have permission to perform this action." (15247, learn.microsoft.com/sql/
// relational-databases/errors-events/database-engine-events-and-errors-15000-to-15999).
[[noreturn]] inline void noPermission()
{
    throw SqlError(15247, QStringLiteral("User does not have permission to perform this action."));
}

} // namespace sqlsim::security
