#pragma once

#include <QString>

// Turns the program's file-type filter, "Label|pattern|Label|pattern|" with patterns joined by ';'
// (the form the common dialogs of the first design took), into a Qt name filter string
// ("Label (pattern pattern);;Label (pattern)").
//
// Qt matches on whatever stands in a name filter's last parentheses and splits it at blanks only, so
// the patterns there are always rewritten from the pattern column: "HTML Files (*.htm;*.html)"
// becomes "HTML Files (*.htm *.html)", and "*.*" becomes "*" because Qt's "*.*" wants a dot in the
// name while the program means every file. A label without patterns of its own gets them appended.
// A missing final '|' or a label without a pattern is tolerated; an empty filter gives "".
QString QtFileFilter(const QString& pairs);
