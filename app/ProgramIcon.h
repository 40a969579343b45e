#pragma once

#include <QIcon>

// The program's own icon, a quill over a page, from packaging/com.quorvane.Quillory.svg compiled
// in as a resource: the window's icon is the one the desktop entry names.
QIcon ProgramIcon();
