#include "recstore/JrecClasses.h"

#include <fmt/format.h>

namespace {

// Stands in until the MongoDB driver is wired in: every connection attempt fails with a clear
// message, so a project never silently opens empty.
class TNoMongoStorage : public TDbStorage {
public:
  explicit TNoMongoStorage(TDbFile& db) : FDb(db) {}
  bool IsMongoDb() const override { return true; }
  bool Load() override {
    FDb.Operator().MessageBox(
        "Error", fmt::format("Connection Failed {}", "MongoDB support is not built in"),
        TMsgIcon::Error);
    return false;
  }
  std::optional<TJson> GetRecord(TDbCollectionItem&, const std::string&, int64_t*,
                                 bool) override {
    return std::nullopt;
  }
  bool ChangeRecord(TDbCollectionItem&, const std::string&, const TJson*, TChangeRecordTtp, bool,
                    int64_t) override {
    return false;
  }

private:
  TDbFile& FDb;
};

}  // namespace

std::unique_ptr<TDbStorage> CreateMongoStorage(TDbFile& db) {
  return std::make_unique<TNoMongoStorage>(db);
}
