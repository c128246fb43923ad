#pragma once
#include <QString>

namespace tevrin {

// Every message box of the tool goes through this service, so that tests can
// record the texts and answer the questions instead of waiting on a modal box.
class MessageService {
 public:
  virtual ~MessageService() = default;
  virtual void warning(const QString& text) = 0;      // caption "Warning", OK
  virtual void error(const QString& text) = 0;        // caption "Error", OK
  virtual void information(const QString& text) = 0;  // caption "Information", OK
  virtual bool confirm(const QString& text) = 0;      // caption "Confirmation", Yes/No
  virtual void plain(const QString& text) = 0;        // caption the app title, no icon
  // The general error display: app title caption, error icon, OK.
  virtual void applicationError(const QString& text) = 0;
};

MessageService& Messages();
// Installs a service (not owned); nullptr restores the default one, which
// writes to stderr and answers every question with No.
void SetMessageService(MessageService* service);

}  // namespace tevrin
