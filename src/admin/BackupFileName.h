#pragma once

#include <QString>

// Every run of backslashes made one (the first character is kept as it is): what a browse dialog
// or a copied path may leave doubled in a backup file name.
QString RemoveDoubleBackslashes(const QString& text);
