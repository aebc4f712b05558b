#include "JFrame/SharedWidgets.h"

#include <map>

namespace {
TCommandListEditor& EditorSlot() {
  static TCommandListEditor editor;
  return editor;
}
TVideoViewFactory& VideoSlot() {
  static TVideoViewFactory factory;
  return factory;
}
std::map<int, TCollectionChangedHandler>& Handlers() {
  static std::map<int, TCollectionChangedHandler> handlers;
  return handlers;
}
}  // namespace

void SetCommandListEditor(TCommandListEditor editor) { EditorSlot() = std::move(editor); }
const TCommandListEditor& CommandListEditor() { return EditorSlot(); }
void SetVideoViewFactory(TVideoViewFactory factory) { VideoSlot() = std::move(factory); }
const TVideoViewFactory& VideoViewFactory() { return VideoSlot(); }

int AddCollectionChangedHandler(TCollectionChangedHandler handler) {
  static int next = 0;
  Handlers()[++next] = std::move(handler);
  return next;
}

void RemoveCollectionChangedHandler(int handle) { Handlers().erase(handle); }

void NotifyCollectionChanged(const std::string& collection) {
  // A copy: a handler may remove itself.
  auto handlers = Handlers();
  for (auto& [handle, h] : handlers)
    if (h) h(collection);
}
