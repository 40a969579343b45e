#pragma once

#include <QString>

// The message behind "Help": four short examples of what extraction gives, seventeen lines
// joined by CR LF, with no line break after the last.
QString OptionHelpText();
