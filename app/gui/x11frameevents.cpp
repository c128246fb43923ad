#include "app/gui/x11frameevents.h"

#include <QtGui/qguiapplication_platform.h>
#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace tevrin {

std::unique_ptr<X11FrameEvents> X11FrameEvents::watch(QWindow* window, Listener listener) {
  // Other platforms may answer for X11 too (offscreen does, without a connection).
  if (!qGuiApp || !window || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection) return nullptr;
  static constexpr char kFrameExtents[] = "_NET_FRAME_EXTENTS";
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, std::strlen(kFrameExtents), kFrameExtents), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);  // xcb allocates its replies with malloc
  std::unique_ptr<X11FrameEvents> events(new X11FrameEvents(window, atom, std::move(listener)));
  QCoreApplication::instance()->installNativeEventFilter(events.get());
  return events;
}

X11FrameEvents::X11FrameEvents(QWindow* window, std::uint32_t frameExtentsAtom, Listener listener)
    : window_(window),
      xid_(static_cast<std::uint32_t>(window->winId())),
      frameExtentsAtom_(frameExtentsAtom),
      listener_(std::move(listener)) {}

X11FrameEvents::~X11FrameEvents() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
}

// Later, once Qt has taken the event in: its geometry and frame margins are
// then those the event carried.
void X11FrameEvents::report(Event event) {
  switch (event) {
    case Event::Reparented: reparented_ = true; break;
    case Event::Mapped: mapped_ = true; break;
    case Event::FrameAnnounced: frameAnnounced_ = true; break;
    case Event::Configured: configuredAfterMap_ = configuredAfterMap_ || mapped_; break;
  }
  const bool frameKnown = mapped_ && (frameAnnounced_ || configuredAfterMap_ || !reparented_);
  if (!window_) return;
  QMetaObject::invokeMethod(
      window_, [listener = listener_, event, frameKnown] { listener(event, frameKnown); },
      Qt::QueuedConnection);
}

bool X11FrameEvents::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* /*result*/) {
  if (eventType != "xcb_generic_event_t" || !message) return false;
  const auto* generic = static_cast<const xcb_generic_event_t*>(message);
  // The high bit marks an event sent by another client (the window manager's
  // synthetic ConfigureNotify): the same event for this purpose.
  switch (generic->response_type & 0x7f) {
    case XCB_REPARENT_NOTIFY: {
      const auto* e = static_cast<const xcb_reparent_notify_event_t*>(message);
      if (e->window == xid_) report(Event::Reparented);
      break;
    }
    case XCB_MAP_NOTIFY: {
      const auto* e = static_cast<const xcb_map_notify_event_t*>(message);
      if (e->window == xid_) report(Event::Mapped);
      break;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto* e = static_cast<const xcb_property_notify_event_t*>(message);
      if (e->window == xid_ && e->atom == frameExtentsAtom_ && e->state == XCB_PROPERTY_NEW_VALUE)
        report(Event::FrameAnnounced);
      break;
    }
    case XCB_CONFIGURE_NOTIFY: {
      const auto* e = static_cast<const xcb_configure_notify_event_t*>(message);
      if (e->window == xid_) report(Event::Configured);
      break;
    }
    default: break;
  }
  return false;  // Qt handles every event as usual
}

}  // namespace tevrin
