#pragma once
#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWindow>

#include <cstdint>
#include <functional>
#include <memory>

namespace tevrin {

// What an X window manager does with one top-level window, as the X server
// tells it: the window manager reparents it into its frame, maps it,
// announces the frame (_NET_FRAME_EXTENTS) and answers every request to move
// or resize it with a ConfigureNotify. Each event reaches the listener after
// Qt has handled it, so the window's geometry and frame margins are current,
// together with whether the frame was known as of that event: once the
// window is mapped and the window manager has announced its frame or reported
// the framed window; a window mapped without being reparented has no window
// manager's frame.
class X11FrameEvents final : public QAbstractNativeEventFilter {
 public:
  enum class Event { Reparented, Mapped, FrameAnnounced, Configured };
  using Listener = std::function<void(Event, bool frameKnown)>;

  // Null when the application does not run on X11.
  static std::unique_ptr<X11FrameEvents> watch(QWindow* window, Listener listener);
  ~X11FrameEvents() override;
  X11FrameEvents(const X11FrameEvents&) = delete;
  X11FrameEvents& operator=(const X11FrameEvents&) = delete;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  X11FrameEvents(QWindow* window, std::uint32_t frameExtentsAtom, Listener listener);
  void report(Event event);

  QPointer<QWindow> window_;
  bool reparented_ = false, mapped_ = false, frameAnnounced_ = false, configuredAfterMap_ = false;
  std::uint32_t xid_;
  std::uint32_t frameExtentsAtom_;
  Listener listener_;
};

}  // namespace tevrin
