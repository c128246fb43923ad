#pragma once
#include <QString>

namespace tevrin {

// The freedesktop notification service on the session bus.
inline const QString kNotificationService = QStringLiteral("org.freedesktop.Notifications");
inline const QString kNotificationPath = QStringLiteral("/org/freedesktop/Notifications");

// Shows one desktop notification from Tevrin. The body is plain text; for a
// service that reads markup in bodies it is escaped first. Each call to the
// service waits at most `timeoutMs`. Returns an empty text when the service
// took the notification, else why not on one line (no session bus, no
// service, the service's error).
QString ShowDesktopNotification(const QString& summary, const QString& body, int timeoutMs = 10000);

}  // namespace tevrin
