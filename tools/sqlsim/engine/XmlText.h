#pragma once

#include <QString>

// The xml data type's text: what converting a string to xml keeps, and its refusals.
namespace sqlsim {

// Checks that `text` is well-formed XML content (a document or a fragment: several top-level
// elements and text are allowed, an empty string too) and returns it as SQL Server serialises
// a stored instance: no XML declaration, empty elements as <a />, attributes in double quotes,
// whitespace-only text between tags dropped, CDATA and character references turned into
// escaped text, line ends as LF. Throws SqlError 94xx "XML parsing: line L, character C, ..."
// at the first fault. unicodeSource: the text came from nvarchar, where a declaration naming
// an 8-bit encoding cannot be honoured.
QString checkedXml(const QString& text, bool unicodeSource);

// The bytes a binary value holds as XML text: UTF-16 when they begin with its byte-order mark,
// UTF-8 otherwise.
QString xmlTextOfBytes(const QByteArray& bytes);

} // namespace sqlsim
