#pragma once
#include "app/messages.h"

class QWidget;

namespace tevrin {

// The message service of the window: the toolkit's standard boxes.
class MessageBoxes final : public MessageService {
 public:
  void warning(const QString& text) override;
  void error(const QString& text) override;
  void information(const QString& text) override;
  bool confirm(const QString& text) override;
  void plain(const QString& text) override;
  void applicationError(const QString& text) override;
};

}  // namespace tevrin
