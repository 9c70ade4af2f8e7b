// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>
#include <QWidget>
#include <vector>

#include "shell/blockdiagram.h"

namespace {

// One block of the diagram: a button named after the editor it opens.
class BlockInterface : public QAccessibleInterface, public QAccessibleActionInterface {
 public:
  BlockInterface(BlockDiagram* diagram, int block) : diagram_(diagram), block_(block) {}

  bool isValid() const override { return diagram_ != nullptr; }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return diagram_->window()->windowHandle(); }
  QAccessibleInterface* parent() const override {
    return QAccessible::queryAccessibleInterface(diagram_);
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessibleInterface* focusChild() const override { return nullptr; }
  QString text(QAccessible::Text t) const override {
    const DiagramBlock& b = BlockDiagram::blocks()[static_cast<std::size_t>(block_)];
    if (t == QAccessible::Name) return QString("%1 editor").arg(b.name);
    if (t == QAccessible::Description)
      return diagram_->visited(block_) ? QStringLiteral("opened before") : QString();
    return {};
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    const DiagramBlock& b = BlockDiagram::blocks()[static_cast<std::size_t>(block_)];
    const QRect local(b.x1, b.y1, b.x2 - b.x1, b.y2 - b.y1);
    return QRect(diagram_->mapToGlobal(local.topLeft()), local.size());
  }
  QAccessible::Role role() const override { return QAccessible::Button; }
  QAccessible::State state() const override {
    QAccessible::State s;
    s.focusable = true;
    s.focused = diagram_->hasFocus() && diagram_->focusedBlock() == block_;
    s.disabled = !diagram_->blockEnabled(block_);
    s.invisible = !diagram_->isVisible();
    return s;
  }
  void* interface_cast(QAccessible::InterfaceType t) override {
    return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                             : nullptr;
  }
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& name) override {
    if (name == pressAction() && diagram_->blockEnabled(block_))
      emit diagram_->blockPressed(block_);
  }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 private:
  QPointer<BlockDiagram> diagram_;
  int block_;
};

// The diagram: a picture whose children are its blocks.
class DiagramInterface : public QAccessibleWidget {
 public:
  explicit DiagramInterface(BlockDiagram* diagram)
      : QAccessibleWidget(diagram, QAccessible::Graphic) {
    std::vector<QAccessible::Id> ids;
    for (int i = 0; i < BlockDiagram::kBlockCount; ++i) {
      auto* block = new BlockInterface(diagram, i);
      ids.push_back(QAccessible::registerAccessibleInterface(block));
      blocks_.push_back(block);
    }
    // The blocks go with the diagram; the accessibility cache takes what is
    // left when the application ends.
    QObject::connect(diagram, &QObject::destroyed, [ids] {
      for (QAccessible::Id id : ids) QAccessible::deleteAccessibleInterface(id);
    });
  }
  int childCount() const override { return static_cast<int>(blocks_.size()); }
  QAccessibleInterface* child(int index) const override {
    return index >= 0 && index < childCount() ? blocks_[static_cast<std::size_t>(index)] : nullptr;
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    for (std::size_t i = 0; i < blocks_.size(); ++i)
      if (blocks_[i] == child) return static_cast<int>(i);
    return -1;
  }
  QAccessibleInterface* focusChild() const override {
    auto* d = static_cast<BlockDiagram*>(widget());
    return d->hasFocus() ? child(d->focusedBlock()) : nullptr;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    auto* d = static_cast<BlockDiagram*>(widget());
    return child(BlockDiagram::blockAt(d->mapFromGlobal(QPoint(x, y))));
  }

 private:
  std::vector<QAccessibleInterface*> blocks_;
};

std::function<void(QAccessible::Event, const QString&)>& Recorder() {
  static std::function<void(QAccessible::Event, const QString&)> recorder;
  return recorder;
}

void Announce(QAccessibleEvent& event) {
  if (Recorder())
    Recorder()(event.type(), event.accessibleInterface()->text(QAccessible::Name));
  else
    QAccessible::updateAccessibility(&event);
}

QAccessibleInterface* Factory(const QString& className, QObject* object) {
  if (className == QLatin1String("BlockDiagram"))
    return new DiagramInterface(static_cast<BlockDiagram*>(object));
  // The production station is a window of its own, not a pane of another.
  if (className == QLatin1String("frmProduction"))
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
  return nullptr;
}

}  // namespace

void InstallAccessibleFactories() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(Factory);
}

void AnnounceDiagramFocus(QWidget* diagram, int block) {
  if (!QAccessible::isActive() && !Recorder()) return;  // nobody listens: no interfaces made
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(diagram);
  if (QAccessibleInterface* child = iface ? iface->child(block) : nullptr) {
    QAccessibleEvent event(child, QAccessible::Focus);
    Announce(event);
  }
}

void AnnounceResult(QWidget* label) {
  if (!QAccessible::isActive() && !Recorder()) return;
  QAccessibleEvent event(label, QAccessible::Alert);
  Announce(event);
}

void RecordAnnouncements(std::function<void(QAccessible::Event, const QString&)> recorder) {
  Recorder() = std::move(recorder);
}
