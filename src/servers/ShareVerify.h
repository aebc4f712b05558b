#pragma once
// What a server's share holds compared with its package, read back from the share: the drift
// report of a share, the package a copy keeps before it replaces one, and the rollback to it.
#include <cstdint>
#include <string>
#include <vector>

#include "servers/ShareTransfer.h"

class IOperator;

struct TVerifyEntry {
  std::string RelPath;  // on the share
  bool Film = false;
  std::string Why;  // "missing", "size differs", "digest differs"
};

struct TVerifyResult {
  bool Ok = false;       // the share holds the package
  std::string Status;    // the final status text
  size_t Checked = 0;    // files compared
  std::vector<TVerifyEntry> Drift;  // what differs on the share
  std::vector<std::string> NotHere;  // films of the list this computer does not have: not compared
};

// Checks the share of Request against the package without copying anything: every package
// file by its MD5 (read back from the share), every film of "UsedFilms.json" by its size.
TVerifyResult VerifyShare(const TDeployRequest& request, IOperator& op);

// Keeps the share's copies of RelPaths (package files a copy is about to replace) in a new
// dated folder of keptPackagesFolder, each copy verified, with its "manifest.json". Returns
// that folder; "" when none of them is on the share. Throws std::runtime_error naming the file
// that cannot be kept.
std::string KeepSharePackage(TSmbShare& share, const std::vector<std::string>& relPaths);

struct TRollbackResult {
  bool Ok = false;
  std::string Status;
  std::string KeptFolder;              // the folder restored from
  std::vector<std::string> Restored;   // share paths, in the order they were restored
};

// Restores the package kept last on the share of Request: every kept file is checked against
// its manifest first, then put back (schedule, playlists and other files first, "config.json"
// and "update-index.txt" last), each read back by MD5; last, every file the restored
// configuration names must be on the share. The kept folder stays.
TRollbackResult RollbackShare(const TDeployRequest& request, IOperator& op);
