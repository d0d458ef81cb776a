// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>
#include <functional>

// Runs `action` on the next modal window that opens, from inside that window's own event loop.
// Windows already modal when this is called are not taken.
void OnNextModal(std::function<void(QWidget*)> action);

// Makes `window` the active window, the one keys go to, asking the X server again while it is
// not: the other test programs on the same server take the focus too, and the server drops a
// request older than theirs. False when it did not come in `timeoutMs`.
bool TakeTheKeyboard(QWidget* window, int timeoutMs = 20000);

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
