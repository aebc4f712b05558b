#pragma once
// Editors and views that one room's windows lend to the windows of another room, which may not
// include them: the room that builds a piece registers it here, at start-up, and the others
// find it by its role. A role nobody registered is empty.
#include <QWidget>
#include <functional>

#include "recstore/JrecClasses.h"

class TPasLibVlcPlayer;

// Edits a command list (a JSON array of command objects) in place for an element type of the
// command table; true when the operator saved it. Db names the channels of channel commands.
using TCommandListEditor =
    std::function<bool(QWidget* parent, TJson& list, int elemType, TDbFile* db)>;
void SetCommandListEditor(TCommandListEditor editor);
const TCommandListEditor& CommandListEditor();

// A widget inside Parent showing the picture of a player it makes and owns; the player is
// handed back in *Player and lives as long as the widget.
using TVideoViewFactory = std::function<QWidget*(QWidget* parent, TPasLibVlcPlayer** player)>;
void SetVideoViewFactory(TVideoViewFactory factory);
const TVideoViewFactory& VideoViewFactory();

// Something changed the records of a collection (added, deleted, renamed): windows that list
// them (the main window's menu of control panels) refresh.
using TCollectionChangedHandler = std::function<void(const std::string& collection)>;
// Returns a handle for RemoveCollectionChangedHandler.
int AddCollectionChangedHandler(TCollectionChangedHandler handler);
void RemoveCollectionChangedHandler(int handle);
void NotifyCollectionChanged(const std::string& collection);
