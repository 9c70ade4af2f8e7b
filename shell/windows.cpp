#include "shell/windows.h"

Windows& Windows::instance() {
  static Windows w;
  return w;
}

void Windows::registerFactory(WindowId id, Factory factory) {
  factories_[id] = std::move(factory);
}

EditorWindow* Windows::get(WindowId id) {
  auto it = windows_.find(id);
  if (it != windows_.end()) return it->second;
  auto f = factories_.find(id);
  if (f == factories_.end()) return nullptr;
  EditorWindow* w = f->second();
  windows_[id] = w;
  return w;
}

EditorWindow* Windows::existing(WindowId id) const {
  auto it = windows_.find(id);
  return it == windows_.end() ? nullptr : it->second;
}

void Windows::destroyAll() {
  auto ws = std::move(windows_);
  windows_.clear();
  for (auto& [id, w] : ws) delete w;
}
