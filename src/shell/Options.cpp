#include "shell/Options.h"

#include <filesystem>

namespace fs = std::filesystem;

const std::vector<TVideoSizeTableRow>& VideoSizeTable() {
  static const std::vector<TVideoSizeTableRow> table = {
      {"NTSC", 720, 480, 5000},
      {"PAL", 720, 576, 6000},
      {"HD720", 1280, 720, 12000},
      {"HD1080", 1920, 1080, 18000},
  };
  return table;
}

const std::vector<TVideoRateTableRow>& VideoRateTable() {
  static const std::vector<TVideoRateTableRow> table = {
      {"25", "25"}, {"29.97", "30000/1001"}, {"24", "24"}, {"23.98", "24000/1001"}};
  return table;
}

std::string VideoSizeItemText(const TVideoSizeTableRow& row) {
  return row.text + " " + std::to_string(row.y) + "x" + std::to_string(row.x);
}

std::string OptionDirKey(int kind) {
  switch (kind) {
    case odVideo: return "WinVideoDir";
    case odServers: return "ServersDir";
    default: return "HTMLDir";
  }
}

std::string OptionDirDefault(int kind) {
  switch (kind) {
    // On this system the video root defaults to a folder beside the project.
    case odVideo: return "..\\video";
    case odServers: return "..\\servers";
    default: return "..\\HTML";
  }
}

void ReadSetting(TDbFile& db, const std::string& Default, const std::string& collection,
                 std::string& value, const std::string& field, const std::string& recordID) {
  std::optional<TJson> rec;
  try {
    rec = db.CollectionByName(collection).GetRecord(recordID);
  } catch (const EDbReadError&) {
    throw;  // a failed read is no missing record: nothing is stored over it
  } catch (...) {
    rec.reset();
  }
  if (!rec || !rec->is_object()) {
    value = Default;
    WriteSetting(db, Default, collection, field, recordID);
    return;
  }
  value = JsonStr(*rec, field);
}

std::string ReadSetting(TDbFile& db, const std::string& Default, const std::string& collection,
                        const std::string& field, const std::string& recordID) {
  std::string value;
  ReadSetting(db, Default, collection, value, field, recordID);
  return value;
}

void WriteSetting(TDbFile& db, const std::string& value, const std::string& collection,
                  const std::string& field, const std::string& recordID) {
  try {
    TDbCollectionItem& coll = db.CollectionByName(collection);
    std::optional<TJson> rec = coll.GetRecord(recordID);
    if (!db.UseMongoDb() && db.SaveDisabled()) {
      // A write-protected project keeps the setting for this session only, and says nothing.
      TJson obj = rec && rec->is_object() ? *rec : TJson::object();
      obj[field] = value;
      coll.SetRecordNo1(recordID, obj);
      return;
    }
    if (rec && rec->is_object()) {
      (*rec)[field] = value;
      coll.UpdateRecord(recordID, *rec);
    } else {
      TJson obj = TJson::object();
      obj[field] = value;
      coll.NewRecord(recordID, obj);
    }
  } catch (...) {
    // A settings write that fails changes nothing the operator relies on.
  }
}

std::string GetOptionDir(TDbFile& db, int kind) {
  std::string value;
  ReadSetting(db, OptionDirDefault(kind), "Options", value, OptionDirKey(kind), "Options");
  if (value.empty()) {
    // An options record without this directory (another directory was asked for first) must
    // not give an empty root: package building would then work in the current folder. The
    // default is used, not stored: reading a folder never changes the project.
    value = OptionDirDefault(kind);
  }
  return ExpandProjectPath(db, value);
}

namespace {
std::string& GPathBase() {
  static std::string base;
  return base;
}

std::string WithoutTrailingDelimiter(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}
}  // namespace

void SetPathBase(const std::string& dir) {
  if (dir.empty()) {
    GPathBase().clear();
    return;
  }
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(dir), ec);
  GPathBase() = WithoutTrailingDelimiter((ec ? fs::path(dir) : p).lexically_normal().string());
}

std::string PathBase() {
  if (!GPathBase().empty()) return GPathBase();
  std::error_code ec;
  fs::path cwd = fs::current_path(ec);
  return ec ? std::string(".") : WithoutTrailingDelimiter(cwd.lexically_normal().string());
}

std::string ProjectDir(TDbFile& db) {
  if (db.FileName().empty()) return PathBase();
  fs::path p = fs::absolute(fs::path(db.FileName())).lexically_normal();
  return WithoutTrailingDelimiter(p.parent_path().string());
}

std::string ToNativePath(const std::string& stored) {
  std::string out = stored;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string ToStoredPath(const std::string& native) {
  std::string out = native;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string ExpandProjectPath(TDbFile& db, const std::string& path) {
  if (path.rfind("..\\", 0) != 0) return ToNativePath(path);
  std::string dir = ProjectDir(db);
  return (dir == "/" ? dir : dir + "/") + ToNativePath(path.substr(3));
}

std::string MakeProjectRelative(TDbFile& db, const std::string& path) {
  std::string dir = ProjectDir(db);
  if (dir.empty()) return path;
  std::string prefix = dir == "/" ? dir : dir + "/";
  if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0)
    return "..\\" + ToStoredPath(path.substr(prefix.size()));
  return path;
}

namespace {
bool IsDelimiter(char c) { return c == '/' || c == '\\'; }
}  // namespace

std::string JoinRootPath(const std::string& root, const std::string& name) {
  std::string r = root;
  while (r.size() > 1 && IsDelimiter(r.back())) r.pop_back();
  std::string n = ToNativePath(name);
  if (!n.empty() && n[0] == '/') return r + n;
  return r + "/" + n;
}

std::string RelativeToRoot(const std::string& root, const std::string& path) {
  if (root.empty() || path.compare(0, root.size(), root) != 0) return path;
  size_t i = root.size();
  // "/video" is not the root of "/video2/film".
  if (!IsDelimiter(root.back()) && i < path.size() && !IsDelimiter(path[i])) return path;
  while (i < path.size() && IsDelimiter(path[i])) ++i;
  return path.substr(i);
}

TJson ReadOptions(TDbFile& db) {
  TJson rec = TJson::object();
  try {
    if (auto r = db.CollectionByName("Options").GetRecord("Options"); r && r->is_object())
      rec = *r;
  } catch (const EDbReadError&) {
    throw;
  } catch (...) {
  }
  auto fill = [&rec](const char* key, const TJson& value) {
    if (!rec.contains(key)) rec[key] = value;
  };
  fill("AspectRatio", "16:9");
  fill("BitRate", 12000);
  fill("Resolution", "HD720");
  fill("FrameRate", "25");
  fill("MoveFile", false);
  fill("KeepExt", false);
  return rec;
}
