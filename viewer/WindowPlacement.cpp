// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowPlacement.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {

// Room left between a window and the buttons it stands beside.
constexpr int kGap = 8;

QRect AvailableFor(const QWidget* window) {
  const QScreen* screen = window != nullptr ? window->screen() : nullptr;
  if (screen == nullptr)
    screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect();
}

// The window manager's frame around `window`; before it first shows, the one around `like`.
QMargins FrameMargins(const QWidget* window, const QWidget* like) {
  const QWidget* framed =
      window->testAttribute(Qt::WA_WState_Created) || like == nullptr ? window : like;
  const QRect frame = framed->frameGeometry();
  const QRect inner = framed->geometry();
  return QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                  frame.right() - inner.right(), frame.bottom() - inner.bottom());
}

}  // namespace

QRect WithinScreen(const QRect& frame, const QRect& available) {
  if (available.isEmpty())
    return frame;
  QRect within = frame;
  within.moveLeft(
      std::max(available.left(), std::min(frame.left(), available.right() - frame.width() + 1)));
  within.moveTop(
      std::max(available.top(), std::min(frame.top(), available.bottom() - frame.height() + 1)));
  return within;
}

QRect PlaceBeside(const QSize& size, const QRect& main, const QRect& keepClear,
                  const QRect& available) {
  if (available.isEmpty())
    return QRect(main.topRight() + QPoint(1, 0), size);
  QRect placed(QPoint(), size.boundedTo(available.size()));
  const int top = std::clamp(main.top(), available.top(), available.bottom() - placed.height() + 1);
  const int right = available.right() - main.right();
  const int left = main.left() - available.left();
  if (right >= placed.width()) {
    placed.moveTopLeft(QPoint(main.right() + 1, top));
  } else if (left >= placed.width()) {
    placed.moveTopLeft(QPoint(main.left() - placed.width(), top));
  } else {
    // Over the main window's pictures, as far from its buttons as the screen allows.
    const int clearRight = available.right() - keepClear.right() - kGap;
    const int clearLeft = keepClear.left() - kGap - available.left();
    if (clearRight >= clearLeft) {
      placed.setWidth(std::min(placed.width(), std::max(clearRight, 1)));
      placed.moveTopLeft(QPoint(available.right() - placed.width() + 1, top));
    } else {
      placed.setWidth(std::min(placed.width(), std::max(clearLeft, 1)));
      placed.moveTopLeft(QPoint(available.left(), top));
    }
  }
  return placed;
}

QRect ButtonsOf(const QWidget* mainWindow) {
  QRect buttons;
  for (const QAbstractButton* button : mainWindow->findChildren<QAbstractButton*>())
    if (button->isVisibleTo(mainWindow))
      buttons |= QRect(button->mapToGlobal(QPoint(0, 0)), button->size());
  return buttons.isEmpty() ? mainWindow->frameGeometry() : buttons;
}

void KeepWithinScreen(QWidget* window) {
  const QMargins margins = FrameMargins(window, nullptr);
  const QRect frame(window->pos(), window->size().grownBy(margins));
  const QRect within = WithinScreen(frame, AvailableFor(window));
  if (within.topLeft() != frame.topLeft())
    window->move(within.topLeft());
}

void PlaceBesideMainWindow(QWidget* window, const QWidget* mainWindow) {
  if (window == nullptr)
    return;
  if (mainWindow == nullptr)
    return KeepWithinScreen(window);
  const QMargins margins = FrameMargins(window, mainWindow);
  const QSize size = window->size().expandedTo(window->minimumSize());
  const QRect placed = PlaceBeside(size.grownBy(margins), mainWindow->frameGeometry(),
                                   ButtonsOf(mainWindow), AvailableFor(mainWindow));
  window->resize(placed.size().shrunkBy(margins));
  // A top-level window's position is its frame's.
  window->move(placed.topLeft());
}
