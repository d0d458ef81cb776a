// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

// Runs `action` on the next modal window that opens, from inside that window's own event loop.
// Windows already modal when this is called are not taken.
void OnNextModal(std::function<void(QWidget*)> action);

// The text of the next message box, which is then dismissed.
class MessageBoxCatcher {
 public:
  MessageBoxCatcher();
  bool Seen() const { return *seen_; }
  QString Text() const { return *text_; }

 private:
  std::shared_ptr<bool> seen_;
  std::shared_ptr<QString> text_;
};
