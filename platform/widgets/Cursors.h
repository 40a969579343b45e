#pragma once

#include <QCursor>
#include <QString>

#include <optional>

// The image of a .cur or .ico file as a cursor. A cursor file's hot spot is honoured; an icon has
// none, so its hot spot is the image's centre, as the system does for icons. Of several images the
// one nearest the usual 32 pixels is taken. nullopt when the file is missing, is neither kind of
// file, or is damaged. Needs a QGuiApplication (a cursor holds a pixmap).
std::optional<QCursor> LoadCursorFile(const QString& path);

// A skin: the Qt style sheet in the file, read as UTF-8. "" when the file is absent or unreadable.
QString LoadStyleSheet(const QString& path);
