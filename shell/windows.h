// The editor windows: created the first time the summary refresh or a click
// needs them, then hidden, never destroyed.
#pragma once

#include <QDialog>
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
