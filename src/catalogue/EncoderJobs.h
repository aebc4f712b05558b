#pragma once
// The encoder's job list: one row per source file, processed one at a time. A source that is
// not yet a transport stream is encoded next to itself; the result must lie below the video
// root, its length is measured, the source may be moved away into "Source", and the finished
// rows become [relative file, duration] pairs for new film records.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/encoder.h"
#include "recstore/Json.h"

class IOperator;
class TDbFile;

// Who turns finished encoder rows into film records: the films windows register it at
// start-up, so the encoder's window meets them without including them. Gets the
// [file, duration] pairs; false with the reason in Why when it could not take them.
using TFilmRecordsTaker = std::function<bool(TDbFile& db, const TJson& pairs, std::string& why)>;
void SetFilmRecordsTaker(TFilmRecordsTaker taker);
const TFilmRecordsTaker& FilmRecordsTaker();

struct TEncoderRow {
  std::string Source;   // absolute path of the source
  std::string Encoded;  // the encoded file, once made
  std::string Status;   // "&Enc"/"&Don"/"&Err" followed by the text; empty before its turn
};

// The status tag and its text.
std::string StatusTag(const std::string& status);
std::string StatusText(const std::string& status);

// The output file of a source: with KeepExt film.avi.m2t, otherwise film.m2t.
std::string EncodedFileName(const std::string& source, bool keepExt);
// Whether Path lies below Root (compared as the file system compares names, letter case
// counting, at a folder boundary).
bool IsBelowRoot(const std::string& root, const std::string& path);
// Path relative to Root (leading separators removed) when it lies below it, else unchanged.
std::string PathBelowRoot(const std::string& root, const std::string& path);

using TLengthProbe = std::function<std::optional<int64_t>(const std::string& path, int timeoutMs)>;

class TEncoderJobList {
public:
  // Progress and row changes reach the caller through Op (AppOperator() when null).
  explicit TEncoderJobList(TEncoderSettings settings, IOperator* op = nullptr);
  ~TEncoderJobList();

  std::vector<TEncoderRow> Rows;
  int CurrIndex = 0;     // the row being processed
  bool Running = false;  // rows are being processed

  // Called on the user-interface thread whenever a row's columns change.
  std::function<void(int row)> OnRowChanged;
  // Runs every 100 ms while an encoding or a probe is waited for.
  std::function<void()> Idle;
  // Measures a file's length in milliseconds; ProbeMediaLength unless replaced.
  TLengthProbe Probe;

  // Appends one row per file and processes the rows unless that is already going on.
  void AddFiles(const std::vector<std::string>& files);
  // Processes rows from CurrIndex to the end.
  void ProcessRows();
  // Stops after the current row (the CLI's Ctrl+C); a running encoding is cancelled.
  void Stop();
  bool Stopped() const { return FStop; }

  // Available once processing has finished.
  bool CreateEnabled() const { return FCreateEnabled; }
  // [file relative to the video root in its stored form, duration "hh:mm:ss,mcs"] for every
  // finished row.
  TJson CreateRecordPairs() const;
  // "Create records": hands the pairs to Taker (the films windows' taker, FilmRecordsTaker).
  // Without any finished row warns "Nothing to create"; when the records cannot be handed
  // over it says why and the list stays. True only when the records were handed over.
  bool CreateRecords(const TFilmRecordsTaker& taker, TDbFile& db);

  TffmpegEncoder& Encoder() { return *FEncoder; }
  const TEncoderSettings& Settings() const { return FSettings; }

private:
  void ProcessRow(int row);
  void SetStatus(int row, const std::string& status);
  void Changed(int row);
  std::optional<int64_t> MeasureLength(const std::string& path);
  bool MoveSource(const std::string& source);

  TEncoderSettings FSettings;
  IOperator* FOp;
  std::unique_ptr<TffmpegEncoder> FEncoder;
  int FEncodingRow = -1;
  bool FCreateEnabled = false;
  bool FStop = false;
};
