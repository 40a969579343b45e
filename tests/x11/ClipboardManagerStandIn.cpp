// A desktop clipboard manager reduced to what the clipboard hand-over needs: it owns
// CLIPBOARD_MANAGER, and when a program asks it to save the clipboard (SAVE_TARGETS) it asks the
// clipboard's owner for its formats and for the text as UTF8_STRING, takes the text in pieces when the
// owner sends it so (INCR), writes it to a file and answers the program.
//
// Usage: quillory_clipboard_manager_stand_in save|refuse|silent SAVED-FILE READY-FILE
//   save    takes the text, writes it to SAVED-FILE, then answers that it is saved;
//   refuse  answers at once that nothing was saved;
//   silent  never answers.
// READY-FILE is created once the stand-in owns CLIPBOARD_MANAGER. Standard output says what happened:
// "save request", then "saved N bytes at once" or "... in P pieces", or why nothing was saved. After one request
// it ends (silent: it waits to be stopped); without one it gives up after 60 seconds with status 3.

#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

struct FreeReply
{
    void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply> using Owned = std::unique_ptr<Reply, FreeReply>;
using Clock = std::chrono::steady_clock;

struct Atoms
{
    xcb_atom_t manager, clipboard, saveTargets, targets, utf8, incr, transfer;
};

xcb_atom_t intern(xcb_connection_t* connection, std::string_view name)
{
    const Owned<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The next event, waiting until the deadline at most; none when it passes or the display goes.
Owned<xcb_generic_event_t> nextEvent(xcb_connection_t* connection, Clock::time_point deadline)
{
    for (;;) {
        if (xcb_generic_event_t* event = xcb_poll_for_event(connection))
            return Owned<xcb_generic_event_t>(event);
        if (xcb_connection_has_error(connection))
            return nullptr;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return nullptr;
        pollfd descriptor{xcb_get_file_descriptor(connection), POLLIN, 0};
        poll(&descriptor, 1, static_cast<int>(std::min<long long>(left, 1000)));
    }
}

int typeOf(const xcb_generic_event_t& event)
{
    // The top bit only says that a client sent the event.
    return event.response_type & 0x7f;
}

struct Property
{
    xcb_atom_t type = XCB_ATOM_NONE;
    std::string bytes;
};

// Reads the whole property and deletes it, which is also what asks an INCR sender for the next piece.
Property takeProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property)
{
    const Owned<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4),
        nullptr));
    xcb_flush(connection);
    if (!reply)
        return {};
    const auto* value = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return {reply->type, std::string(value, static_cast<size_t>(xcb_get_property_value_length(reply.get())))};
}

struct Fetched
{
    xcb_atom_t type = XCB_ATOM_NONE;
    std::string bytes;
    // How many pieces a text sent in pieces came in; 0 when it came at once.
    int pieces = 0;
};

// Converts the selection to the target on our window, as any program that pastes does.
std::optional<Fetched> fetch(xcb_connection_t* connection, xcb_window_t window, const Atoms& atoms,
                             xcb_atom_t selection, xcb_atom_t target, xcb_timestamp_t time)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    xcb_convert_selection(connection, window, selection, target, atoms.transfer, time);
    xcb_flush(connection);
    for (;;) {
        const Owned<xcb_generic_event_t> event = nextEvent(connection, deadline);
        if (!event)
            return std::nullopt;
        if (typeOf(*event) != XCB_SELECTION_NOTIFY)
            continue;
        const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(event.get());
        if (notify->requestor != window || notify->selection != selection)
            continue;
        if (notify->property == XCB_ATOM_NONE)
            return std::nullopt;
        break;
    }

    Property first = takeProperty(connection, window, atoms.transfer);
    if (first.type != atoms.incr)
        return Fetched{first.type, std::move(first.bytes), 0};

    // In pieces: each new value is one piece, and an empty one ends the text.
    Fetched fetched;
    for (;;) {
        const Owned<xcb_generic_event_t> event = nextEvent(connection, deadline);
        if (!event)
            return std::nullopt;
        if (typeOf(*event) != XCB_PROPERTY_NOTIFY)
            continue;
        const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
        if (change->window != window || change->atom != atoms.transfer || change->state != XCB_PROPERTY_NEW_VALUE)
            continue;
        Property piece = takeProperty(connection, window, atoms.transfer);
        if (piece.bytes.empty())
            return fetched;
        fetched.type = piece.type;
        fetched.bytes += piece.bytes;
        ++fetched.pieces;
    }
}

bool offers(const Fetched& targets, xcb_atom_t target)
{
    const size_t count = targets.bytes.size() / sizeof(xcb_atom_t);
    for (size_t i = 0; i < count; ++i) {
        xcb_atom_t offered;
        std::memcpy(&offered, targets.bytes.data() + i * sizeof(xcb_atom_t), sizeof offered);
        if (offered == target)
            return true;
    }
    return false;
}

bool writeFile(const char* path, const std::string& bytes)
{
    FILE* file = std::fopen(path, "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// Takes the clipboard's text for keeping; answers whether it was saved.
bool save(xcb_connection_t* connection, xcb_window_t window, const Atoms& atoms, xcb_timestamp_t time,
          const char* savedPath)
{
    const std::optional<Fetched> targets = fetch(connection, window, atoms, atoms.clipboard, atoms.targets, time);
    if (!targets || targets->type != XCB_ATOM_ATOM) {
        std::puts("the owner gave no formats");
        return false;
    }
    if (!offers(*targets, atoms.utf8)) {
        std::puts("the owner offers no UTF8_STRING");
        return false;
    }
    const std::optional<Fetched> text = fetch(connection, window, atoms, atoms.clipboard, atoms.utf8, time);
    if (!text || text->type != atoms.utf8) {
        std::puts("the owner gave no UTF8_STRING text");
        return false;
    }
    if (!writeFile(savedPath, text->bytes)) {
        std::printf("cannot write %s\n", savedPath);
        return false;
    }
    if (text->pieces == 0)
        std::printf("saved %zu bytes at once\n", text->bytes.size());
    else
        std::printf("saved %zu bytes in %d pieces\n", text->bytes.size(), text->pieces);
    return true;
}

void answer(xcb_connection_t* connection, const xcb_selection_request_event_t& request, bool saved)
{
    // xcb_send_event always sends 32 bytes, more than the event's own fields.
    union {
        xcb_selection_notify_event_t notify;
        char bytes[32];
    } event{};
    event.notify.response_type = XCB_SELECTION_NOTIFY;
    event.notify.time = request.time;
    event.notify.requestor = request.requestor;
    event.notify.selection = request.selection;
    event.notify.target = request.target;
    event.notify.property = saved ? request.property : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    // Checked, so that the server has sent the answer before we go: it drops what it has not yet read
    // from a client that disconnects.
    const xcb_void_cookie_t sent =
        xcb_send_event_checked(connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, event.bytes);
    if (xcb_generic_error_t* error = xcb_request_check(connection, sent)) {
        std::printf("the answer could not be sent (X error %d)\n", error->error_code);
        std::free(error);
    }
}

int serve(xcb_connection_t* connection, xcb_window_t window, const Atoms& atoms, std::string_view mode,
          const char* savedPath)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
    for (;;) {
        const Owned<xcb_generic_event_t> event = nextEvent(connection, deadline);
        if (!event) {
            std::puts("no save request came");
            return 3;
        }
        if (typeOf(*event) != XCB_SELECTION_REQUEST)
            continue;
        const auto& request = *reinterpret_cast<const xcb_selection_request_event_t*>(event.get());
        if (request.selection != atoms.manager || request.target != atoms.saveTargets) {
            answer(connection, request, false);
            continue;
        }
        std::puts("save request");
        std::fflush(stdout);
        if (mode == "silent")
            continue;
        const bool saved = mode == "save" && save(connection, window, atoms, request.time, savedPath);
        std::fflush(stdout);
        answer(connection, request, saved);
        return 0;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4 || (std::string_view(argv[1]) != "save" && std::string_view(argv[1]) != "refuse" &&
                      std::string_view(argv[1]) != "silent")) {
        std::fprintf(stderr, "usage: %s save|refuse|silent SAVED-FILE READY-FILE\n", argv[0]);
        return 2;
    }
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "cannot open the display\n");
        xcb_disconnect(connection);
        return 2;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);

    const Atoms atoms{intern(connection, "CLIPBOARD_MANAGER"), intern(connection, "CLIPBOARD"),
                      intern(connection, "SAVE_TARGETS"),      intern(connection, "TARGETS"),
                      intern(connection, "UTF8_STRING"),       intern(connection, "INCR"),
                      intern(connection, "STAND_IN_TRANSFER")};

    // Property changes on our window tell when the next piece of a text sent in pieces has come.
    const xcb_window_t window = xcb_generate_id(connection);
    const uint32_t eventMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, 0, window, screens.data->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &eventMask);
    xcb_set_selection_owner(connection, window, atoms.manager, XCB_CURRENT_TIME);
    const Owned<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atoms.manager), nullptr));
    if (!owner || owner->owner != window) {
        std::fprintf(stderr, "another clipboard manager runs\n");
        xcb_disconnect(connection);
        return 2;
    }
    if (!writeFile(argv[3], "")) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        xcb_disconnect(connection);
        return 2;
    }

    const int status = serve(connection, window, atoms, argv[1], argv[2]);
    std::fflush(stdout);
    xcb_disconnect(connection);
    return status;
}
