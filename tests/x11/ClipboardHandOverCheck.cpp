// Puts a file's text on the clipboard as the window's copy does, then ends as the window's close does,
// with or without handing the clipboard on first, and prints what became of the text.
//
// Usage: quillory_clipboard_hand_over_check TEXT-FILE hand-over|end-at-once [PATIENCE-MS]

#include "ClipboardHandOver.h"
#include "EventPump.h"
#include "QtClipboard.h"

#include <QApplication>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* describe(ClipboardHandOver outcome)
{
    switch (outcome) {
    case ClipboardHandOver::NothingToHandOver:
        return "nothing to hand over";
    case ClipboardHandOver::HandedOver:
        return "handed over";
    case ClipboardHandOver::Refused:
        return "refused";
    case ClipboardHandOver::NoAnswer:
        return "no answer";
    }
    return "?";
}

[[noreturn]] void end(int status)
{
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const bool handOver = argc >= 3 && std::strcmp(argv[2], "hand-over") == 0;
    if (argc < 3 || argc > 4 || (!handOver && std::strcmp(argv[2], "end-at-once") != 0)) {
        std::fprintf(stderr, "usage: %s TEXT-FILE hand-over|end-at-once [PATIENCE-MS]\n", argv[0]);
        end(2);
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        end(2);
    }
    const QString text = QString::fromUtf8(file.readAll());

    QtClipboard clipboard;
    if (!clipboard.setText(text)) {
        std::puts("the clipboard refused the text");
        end(1);
    }
    if (handOver) {
        QtEventPump events;
        const std::chrono::milliseconds patience(argc == 4 ? std::atoi(argv[3]) : 5000);
        std::puts(describe(HandClipboardToManager(events, patience)));
    }
    end(0);
}
