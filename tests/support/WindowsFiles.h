#pragma once

#include <QString>

// The attributes and links Windows keeps for each entry, made as a user's tools make them, so that the tests build on
// Windows the hidden, system, read-only and linked entries the Linux tests make with dot-names, chmod and symlinks.
// Paths of any length, in either separator.

// Sets the entry's attributes (AttributeBit values, 0 for none); false when the system refuses.
bool SetAttributes(const QString& path, int attributes);

// Makes link a symbolic link to target; false when none was made. Wine's CreateSymbolicLinkW reports success and makes
// nothing, so the link is looked for afterwards.
bool MakeSymbolicLink(const QString& link, const QString& target, bool folder);
