#pragma once

#include <QString>

#include <functional>

// Runs body as a user without special rights and returns what it returned. Root reads and writes whatever the
// permission bits say, so a refusal can only be seen by someone else: as root, body runs in a child process that
// has become "nobody" (and the files it needs must be open to anyone); otherwise it runs here. A body that fails
// to run gives "<failed: ...>".
QString AsUnprivilegedUser(const std::function<QString()>& body);

// Lets anyone reach and write into the folder, so that AsUnprivilegedUser's child can use it.
void OpenToAnyone(const QString& folder);
