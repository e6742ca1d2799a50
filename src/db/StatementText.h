#pragma once

#include <QString>

// Values and names placed into statement texts. Ordinary values come out unchanged, so the
// statements read exactly as written; a quote or bracket in a value can never end it early.
namespace sqltext {

// The text for a place between single quotes: each "'" doubled.
QString literalBody(const QString& value);
// A name as a bracketed identifier ("]" doubled inside), whatever it holds.
QString identifier(const QString& name);

} // namespace sqltext
