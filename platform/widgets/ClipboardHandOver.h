#pragma once

#include <chrono>

class EventPump;

// What became of the program's clipboard text when it was handed on before the program ended.
enum class ClipboardHandOver
{
    // The program owns no clipboard text, nobody is there to take it, or the system keeps it anyway.
    NothingToHandOver,
    // The text stays on the clipboard after the program has gone.
    HandedOver,
    // The desktop's clipboard manager, or the system, answered without taking the text.
    Refused,
    // The desktop's clipboard manager did not answer in time.
    NoAnswer,
};

// The program ends without shutting Qt down (a worker may still be parsing, and no destructor may
// run), so Qt never gets to pass the text the program put on the clipboard to whoever keeps it
// after the owner has gone, and a paste after the program ended would find nothing. Call this just
// before ending: on X11 it asks the desktop's clipboard manager to take a copy and lets Qt answer
// the manager's requests through the event pump until the manager says it is done, or patience
// runs out. The window should be hidden first, so that the end still looks immediate.
ClipboardHandOver HandClipboardToManager(EventPump& events,
                                         std::chrono::milliseconds patience = std::chrono::seconds(5));
