// quillory-worker: parses pages for the window in a process of its own, so that a page that crashes the parser or
// exhausts its memory costs only that page.

#include "WorkerServer.h"

#include <QStringList>

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return ServeDocuments(arguments);
}
