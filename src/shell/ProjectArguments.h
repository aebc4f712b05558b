#pragma once
// What the command line opens as the main database: a project file, or a MongoDB database
// given as a host (optionally ":" and a port) and a database name. Shared by the window
// program and pelmora-cli.
#include <functional>
#include <string>
#include <vector>

#include "recstore/JrecClasses.h"

inline constexpr int DefaultMongoPort = 27017;

struct TProjectArguments {
  enum class TKind { None, File, Mongo };
  TKind Kind = TKind::None;
  std::string FileName;  // File
  std::string Host;      // Mongo
  int Port = DefaultMongoPort;
  std::string DbName;
  std::string Error;  // why a MongoDB address was not accepted ("" when it was, or none given)
};

// Args are the arguments after the program name. When the first names an existing file, that
// file is the project. Otherwise, with a second argument, the first is "host[:port]" and the
// second the database name. Anything else, a malformed port included, opens nothing (Error
// then says why). FileExists defaults to the file system.
TProjectArguments ParseProjectArguments(
    const std::vector<std::string>& args,
    const std::function<bool(const std::string&)>& fileExists = {});

// "host[:port]"; "[v6 address][:port]" is accepted too. The port is the decimal text after the
// first ":" (1 to 65535); without ":" it is 27017. False with Error set when malformed.
bool ParseMongoHostPort(const std::string& text, std::string& host, int& port,
                        std::string& error);

// "HOST[:PORT]/DB", the form of pelmora-cli's --mongo option.
TProjectArguments ParseMongoAddress(const std::string& text);

// Points the database at what Args name (file mode with the file name, or MongoDB mode with
// host, port and database name) and loads it. Returns false without touching the database when
// Args name nothing.
bool OpenProjectArguments(TDbFile& db, const TProjectArguments& args);
