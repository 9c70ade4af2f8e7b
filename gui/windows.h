// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The editor windows: created the first time the summary refresh or a click
// needs them, then hidden, never destroyed.
#pragma once

#include <QDialog>
#include <QMargins>
#include <functional>
#include <map>

enum class WindowId {
  GPIO,
  CAN,
  AtoD,
  PWM1,
  PWM2,
  PWMSlider,
  DCSlider,
  STCON,
  UserReg,
  MemoryMap,
};

class QScreen;
class QScrollArea;

// The area a window of ours may take on a screen: its available geometry.
// Where the window system reports the whole output as available although a
// panel may cover part of it (Wayland tells clients nothing of panels),
// kUnknownPanelHeight is kept free, so a window's foot (its status bar, its
// buttons) stays visible wherever the compositor puts the window.
constexpr int kUnknownPanelHeight = 48;
QRect WorkAreaOf(const QRect& available, const QRect& screen, bool panelsReported);
QRect WorkArea(const QScreen* screen);

// The window frame around a top-level window's inside, as the window system
// drew it; before the window is framed, a title bar's height at the top.
QMargins WindowFrame(const QWidget* window);

// Before a window's first showing: polishes it and activates its layout, so
// its native window is made at the laid-out size. Made at the default size and
// resized before its first frame, a Wayland surface can keep part of the old
// size (a band of stale pixels beside the contents).
void LayOutBeforeCreation(QWidget* window);

// Base of every editor window.
class EditorWindow : public QDialog {
  Q_OBJECT
 public:
  using QDialog::QDialog;
  // This window's section of the summary refresh: shows the register set
  // without changing register bytes (windows that take part in it).
  virtual void showRegisterSet() {}
  // The device variant changed: ZK7B (true) has no A/D converter.
  virtual void deviceVariantChanged(bool /*zk7b*/) {}

  // A window larger than the area it is shown in (its frame included) gets its
  // contents, laid out as ever, into a scroll area, and is made to fit; one
  // that fits is left as it is. Done each time the window is shown, in the
  // available area of its screen.
  void fitInto(const QRect& area);
  // The scroll area, once the window needed one.
  QScrollArea* scrollArea() const { return scroll_; }
  void setVisible(bool visible) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QScrollArea* scroll_ = nullptr;
};

class Windows {
 public:
  using Factory = std::function<EditorWindow*()>;
  static Windows& instance();

  void registerFactory(WindowId id, Factory factory);
  bool has(WindowId id) const { return factories_.count(id) != 0; }
  // The registered factory (empty when none); tests put a stand-in window in
  // place and restore the real one afterwards.
  Factory factory(WindowId id) const {
    auto it = factories_.find(id);
    return it == factories_.end() ? Factory() : it->second;
  }
  void unregisterFactory(WindowId id) { factories_.erase(id); }
  // The window, created hidden on first use; nullptr when none is registered.
  EditorWindow* get(WindowId id);
  // The window if it was created already.
  EditorWindow* existing(WindowId id) const;
  // Deletes every created window (tests start from a fresh set).
  void destroyAll();

 private:
  std::map<WindowId, Factory> factories_;
  std::map<WindowId, EditorWindow*> windows_;
};

template <class T>
T* window(WindowId id) {
  return qobject_cast<T*>(Windows::instance().get(id));
}

// Registers the factories of every editor window (called once at start-up).
void RegisterAllWindows();
