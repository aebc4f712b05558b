#include "shell/ProjectArguments.h"

#include <filesystem>

namespace {

bool ParsePort(const std::string& text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

}  // namespace

bool ParseMongoHostPort(const std::string& text, std::string& host, int& port,
                        std::string& error) {
  std::string h = text;
  std::string portText;
  bool hasPort = false;
  if (!text.empty() && text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos) {
      error = "unclosed \"[\" in host \"" + text + "\"";
      return false;
    }
    h = text.substr(1, close - 1);
    std::string rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') {
        error = "unexpected text after \"]\" in \"" + text + "\"";
        return false;
      }
      hasPort = true;
      portText = rest.substr(1);
    }
  } else if (size_t colon = text.find(':'); colon != std::string::npos) {
    h = text.substr(0, colon);
    hasPort = true;
    portText = text.substr(colon + 1);
  }
  if (h.empty()) {
    error = "no host in \"" + text + "\"";
    return false;
  }
  int p = DefaultMongoPort;
  if (hasPort && !ParsePort(portText, p)) {
    error = "invalid port \"" + portText + "\" (a number from 1 to 65535)";
    return false;
  }
  host = h;
  port = p;
  return true;
}

TProjectArguments ParseProjectArguments(
    const std::vector<std::string>& args,
    const std::function<bool(const std::string&)>& fileExists) {
  TProjectArguments out;
  if (args.empty() || args[0].empty()) return out;
  auto exists = [&](const std::string& f) {
    if (fileExists) return fileExists(f);
    std::error_code ec;
    return std::filesystem::is_regular_file(f, ec);
  };
  if (exists(args[0])) {
    out.Kind = TProjectArguments::TKind::File;
    out.FileName = args[0];
    return out;
  }
  if (args.size() < 2) return out;
  if (args[1].empty()) {
    out.Error = "no MongoDB database name";
    return out;
  }
  if (!ParseMongoHostPort(args[0], out.Host, out.Port, out.Error)) return out;
  out.Kind = TProjectArguments::TKind::Mongo;
  out.DbName = args[1];
  return out;
}

TProjectArguments ParseMongoAddress(const std::string& text) {
  TProjectArguments out;
  size_t slash = text.find('/');
  if (slash == std::string::npos || slash + 1 >= text.size()) {
    out.Error = "expected HOST[:PORT]/DB, got \"" + text + "\"";
    return out;
  }
  std::string db = text.substr(slash + 1);
  if (db.find('/') != std::string::npos) {
    out.Error = "expected HOST[:PORT]/DB, got \"" + text + "\"";
    return out;
  }
  if (!ParseMongoHostPort(text.substr(0, slash), out.Host, out.Port, out.Error)) return out;
  out.Kind = TProjectArguments::TKind::Mongo;
  out.DbName = db;
  return out;
}

bool OpenProjectArguments(TDbFile& db, const TProjectArguments& args) {
  switch (args.Kind) {
    case TProjectArguments::TKind::None:
      return false;
    case TProjectArguments::TKind::File:
      db.SetUseMongoDb(false);
      db.SetFileName(args.FileName);
      return db.Load();
    case TProjectArguments::TKind::Mongo:
      db.SetUseMongoDb(true);
      db.Sethost(args.Host);
      db.Setport(args.Port);
      db.SetMongoDbName(args.DbName);
      return db.Load();
  }
  return false;
}
