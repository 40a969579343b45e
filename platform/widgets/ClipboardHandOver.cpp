#include "ClipboardHandOver.h"

#include "EventPump.h"

#include <QClipboard>
#include <QGuiApplication>

#if defined(QUILLORY_XCB)
#if QT_CONFIG(xcb)
#define QUILLORY_HAND_OVER_X11 1
#endif
#endif

#if defined(QUILLORY_HAND_OVER_X11)
#include <QAbstractNativeEventFilter>
#include <QTimer>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include <xcb/xcb.h>
#endif

#if defined(Q_OS_WIN)
#include <ole2.h>
#endif

#if defined(QUILLORY_HAND_OVER_X11)
namespace {

struct FreeReply
{
    void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply> using OwnedReply = std::unique_ptr<Reply, FreeReply>;

xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.data());
    const OwnedReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

xcb_window_t selectionOwner(xcb_connection_t* connection, xcb_atom_t selection)
{
    const xcb_get_selection_owner_cookie_t cookie = xcb_get_selection_owner(connection, selection);
    const OwnedReply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(connection, cookie, nullptr));
    return reply ? reply->owner : static_cast<xcb_window_t>(XCB_WINDOW_NONE);
}

// Qt reads the X events on a thread of its own and delivers them on the window's thread as its event
// loop runs; the manager's answer is picked out of them there.
class ManagerAnswer final : public QAbstractNativeEventFilter
{
public:
    ManagerAnswer(xcb_window_t requestor, xcb_atom_t manager) : m_requestor(requestor), m_manager(manager) {}

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        // The top bit only says that a client sent the event, as a manager's answer always is.
        if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY)
            return false;
        const auto* notify = static_cast<const xcb_selection_notify_event_t*>(message);
        if (notify->requestor != m_requestor || notify->selection != m_manager)
            return false;
        // No property means the manager could not take the text.
        m_outcome = notify->property == XCB_ATOM_NONE ? ClipboardHandOver::Refused : ClipboardHandOver::HandedOver;
        // The answer is to our request, not Qt's; its time of 0 must not become Qt's idea of the time.
        return true;
    }

    std::optional<ClipboardHandOver> outcome() const { return m_outcome; }

private:
    xcb_window_t m_requestor;
    xcb_atom_t m_manager;
    std::optional<ClipboardHandOver> m_outcome;
};

ClipboardHandOver handOverOnX11(EventPump& events, std::chrono::milliseconds patience)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!clipboard || !x11)
        return ClipboardHandOver::NothingToHandOver;
    const bool ownsClipboard = clipboard->ownsClipboard();
    if (!ownsClipboard && !clipboard->ownsSelection())
        return ClipboardHandOver::NothingToHandOver;

    xcb_connection_t* connection = x11->connection();
    const xcb_atom_t manager = internAtom(connection, "CLIPBOARD_MANAGER");
    if (manager == XCB_ATOM_NONE || selectionOwner(connection, manager) == XCB_WINDOW_NONE)
        return ClipboardHandOver::NothingToHandOver;
    // Qt owns both selections through one window of its own: the manager fetches the text from it
    // and sends its answer there.
    const xcb_atom_t selection =
        ownsClipboard ? internAtom(connection, "CLIPBOARD") : static_cast<xcb_atom_t>(XCB_ATOM_PRIMARY);
    const xcb_window_t owner = selectionOwner(connection, selection);
    const xcb_atom_t saveTargets = internAtom(connection, "SAVE_TARGETS");
    const xcb_atom_t property = internAtom(connection, "QUILLORY_CLIPBOARD_HAND_OVER");
    if (owner == XCB_WINDOW_NONE || saveTargets == XCB_ATOM_NONE || property == XCB_ATOM_NONE)
        return ClipboardHandOver::NothingToHandOver;

    ManagerAnswer answer(owner, manager);
    qGuiApp->installNativeEventFilter(&answer);
    bool late = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&late] { late = true; });
    deadline.start(patience);

    // An empty property asks the manager to save every format the owner offers.
    xcb_delete_property(connection, owner, property);
    // No timestamp: the manager passes this one on when it asks the owner for the text, and Qt serves
    // a request without one for as long as it owns the selection.
    xcb_convert_selection(connection, owner, manager, saveTargets, property, XCB_CURRENT_TIME);
    xcb_flush(connection);
    // The manager asks for the formats, then the text, in pieces when it is large; Qt answers each
    // request from its event loop, so the loop runs until the manager says it is done.
    while (!answer.outcome() && !late)
        events.waitForEvents();
    qGuiApp->removeNativeEventFilter(&answer);
    return answer.outcome().value_or(ClipboardHandOver::NoAnswer);
}

} // namespace
#endif

ClipboardHandOver HandClipboardToManager(EventPump& events, std::chrono::milliseconds patience)
{
    if (!qGuiApp)
        return ClipboardHandOver::NothingToHandOver;
    const QString platform = QGuiApplication::platformName();
#if defined(QUILLORY_HAND_OVER_X11)
    // On X11 the text lives in its owner: it goes with the program unless a manager takes a copy.
    if (platform == QLatin1String("xcb"))
        return handOverOnX11(events, patience);
#endif
#if defined(Q_OS_WIN)
    // Qt offers the text through OLE, which renders it only when someone pastes; rendering it into
    // the clipboard now lets the system keep it after the program has gone.
    if (platform == QLatin1String("windows")) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        if (!clipboard || !clipboard->ownsClipboard())
            return ClipboardHandOver::NothingToHandOver;
        return SUCCEEDED(OleFlushClipboard()) ? ClipboardHandOver::HandedOver : ClipboardHandOver::Refused;
    }
#endif
    // Offscreen there is no desktop to keep anything; Wayland has no request for handing a selection
    // on, and its clipboard managers copy the text as soon as it is offered.
    Q_UNUSED(events);
    Q_UNUSED(patience);
    Q_UNUSED(platform);
    return ClipboardHandOver::NothingToHandOver;
}
