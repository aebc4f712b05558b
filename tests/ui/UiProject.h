#pragma once
// A main database in a temporary project file, with a scripted operator answering the
// windows' questions, for the window tests.
#include <memory>
#include <string>

#include "shell/Databases.h"
#include "support/TestSupport.h"

struct TUiProject {
  TScopedFakeOperator Op;
  TTempDir Tmp;
  std::unique_ptr<TDbFile> Db = CreateMainDatabase();
  TUiProject() {
    Db->SetFileName(Tmp.File("p.pq2pr"));
    Db->New();
  }
  TDbCollectionItem& Coll(const std::string& name) { return Db->CollectionByName(name); }
};
