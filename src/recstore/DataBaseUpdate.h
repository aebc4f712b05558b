#pragma once
// Conversion of older project files, step by step from the file's layout version to the one the
// program supports, with the record-rewriting operations the steps use.
#include <functional>
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"

struct TDBUpdateTableRow {
  std::string OldVersion;
  std::string newVersion;
  std::function<bool()> Proc;
};

class TDbUpdateTable {
public:
  explicit TDbUpdateTable(TDbFile& DBFile) : FDbfile(DBFile) {}

  void Add(const std::string& OldVer, const std::string& NewVer, std::function<bool()> Proc);
  // Runs the steps from the database's loaded version up to its supported version. False when
  // no step leads on or a step fails (a step's exception included); Error then says which step
  // and why.
  bool Update();
  const std::string& Error() const { return FError; }

  using TRecordChange = std::function<void(TJson& record, const TJson& param)>;
  // Applies Change to every record of the collection, in place (file mode) or written back
  // with counter checking (MongoDB mode; a refused write raises "Error! Can't change record!").
  void ForEachRecord(const std::string& collection, const TRecordChange& change,
                     const TJson& param);
  // Inserts Value (null when absent) at ColumnIndex of every row of the table in TableKey of
  // every record. A record without that table, or a row that is not an array, raises.
  void InsertTableColumn(const std::string& collection, const std::string& tableKey,
                         int columnIndex, const TJson* value = nullptr);
  void SetField(const std::string& collection, const std::string& key, const TJson& value);
  // Gives every top-level folder of every tree document a new identifier.
  void FixTreeFolders(const std::string& treeCollection);

  const std::vector<TDBUpdateTableRow>& Rows() const { return Farray; }

private:
  std::vector<TDBUpdateTableRow> Farray;
  TDbFile& FDbfile;
  std::string FError;
};

// The upgrade handler of the main database: the steps 0.0.0.0 -> 2.0.2.0 -> 2.0.8.0 -> 2.0.8.4.
// A failure raises std::runtime_error naming the step and the reason.
void DbF1DataBaseUpdate(TDbFile& Sender, bool& Success);
