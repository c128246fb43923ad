#include "app/notifier.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace tevrin {
namespace {

const QString kNotificationInterface = QStringLiteral("org.freedesktop.Notifications");

QString ErrorText(const QDBusMessage& reply) {
  const QString text = reply.errorMessage().simplified();
  return QStringLiteral("служба уведомлений: ") + (text.isEmpty() ? reply.errorName() : text);
}

}  // namespace

QString ShowDesktopNotification(const QString& summary, const QString& body, int timeoutMs) {
  const QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    const QString why = bus.lastError().message().simplified();
    return QStringLiteral("нет сеансовой шины D-Bus") +
           (why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why));
  }

  const QDBusMessage capabilities =
      bus.call(QDBusMessage::createMethodCall(kNotificationService, kNotificationPath, kNotificationInterface,
                                              QStringLiteral("GetCapabilities")),
               QDBus::Block, timeoutMs);
  if (capabilities.type() != QDBusMessage::ReplyMessage) return ErrorText(capabilities);
  // A service with "body-markup" reads the body as a small subset of HTML:
  // a channel named "AT&T <HD>" must show as it is written.
  const bool markup =
      capabilities.arguments().value(0).toStringList().contains(QStringLiteral("body-markup"));

  QDBusMessage notify = QDBusMessage::createMethodCall(kNotificationService, kNotificationPath,
                                                       kNotificationInterface, QStringLiteral("Notify"));
  const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("org.tevrin.tevrin")}};
  notify << QStringLiteral("Tevrin") << 0U << QStringLiteral("tevrin") << summary
         << (markup ? body.toHtmlEscaped() : body) << QStringList() << hints << -1;
  const QDBusMessage reply = bus.call(notify, QDBus::Block, timeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage) return ErrorText(reply);
  return {};
}

}  // namespace tevrin
