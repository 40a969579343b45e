#pragma once

#include <QString>

#include <ostream>

// GoogleTest prints a value it does not know as its bytes, which turns a failed comparison of paths or rows into a
// wall of "2-byte object <61-00>". Every file of a test program that compares Qt strings includes this, so that each
// of them prints strings the same way.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
