#pragma once
// The project's settings: the options record, small settings records, and the path helpers
// that turn stored directory values into real folders.
//
// Stored paths keep the form older consoles wrote: backslash separators, and the prefix "..\"
// meaning "inside the folder of the project file". ExpandProjectPath, GetOptionDir and
// JoinRootPath give native paths (with "/"); MakeProjectRelative and ToStoredPath give the
// stored form back.
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"

struct TVideoSizeTableRow {
  std::string text;
  int y;
  int x;
  int bitRate;
};
struct TVideoRateTableRow {
  std::string text;
  std::string val;
};
const std::vector<TVideoSizeTableRow>& VideoSizeTable();
const std::vector<TVideoRateTableRow>& VideoRateTable();
// "HD720 1280x720": the item the options window shows and stores for a preset.
std::string VideoSizeItemText(const TVideoSizeTableRow& row);

// The three root directories of the options record.
enum TOptionDirKind { odVideo = 0, odServers = 1, odHTML = 2 };
std::string OptionDirKey(int kind);
std::string OptionDirDefault(int kind);

// Reads a string field of a settings record; when the record cannot be read, gives Default and
// stores it. A record without the field gives "".
void ReadSetting(TDbFile& db, const std::string& Default, const std::string& collection,
                 std::string& value, const std::string& field, const std::string& recordID);
std::string ReadSetting(TDbFile& db, const std::string& Default, const std::string& collection,
                        const std::string& field, const std::string& recordID);
// Sets a field of a settings record, creating the record when needed. Failures are ignored.
void WriteSetting(TDbFile& db, const std::string& value, const std::string& collection,
                  const std::string& field, const std::string& recordID);

// A root directory of the options record as a native path; "..\" paths are absolute (against the
// project folder, or the path base without a project file).
std::string GetOptionDir(TDbFile& db, int kind);

// The folder that "..\" means for a database without a project file (a MongoDB database): the
// folder set here (the CLI's --base), otherwise the working directory of the program. Relative
// folders are made absolute against the working directory when set.
void SetPathBase(const std::string& dir);
std::string PathBase();
// The folder of the project file (native, no trailing delimiter); the path base without a file.
std::string ProjectDir(TDbFile& db);
// "..\x\y" becomes <project folder>/x/y; any other path is only turned into a native one
// (backslashes become "/"), so no stored path ever names a file with a backslash in it.
std::string ExpandProjectPath(TDbFile& db, const std::string& path);
// <project folder>/x/y becomes "..\x\y"; anything else is returned unchanged.
std::string MakeProjectRelative(TDbFile& db, const std::string& path);
// Root without a trailing delimiter, a delimiter unless Name begins with one, then Name; stored
// backslashes in Name become native delimiters.
std::string JoinRootPath(const std::string& root, const std::string& name);
// Path with Root and the leading delimiters after it removed, when Path begins with Root.
std::string RelativeToRoot(const std::string& root, const std::string& path);
// The stored form of a path and back: backslashes there, "/" on this system.
std::string ToNativePath(const std::string& stored);
std::string ToStoredPath(const std::string& native);

// The options record with the encoder's defaults filled in.
TJson ReadOptions(TDbFile& db);
