#pragma once

#include <QIcon>

// The program's own icon, drawn rather than shipped as a file: a quill over a page.
QIcon ProgramIcon();
