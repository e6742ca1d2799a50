#pragma once

#include <QString>
#include <QVariant>

// A value in the one form it is kept in, the same on every machine whatever its regional
// settings (the grid and the export show it through console::FieldFormat): NULL as "", text as
// it is, integers in decimal, floating numbers with "." in the shortest form that reads back
// exactly, binary as "0x" + upper-case hex, QDate "yyyy-MM-dd", QDateTime
// "yyyy-MM-dd HH:mm:ss.zzz", QTime "HH:mm:ss.zzz", bool as "1"/"0".
QString FieldText(const QVariant& value);
