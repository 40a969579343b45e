#include "OptionHelp.h"

QString OptionHelpText()
{
    const QString lineBreak = QStringLiteral("\r\n");
    const QString blockBreak = lineBreak + lineBreak;
    const QString tag = QStringLiteral("Tag (Input): look");
    const QString sample = QStringLiteral("<look><here>hi</here></look>");
    return QStringLiteral("Extract All Between Tag") + lineBreak + tag + lineBreak + sample + lineBreak +
           QStringLiteral("will extract <here>hi</here>") + blockBreak + QStringLiteral("Extract Value Between Tag") +
           lineBreak + tag + lineBreak + sample + lineBreak + QStringLiteral("will extract hi") + blockBreak +
           QStringLiteral("Extract Entire Line Containing Tag") + lineBreak + tag + lineBreak + sample + lineBreak +
           QStringLiteral("will extract <look><here>hi</here></look>") + blockBreak +
           QStringLiteral("Extract All Data Between Quotes") + lineBreak +
           QStringLiteral("<record from=\"53000059\" to=\"graphics/pictures/person/53000059/portrait\"/> will extract "
                          "53000059 and graphics/pictures/person/53000059/portrait");
}
