#pragma once
// Copying a server package and the films it plays to the server's "inbox" share over SMB
// (libsmbclient): smb://URL/inbox, the form "\\URL\inbox" takes on this system.
//
// Credentials: anonymous (guest) unless PELMORA_SMB_USER and PELMORA_SMB_PASSWORD (and
// optionally PELMORA_SMB_DOMAIN) are set, or a credentials file gives them: the file named by
// PELMORA_SMB_CREDENTIALS, else $XDG_CONFIG_HOME/pelmora/smb-credentials (default
// ~/.config/pelmora/smb-credentials), with lines "username=...", "password=...", "domain=..."
// ("#" starts a comment; a user "DOMAIN\name" also gives the domain). A file named by
// PELMORA_SMB_CREDENTIALS must be there; a file other users may read is used with a warning.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class IOperator;

struct TSmbCredentials {
  std::string User;  // empty: anonymous
  std::string Password;
  std::string Domain;
};

// Reads a credentials file; nullopt when it cannot be read.
std::optional<TSmbCredentials> ReadSmbCredentialsFile(const std::string& path);
// The credentials of this process, from the environment or the credentials file. A file that
// PELMORA_SMB_CREDENTIALS names and that cannot be read raises std::runtime_error saying so;
// a file that other users may read is used, with a warning added to Warnings.
TSmbCredentials ReadSmbCredentials(std::vector<std::string>* warnings = nullptr);
// Where the credentials file is looked for when PELMORA_SMB_CREDENTIALS is not set.
std::string DefaultSmbCredentialsPath();

// "smb://" + URL with every space removed + "/inbox". A port may follow the address
// ("10.0.0.5:4445").
std::string ShareUrl(const std::string& serverUrl);

// A relative path on the share in "/" form ("json/x/0.pls"), or nullopt when the path would
// leave the share: empty, absolute, with a drive letter or with a ".." component. Backslashes
// count as separators; "." components are dropped.
std::optional<std::string> SafeSharePath(const std::string& path);
// Share URL + "/" + relative path, each path byte outside the URL-safe set percent-encoded.
std::string ShareFileUrl(const std::string& share, const std::string& relPath);

// The text of a shell copy result code; "IO Error" for codes the table does not list.
std::string ShellCopyErrorText(int code);
// The text of a system error met while copying: the shell copy text where one of its codes
// means the same, otherwise the system's own message.
std::string CopyErrorText(int err);

struct TCopyProgress {
  size_t FilesDone = 0;
  size_t FilesTotal = 0;
  uint64_t BytesDone = 0;
  uint64_t BytesTotal = 0;
  std::string CurrentFile;  // the source being copied
};
// Returns false to cancel the copy.
using TCopyProgressSink = std::function<bool(const TCopyProgress&)>;

struct TCopyPair {
  std::string Source;  // local native path
  std::string RelPath;  // destination relative to the share, "/" separated
  uint64_t Size = 0;
  int64_t MTime = 0;  // seconds since 1970
  int32_t MTimeUsec = 0;  // and microseconds
};

struct TDeployRequest {
  std::string Share;       // smb://host[:port]/inbox
  std::string PackageDir;  // local package folder, native
  bool ForceDisconnect = false;
  // Compares and lists what a copy would do (TDeployResult::Plan), writing nothing.
  bool DryRun = false;
  // Every copy is read back before it takes its name; off only to measure what that costs.
  bool VerifyCopies = true;
  std::optional<TSmbCredentials> Credentials;  // default: ReadSmbCredentials()
  std::chrono::milliseconds Timeout{20000};    // for each SMB operation
  // How long the copy waits for "Create files" to finish replacing the package.
  std::chrono::milliseconds PackageLockWait{30000};
};

// One file of a comparison between the package and the share: what a copy does with it.
enum class TPlanAction { Copy, Replace, Leave };
struct TPlanEntry {
  std::string RelPath;  // on the share
  std::string Source;   // local path
  uint64_t Size = 0;    // local size
  bool Film = false;
  TPlanAction Action = TPlanAction::Leave;
  std::string Why;  // "missing", "size differs", "time differs"; "" when left
};
// "copy", "replace", "leave".
std::string PlanActionText(TPlanAction a);

// The folder of the share where a copy keeps the package it replaces, one dated folder
// ("yyyymmddThhnnss") a copy, each with "manifest.json" (file, size, modification time and
// MD5 of every kept file).
inline const std::string keptPackagesFolder = "pelmora-previous";
// How many kept packages stay on a share: a copy that keeps one removes the oldest beyond these.
constexpr size_t keptPackagesCount = 5;

struct TDeployResult {
  bool Ok = false;
  std::string Status;  // the final status text
  size_t FilesQueued = 0;
  size_t FilesCopied = 0;
  uint64_t BytesCopied = 0;
  std::vector<std::string> Warnings;  // films listed but missing here: not copied, the copy fails
  // Every file compared, in copy order (the queued ones first), when the comparison ended.
  std::vector<TPlanEntry> Plan;
  std::vector<std::string> Copied;  // share paths copied and verified, in order
  std::string KeptFolder;           // share folder holding the replaced package; "" when none
};

// An open connection to one share (one libsmbclient context, used on one thread).
class TSmbShare {
public:
  explicit TSmbShare(std::string share, TSmbCredentials credentials,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  ~TSmbShare();
  TSmbShare(const TSmbShare&) = delete;
  TSmbShare& operator=(const TSmbShare&) = delete;

  // Opens the share as a folder; false with LastError() = share + ". " + message.
  bool Connect();
  const std::string& LastError() const { return FLastError; }
  const std::string& Url() const { return FShare; }

  struct TRemoteFile {
    bool Exists = false;
    uint64_t Size = 0;
    int64_t MTime = 0;
    int32_t MTimeUsec = 0;  // 0 also when the server keeps whole seconds only
  };
  // Size and modification time of RelPath; folders are listed once and remembered.
  TRemoteFile Info(const std::string& relPath);
  // Copies Pair through a temporary name, reads the written copy back (its MD5 against the
  // source's with Digest, otherwise its size), renames it into place and sets the modification
  // time to the source's. Progress is called after every block. Throws std::runtime_error
  // with a clear text naming the file on failure; no partial or mismatching file stays under
  // the destination name.
  enum class TCheck { Digest, Size, None };
  void CopyFile(const TCopyPair& pair, TCopyProgress& progress, const TCopyProgressSink& sink,
                TCheck check = TCheck::Digest);
  // The bytes of RelPath on the share; false when it is not there. Throws std::runtime_error on
  // any other failure.
  bool ReadFile(const std::string& relPath, std::string& out);
  // The names in folder RelPath of the share ("" the share itself); folders end with "/".
  std::vector<std::string> List(const std::string& relPath);
  // Removes folder RelPath of the share with everything in it; false when something stays.
  bool RemoveTree(const std::string& relPath);
  // Creates the folders of RelPath's parent as needed.
  void MakeParents(const std::string& relPath);
  // Closes the connection; a failure text, or "" on success (see CopyFilesToShare).
  std::string Disconnect(bool force);
  // Forgets the folder listings, so the next Info reads the share again.
  void ForgetListings();

private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
  std::string FShare;
  std::string FLastError;
};

// The share of Request, connected with its credentials (or this process's, whose warnings go
// to Op), after the status text "Connecting to server"; nullptr with Why set when the
// credentials cannot be read or the share does not open.
std::unique_ptr<TSmbShare> ConnectShare(const TDeployRequest& request, IOperator& op, std::string& why);

// The lock of a server's package folder, an flock on the folder itself. "Create files" holds
// it exclusively while it puts a new package in the folder's place; a copy to the share holds
// it shared from its first look at the folder to its last file, so a copy always sends one
// whole package and a build never swaps the folder under it. A folder that is not there is
// nothing to lock (Acquire succeeds holding nothing).
class TPackageLock {
public:
  TPackageLock() = default;
  ~TPackageLock();
  TPackageLock(const TPackageLock&) = delete;
  TPackageLock& operator=(const TPackageLock&) = delete;
  // Waits up to Wait for the lock of PackageDir (with or without a trailing "/"); false, with
  // nothing held, when another holder keeps it longer (or the folder cannot be opened).
  bool Acquire(const std::string& packageDir, bool exclusive, std::chrono::milliseconds wait);
  void Release();

private:
  int FFd = -1;
};

// The package files that "config.json" of PackageDir names, and the playlists its schedule
// files name, as paths relative to the share (the copy's own layout).
std::vector<std::string> PackageNamedFiles(const std::string& packageDir);
// The same, with the files read through Read (share path -> content; nullopt when missing).
std::vector<std::string> PackageNamedFiles(
    const std::function<std::optional<std::string>(const std::string&)>& read);

// Local files of the package folder, recursively, as pairs (destination = same relative
// path). Throws std::runtime_error("Error of opening of the directory " + path).
std::vector<TCopyPair> ListPackageFiles(const std::string& packageDir);

// The copy to the server's share ("Copy files to server"): connects, queues every package file
// and every film of "UsedFilms.json" whose copy is missing or differs in size or modification
// time, copies the queue with progress, and disconnects. Talks to the operator through Op
// (status texts, the question about a missing film list, error messages). The films go first,
// then the package files, "config.json" and "update-index.txt" last; films of the list that
// are missing here are named and make the copy fail after the rest is copied. Every copied
// file is read back before it takes its name: package files by MD5, films by size. Before a
// package file replaces one on the share, the package the share holds ("config.json",
// "update-index.txt" and the files its configuration names) is kept in a dated folder of
// keptPackagesFolder. With DryRun it stops after the comparison: the plan lists what the copy
// would copy, replace and leave, and nothing is written.
TDeployResult CopyFilesToShare(const TDeployRequest& request, IOperator& op,
                               const TCopyProgressSink& progress = {});

inline const std::string noNewFilesText = "No new files to copy!";
