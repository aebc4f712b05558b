#include "catalogue/EncoderJobs.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <future>

#include "catalogue/PasLibVlcPlayer.h"
#include "base/CommonProcedures.h"
#include "base/Operator.h"
#include "base/StrUtils.h"
#include "shell/Options.h"

namespace fs = std::filesystem;

namespace {

bool IsSep(char c) { return c == '/' || c == '\\'; }

// Absolute, with "." and ".." resolved, so "root/../elsewhere" cannot pass for a file below
// the root.
std::string NormalPath(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(ToNativePath(path)), ec);
  if (ec) p = fs::path(ToNativePath(path));
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && IsSep(s.back())) s.pop_back();
  return s;
}

}  // namespace

std::string StatusTag(const std::string& status) { return status.substr(0, 4); }
std::string StatusText(const std::string& status) {
  return status.size() > 4 ? status.substr(4) : std::string();
}

std::string EncodedFileName(const std::string& source, bool keepExt) {
  if (keepExt) return source + ".m2t";
  fs::path p(source);
  if (!p.has_extension()) return source + ".m2t";
  return p.replace_extension(".m2t").string();
}

bool IsBelowRoot(const std::string& root, const std::string& path) {
  // Compared as the file system compares names: letter case counts here, so /x/video is not
  // below /x/VIDEO (it is another folder, and a path made from the root would not exist).
  std::string r = NormalPath(root);
  std::string p = NormalPath(path);
  if (r.empty() || p.size() <= r.size() || p.compare(0, r.size(), r) != 0) return false;
  return IsSep(r.back()) || IsSep(p[r.size()]);
}

std::string PathBelowRoot(const std::string& root, const std::string& path) {
  if (!IsBelowRoot(root, path)) return path;
  std::string r = NormalPath(root);
  std::string p = NormalPath(path);
  size_t i = r.size();
  while (i < p.size() && IsSep(p[i])) ++i;
  return p.substr(i);
}

TEncoderJobList::TEncoderJobList(TEncoderSettings settings, IOperator* op)
    : FSettings(std::move(settings)), FOp(op), FEncoder(std::make_unique<TffmpegEncoder>(op)) {
  Probe = [](const std::string& path, int timeoutMs) { return ProbeMediaLength(path, timeoutMs); };
  FEncoder->OnMsgEvent = [this](const std::string& msg) {
    // A late progress text of a finished job must not overwrite the row's final status.
    if (FEncodingRow >= 0 && FEncodingRow < static_cast<int>(Rows.size()))
      SetStatus(FEncodingRow, msg);
  };
}

TEncoderJobList::~TEncoderJobList() {
  FEncoder->Terminate();
  FEncoder.reset();
}

void TEncoderJobList::AddFiles(const std::vector<std::string>& files) {
  for (const auto& f : files) {
    Rows.push_back({NormalPath(f), "", ""});
    Changed(static_cast<int>(Rows.size()) - 1);
  }
  if (!Running) ProcessRows();
}

void TEncoderJobList::Stop() {
  FStop = true;
  FEncoder->Cancel();
}

void TEncoderJobList::ProcessRows() {
  Running = true;
  FCreateEnabled = false;
  while (CurrIndex < static_cast<int>(Rows.size()) && !FStop && !FEncoder->Terminated()) {
    ProcessRow(CurrIndex);
    ++CurrIndex;
  }
  FCreateEnabled = true;
  Running = false;
}

void TEncoderJobList::Changed(int row) {
  if (OnRowChanged) OnRowChanged(row);
}

void TEncoderJobList::SetStatus(int row, const std::string& status) {
  Rows[row].Status = status;
  Changed(row);
}

std::optional<int64_t> TEncoderJobList::MeasureLength(const std::string& path) {
  auto probe = Probe;
  int timeout = FSettings.ProbeTimeoutMs;
  auto result =
      std::async(std::launch::async, [probe, path, timeout] { return probe(path, timeout); });
  while (result.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
    if (Idle) Idle();
  }
  return result.get();
}

bool TEncoderJobList::MoveSource(const std::string& source) {
  std::string sourceRoot = JoinRootPath(FSettings.VideoRoot, "Source");
  if (IsBelowRoot(sourceRoot, source)) return true;
  fs::path target = JoinRootPath(sourceRoot, PathBelowRoot(FSettings.VideoRoot, source));
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  if (ec) return false;
  // An earlier source of the same name stays where it is.
  if (fs::exists(target, ec)) return false;
  fs::rename(source, target, ec);
  if (!ec) return true;
  if (ec != std::errc::cross_device_link) return false;
  if (!fs::copy_file(source, target, ec) || ec) {
    fs::remove(target, ec);
    return false;
  }
  return fs::remove(source, ec) && !ec;
}

void TEncoderJobList::ProcessRow(int row) {
  const std::string source = Rows[row].Source;
  std::string check = source;
  bool encode = LowerCase(fs::path(source).extension().string()) != ".m2t";
  if (encode) check = EncodedFileName(source, FSettings.KeepExt);
  // The output is written beside the source: refuse before hours of encoding, not after.
  if (!IsBelowRoot(FSettings.VideoRoot, check)) {
    SetStatus(row, "&Err" + std::string("Placed not in Video root derectory!"));
    return;
  }
  if (encode) {
    // film.avi and film.mp4 would both become film.m2t: the second encoding would replace the
    // file the first row already handed over with its own duration.
    for (int r = 0; r < row; ++r) {
      if (Rows[r].Encoded == check) {
        SetStatus(row, "&Err" + std::string("Encoded file \"") + check +
                           "\" is already made from \"" + Rows[r].Source + "\"");
        return;
      }
    }
    TffmpegCommand cmd = MakeEncodeCommand(FSettings, source, check);
    std::string workDir = FSettings.WorkDir.empty() ? DefaultEncoderWorkDir() : FSettings.WorkDir;
    FEncodingRow = row;
    TEncodeResult result = FEncoder->RunDosCmd(workDir, cmd, Idle);
    FEncodingRow = -1;
    if (result != E_ok) {
      if (FEncoder->Terminated()) return;
      SetStatus(row, "&Err" + FEncoder->ErrorMsg());
      return;
    }
    Rows[row].Encoded = check;
    Changed(row);
  }

  FCreateEnabled = false;
  std::optional<int64_t> length = MeasureLength(check);
  std::string text = length ? MediaTimeToStr("hh:mm:ss,mcs", *length) : "00:00:00,000";
  if (text == "00:00:00,000") {
    SetStatus(row, "&Err" + std::string("Invalid movie"));
    return;
  }
  SetStatus(row, "&Don" + text);
  if (encode && FSettings.MoveFile && !MoveSource(source))
    SetStatus(row, "&Err" + std::string("Can't move source file"));
}

TJson TEncoderJobList::CreateRecordPairs() const {
  TJson pairs = TJson::array();
  for (const auto& r : Rows) {
    if (StatusTag(r.Status) != "&Don") continue;
    std::string file = r.Encoded.empty() ? r.Source : r.Encoded;
    pairs.push_back(TJson::array(
        {ToStoredPath(PathBelowRoot(FSettings.VideoRoot, file)), StatusText(r.Status)}));
  }
  return pairs;
}

namespace {
TFilmRecordsTaker& TakerSlot() {
  static TFilmRecordsTaker taker;
  return taker;
}
}  // namespace

void SetFilmRecordsTaker(TFilmRecordsTaker taker) { TakerSlot() = std::move(taker); }
const TFilmRecordsTaker& FilmRecordsTaker() { return TakerSlot(); }

bool TEncoderJobList::CreateRecords(const TFilmRecordsTaker& taker, TDbFile& db) {
  IOperator& op = FOp ? *FOp : AppOperator();
  TJson pairs = CreateRecordPairs();
  if (pairs.empty()) {
    op.MessageBox("Warning", "Nothing to create", TMsgIcon::Warning);
    return false;
  }
  std::string why = "No films window can take them.";
  if (taker && taker(db, pairs, why)) return true;
  op.MessageBox("Warning", "The film records are not created. " + why +
                               " The finished files stay in the encoder's list; press \"Create records\" again.",
                TMsgIcon::Warning);
  return false;
}
