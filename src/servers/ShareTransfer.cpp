#include "servers/ShareTransfer.h"

#include <fcntl.h>
#include <libsmbclient.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "base/StrUtils.h"
#include "recstore/Json.h"
#include "base/Operator.h"
#include "schedule/DoSchedule.h"
#include "servers/ShareVerify.h"
#include "shell/Options.h"

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Credentials

namespace {

// "DOMAIN\user" names the domain in the user name.
void SplitDomain(TSmbCredentials& c) {
  if (auto p = c.User.find('\\'); p != std::string::npos && c.Domain.empty()) {
    c.Domain = c.User.substr(0, p);
    c.User = c.User.substr(p + 1);
  }
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

std::optional<TSmbCredentials> ReadSmbCredentialsFile(const std::string& path) {
  std::ifstream f(path);
  if (!f) return std::nullopt;
  TSmbCredentials c;
  std::string line;
  while (std::getline(f, line)) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    auto eq = t.find('=');
    if (eq == std::string::npos) continue;
    std::string key = LowerCase(Trim(t.substr(0, eq)));
    // The value keeps its inner and trailing blanks only when they are part of a password.
    std::string value = t.substr(eq + 1);
    if (key == "username" || key == "user") c.User = Trim(value);
    else if (key == "password" || key == "pass") c.Password = value;
    else if (key == "domain" || key == "workgroup") c.Domain = Trim(value);
  }
  SplitDomain(c);
  return c;
}

std::string DefaultSmbCredentialsPath() {
  std::string base = Env("XDG_CONFIG_HOME");
  if (base.empty()) {
    std::string home = Env("HOME");
    if (home.empty()) return "";
    base = home + "/.config";
  }
  return base + "/pelmora/smb-credentials";
}

TSmbCredentials ReadSmbCredentials(std::vector<std::string>* warnings) {
  TSmbCredentials c;
  c.User = Env("PELMORA_SMB_USER");
  if (!c.User.empty()) {
    c.Password = Env("PELMORA_SMB_PASSWORD");
    c.Domain = Env("PELMORA_SMB_DOMAIN");
    SplitDomain(c);
    return c;
  }
  std::string path = Env("PELMORA_SMB_CREDENTIALS");
  const bool named = !path.empty();
  if (!named) path = DefaultSmbCredentialsPath();
  if (path.empty()) return {};
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    // The default file is optional; a file named on purpose that is missing is an error, so
    // that a typing mistake never turns into a guest logon.
    if (!named) return {};
    throw std::runtime_error("the SMB credentials file " + path +
                             " named by PELMORA_SMB_CREDENTIALS cannot be read: " +
                             std::strerror(errno));
  }
  auto fromFile = ReadSmbCredentialsFile(path);
  if (!fromFile)
    throw std::runtime_error("the SMB credentials file " + path + " cannot be read: " +
                             std::strerror(errno ? errno : EACCES));
  if ((st.st_mode & (S_IRWXG | S_IRWXO)) && warnings)
    warnings->push_back("the SMB credentials file " + path +
                        " may be read by other users; make it private (chmod 600)");
  return *fromFile;
}

// ---------------------------------------------------------------------------------------------
// Addresses and paths

std::string ShareUrl(const std::string& serverUrl) {
  std::string host;
  for (char ch : serverUrl)
    if (ch != ' ') host += ch;
  return "smb://" + host + "/inbox";
}

std::optional<std::string> SafeSharePath(const std::string& path) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  if (p.empty() || p[0] == '/') return std::nullopt;
  if (p.size() >= 2 && p[1] == ':') return std::nullopt;  // "C:..."
  std::string out;
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find('/', start);
    if (end == std::string::npos) end = p.size();
    std::string part = p.substr(start, end - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") out += (out.empty() ? "" : "/") + part;
    start = end + 1;
  }
  if (out.empty()) return std::nullopt;
  return out;
}

std::string ShareFileUrl(const std::string& share, const std::string& relPath) {
  static const char* hex = "0123456789ABCDEF";
  std::string url = share;
  if (relPath.empty()) return url;
  url += '/';
  for (unsigned char ch : relPath) {
    if (std::isalnum(ch) || std::strchr("-._~/!$&'()*+,;=@ ", ch)) {
      url += static_cast<char>(ch);
    } else {
      url += '%';
      url += hex[ch >> 4];
      url += hex[ch & 15];
    }
  }
  return url;
}

// ---------------------------------------------------------------------------------------------
// Error texts

std::string ShellCopyErrorText(int code) {
  static const std::map<int, std::string> texts = {
      {0, ""},
      {113, "The source and destination files are the same file."},
      {114, "Multiple file paths were specified in the source buffer, but only one destination "
            "file path."},
      {115, "Rename operation was specified but the destination path is a different directory. "
            "Use the move operation instead."},
      {116, "The source is a root directory, which cannot be moved or renamed."},
      {117, "The operation was cancelled by the user, or silently cancelled if the appropriate "
            "flags were supplied to SHFileOperation."},
      {118, "The destination is a subtree of the source."},
      {120, "Security settings denied access to the source."},
      {121, "The source or destination path exceeded or would exceed MAX_PATH."},
      {122, "The operation involved multiple destination paths, which can fail in the case of a "
            "move operation."},
      {124, "The path in the source or destination or both was invalid."},
      {125, "The source and destination have the same parent folder."},
      {126, "The destination path is an existing file."},
      {128, "The destination path is an existing folder."},
      {129, "The name of the file exceeds MAX_PATH."},
      {130, "The destination is a read-only CD-ROM, possibly unformatted."},
      {131, "The destination is a read-only DVD, possibly unformatted."},
      {132, "The destination is a writable CD-ROM, possibly unformatted."},
      {133, "The file involved in the operation is too large for the destination media or file "
            "system."},
      {134, "The source is a read-only CD-ROM, possibly unformatted."},
      {135, "The source is a read-only DVD, possibly unformatted."},
      {136, "The source is a writable CD-ROM, possibly unformatted."},
      {183, "MAX_PATH was exceeded during the operation."},
      {1026, "An unknown error occurred. This is typically due to an invalid path in the source "
             "or destination. This error does not occur on Microsoft Windows Vista and later."},
      {65536, "An unspecified error occurred on the destination."},
      {65652, "Destination is a root directory and cannot be renamed."},
  };
  auto it = texts.find(code);
  return it == texts.end() ? "IO Error" : it->second;
}

std::string CopyErrorText(int err) {
  switch (err) {
    case ECANCELED: return ShellCopyErrorText(117);
    case ENAMETOOLONG: return ShellCopyErrorText(121);
    case EISDIR: return ShellCopyErrorText(128);
    case EFBIG: return ShellCopyErrorText(133);
    default: return std::strerror(err);
  }
}

// ---------------------------------------------------------------------------------------------
// TSmbShare

namespace {

void CopyField(char* dst, int len, const std::string& value) {
  if (len <= 0) return;
  std::strncpy(dst, value.c_str(), static_cast<size_t>(len) - 1);
  dst[len - 1] = '\0';
}

std::string ParentOf(const std::string& rel) {
  auto p = rel.rfind('/');
  return p == std::string::npos ? "" : rel.substr(0, p);
}

std::string NameOf(const std::string& rel) {
  auto p = rel.rfind('/');
  return p == std::string::npos ? rel : rel.substr(p + 1);
}

class ECopy : public std::runtime_error {
public:
  ECopy(const std::string& msg, int err) : std::runtime_error(msg), Err(err) {}
  int Err;
};

}  // namespace

struct TSmbShare::TImpl {
  SMBCCTX* Ctx = nullptr;
  TSmbCredentials Credentials;
  // folder (relative, "" for the share) -> name -> file; a folder that does not exist maps to
  // an empty listing
  std::map<std::string, std::map<std::string, TRemoteFile>> Listings;
  std::set<std::string> KnownFolders;

  static void Auth(SMBCCTX* c, const char*, const char*, char* wg, int wglen, char* un, int unlen,
                   char* pw, int pwlen) {
    auto* self = static_cast<TImpl*>(smbc_getOptionUserData(c));
    if (!self) return;
    if (!self->Credentials.Domain.empty()) CopyField(wg, wglen, self->Credentials.Domain);
    CopyField(un, unlen, self->Credentials.User);
    CopyField(pw, pwlen, self->Credentials.Password);
  }
};

TSmbShare::TSmbShare(std::string share, TSmbCredentials credentials,
                     std::chrono::milliseconds timeout)
    : FImpl(std::make_unique<TImpl>()), FShare(std::move(share)) {
  while (!FShare.empty() && FShare.back() == '/') FShare.pop_back();
  FImpl->Credentials = std::move(credentials);
  SMBCCTX* ctx = smbc_new_context();
  if (!ctx) return;
  smbc_setOptionUserData(ctx, FImpl.get());
  smbc_setFunctionAuthDataWithContext(ctx, &TImpl::Auth);
  smbc_setTimeout(ctx, static_cast<int>(timeout.count()));
  smbc_setDebug(ctx, 0);
  smbc_setOptionUseKerberos(ctx, false);
  smbc_setOptionFallbackAfterKerberos(ctx, true);
  // Credentials that were given and refused are a failed logon, never a silent anonymous one.
  if (!FImpl->Credentials.User.empty()) smbc_setOptionNoAutoAnonymousLogin(ctx, true);
  if (!smbc_init_context(ctx)) {
    smbc_free_context(ctx, 1);
    return;
  }
  FImpl->Ctx = ctx;
}

TSmbShare::~TSmbShare() {
  if (FImpl && FImpl->Ctx) smbc_free_context(FImpl->Ctx, 1);
}

bool TSmbShare::Connect() {
  if (!FImpl->Ctx) {
    FLastError = FShare + ". Cannot start the SMB client";
    return false;
  }
  errno = 0;
  SMBCFILE* dir = smbc_getFunctionOpendir(FImpl->Ctx)(FImpl->Ctx, FShare.c_str());
  if (!dir) {
    int err = errno ? errno : EIO;
    FLastError = FShare + ". " + std::strerror(err);
    if (err == EACCES || err == EPERM) {
      // The server refused these credentials (or the share to them): say whose.
      const TSmbCredentials& c = FImpl->Credentials;
      std::string who = c.User.empty() ? std::string("the guest user (no credentials are set)")
                                       : "user \"" + (c.Domain.empty() ? "" : c.Domain + "\\") +
                                             c.User + "\"";
      FLastError = FShare + ". The logon failed for " + who + ": " + std::strerror(err);
    }
    return false;
  }
  smbc_getFunctionClosedir(FImpl->Ctx)(FImpl->Ctx, dir);
  FImpl->KnownFolders.insert("");
  return true;
}

TSmbShare::TRemoteFile TSmbShare::Info(const std::string& relPath) {
  std::string folder = ParentOf(relPath);
  auto it = FImpl->Listings.find(folder);
  if (it == FImpl->Listings.end()) {
    std::map<std::string, TRemoteFile> listing;
    SMBCCTX* ctx = FImpl->Ctx;
    SMBCFILE* dir = ctx ? smbc_getFunctionOpendir(ctx)(ctx, ShareFileUrl(FShare, folder).c_str())
                        : nullptr;
    if (dir) {
      FImpl->KnownFolders.insert(folder);
      struct stat st {};
      while (const libsmb_file_info* fi = smbc_getFunctionReaddirPlus2(ctx)(ctx, dir, &st)) {
        std::string name = fi->name ? fi->name : "";
        if (name.empty() || name == "." || name == "..") continue;
        TRemoteFile rf;
        rf.Exists = true;
        // A folder under a file's name never matches a file.
        rf.Size = S_ISDIR(st.st_mode) ? UINT64_MAX : static_cast<uint64_t>(st.st_size);
        rf.MTime = static_cast<int64_t>(st.st_mtim.tv_sec);
        rf.MTimeUsec = static_cast<int32_t>(st.st_mtim.tv_nsec / 1000);
        listing[name] = rf;
      }
      smbc_getFunctionClosedir(ctx)(ctx, dir);
    }
    it = FImpl->Listings.emplace(folder, std::move(listing)).first;
  }
  auto f = it->second.find(NameOf(relPath));
  return f == it->second.end() ? TRemoteFile{} : f->second;
}

void TSmbShare::MakeParents(const std::string& relPath) {
  std::string folder = ParentOf(relPath);
  if (folder.empty() || FImpl->KnownFolders.count(folder)) return;
  MakeParents(folder);
  SMBCCTX* ctx = FImpl->Ctx;
  std::string url = ShareFileUrl(FShare, folder);
  errno = 0;
  if (smbc_getFunctionMkdir(ctx)(ctx, url.c_str(), 0755) != 0 && errno != EEXIST) {
    int err = errno ? errno : EIO;
    // A folder that exists already may still be reported with another code: check it.
    struct stat st {};
    if (smbc_getFunctionStat(ctx)(ctx, url.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      throw ECopy(url + ". " + CopyErrorText(err), err);
  }
  FImpl->KnownFolders.insert(folder);
}

void TSmbShare::CopyFile(const TCopyPair& pair, TCopyProgress& progress,
                         const TCopyProgressSink& sink, TCheck check) {
  const bool digest = check == TCheck::Digest;
  SMBCCTX* ctx = FImpl->Ctx;
  if (!ctx) throw ECopy(FShare + ". Cannot start the SMB client", EIO);
  std::string destUrl = ShareFileUrl(FShare, pair.RelPath);
  std::string partUrl = ShareFileUrl(FShare, pair.RelPath + ".pelmora-part");
  MakeParents(pair.RelPath);

  int in = ::open(pair.Source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    int err = errno;
    throw ECopy(pair.Source + ". " + CopyErrorText(err), err);
  }
  struct stat localSt {};
  ::fstat(in, &localSt);

  errno = 0;
  // Opened for reading too: the written copy is read back through the same handle.
  SMBCFILE* out = smbc_getFunctionOpen(ctx)(ctx, partUrl.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (!out) {
    int err = errno ? errno : EIO;
    ::close(in);
    throw ECopy(destUrl + ". " + CopyErrorText(err), err);
  }
  auto discard = [&]() {
    if (out) smbc_getFunctionClose(ctx)(ctx, out);
    out = nullptr;
    if (in >= 0) ::close(in);
    in = -1;
    smbc_getFunctionUnlink(ctx)(ctx, partUrl.c_str());  // no half file stays behind
  };
  auto fail = [&](const std::string& where, int err) {
    discard();
    throw ECopy(where + ". " + CopyErrorText(err), err);
  };

  std::string written;  // a package file's bytes, for the digest of what was sent
  uint64_t sent = 0;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(pair.Source, errno);
    }
    if (n == 0) break;
    if (digest) written.append(buffer.data(), static_cast<size_t>(n));
    ssize_t off = 0;
    while (off < n) {
      errno = 0;
      ssize_t w = smbc_getFunctionWrite(ctx)(ctx, out, buffer.data() + off,
                                             static_cast<size_t>(n - off));
      if (w <= 0) fail(destUrl, errno ? errno : EIO);
      off += w;
    }
    sent += static_cast<uint64_t>(n);
    progress.BytesDone += static_cast<uint64_t>(n);
    if (sink && !sink(progress)) fail(destUrl, ECANCELED);
  }
  ::close(in);
  in = -1;

  // What the share holds is read back before the file gets its name: a package file must
  // have the digest of what was sent, a film the size.
  auto mismatch = [&](const std::string& what) {
    discard();
    throw ECopy(destUrl + ". The copy on the share differs from " + pair.Source + ": " + what +
                    "; it was not put in place",
                EIO);
  };
  if (digest) {
    errno = 0;
    if (smbc_getFunctionLseek(ctx)(ctx, out, 0, SEEK_SET) != 0) fail(destUrl, errno ? errno : EIO);
    // Exactly the bytes written are asked for: one request for a small file, no probe past
    // its end (the file was created empty by this copy).
    std::string back;
    back.reserve(written.size());
    while (back.size() < written.size()) {
      errno = 0;
      const size_t want = std::min(buffer.size(), written.size() - back.size());
      ssize_t n = smbc_getFunctionRead(ctx)(ctx, out, buffer.data(), want);
      if (n < 0) fail(destUrl, errno ? errno : EIO);
      if (n == 0) break;
      back.append(buffer.data(), static_cast<size_t>(n));
    }
    const std::string want = Md5Hex(written), got = Md5Hex(back);
    if (want != got) mismatch("MD5 " + got + " instead of " + want);
  } else if (check == TCheck::Size) {
    struct stat remoteSt {};
    errno = 0;
    if (smbc_getFunctionFstat(ctx)(ctx, out, &remoteSt) != 0) fail(destUrl, errno ? errno : EIO);
    if (static_cast<uint64_t>(remoteSt.st_size) != sent)
      mismatch(std::to_string(remoteSt.st_size) + " bytes instead of " + std::to_string(sent));
  }

  errno = 0;
  int closed = smbc_getFunctionClose(ctx)(ctx, out);
  out = nullptr;
  if (closed != 0) {
    int err = errno ? errno : EIO;
    smbc_getFunctionUnlink(ctx)(ctx, partUrl.c_str());
    throw ECopy(destUrl + ". " + CopyErrorText(err), err);
  }

  // The server sees the file under its own name only when it is complete.
  errno = 0;
  if (smbc_getFunctionRename(ctx)(ctx, partUrl.c_str(), ctx, destUrl.c_str()) != 0) {
    int err = errno ? errno : EIO;
    bool moved = false;
    if (err == EEXIST || err == EACCES) {
      smbc_getFunctionUnlink(ctx)(ctx, destUrl.c_str());
      moved = smbc_getFunctionRename(ctx)(ctx, partUrl.c_str(), ctx, destUrl.c_str()) == 0;
      if (!moved) err = errno ? errno : EIO;
    }
    if (!moved) {
      smbc_getFunctionUnlink(ctx)(ctx, partUrl.c_str());
      throw ECopy(destUrl + ". " + CopyErrorText(err), err);
    }
  }

  // The copy gets the source's modification time, so the next comparison finds it unchanged.
  struct timeval tv[2];
  tv[0].tv_sec = localSt.st_mtim.tv_sec;
  tv[0].tv_usec = localSt.st_mtim.tv_nsec / 1000;
  tv[1] = tv[0];
  errno = 0;
  if (smbc_getFunctionUtimes(ctx)(ctx, destUrl.c_str(), tv) != 0) {
    int err = errno ? errno : EIO;
    throw ECopy(destUrl + ". The modification time cannot be set: " + CopyErrorText(err), err);
  }
  auto& listing = FImpl->Listings[ParentOf(pair.RelPath)];
  listing[NameOf(pair.RelPath)] = {true, static_cast<uint64_t>(localSt.st_size),
                                   static_cast<int64_t>(localSt.st_mtim.tv_sec),
                                   static_cast<int32_t>(localSt.st_mtim.tv_nsec / 1000)};
}

bool TSmbShare::ReadFile(const std::string& relPath, std::string& out) {
  out.clear();
  SMBCCTX* ctx = FImpl->Ctx;
  if (!ctx) throw ECopy(FShare + ". Cannot start the SMB client", EIO);
  std::string url = ShareFileUrl(FShare, relPath);
  errno = 0;
  SMBCFILE* f = smbc_getFunctionOpen(ctx)(ctx, url.c_str(), O_RDONLY, 0);
  if (!f) {
    int err = errno ? errno : EIO;
    if (err == ENOENT || err == ENOTDIR) return false;
    throw ECopy(url + ". " + CopyErrorText(err), err);
  }
  std::vector<char> buffer(1 << 20);
  for (;;) {
    errno = 0;
    ssize_t n = smbc_getFunctionRead(ctx)(ctx, f, buffer.data(), buffer.size());
    if (n < 0) {
      int err = errno ? errno : EIO;
      smbc_getFunctionClose(ctx)(ctx, f);
      throw ECopy(url + ". " + CopyErrorText(err), err);
    }
    if (n == 0) break;
    out.append(buffer.data(), static_cast<size_t>(n));
  }
  smbc_getFunctionClose(ctx)(ctx, f);
  return true;
}

bool TSmbShare::RemoveTree(const std::string& relPath) {
  SMBCCTX* ctx = FImpl->Ctx;
  if (!ctx || !SafeSharePath(relPath)) return false;
  bool ok = true;
  for (const std::string& name : List(relPath)) {
    if (name.back() == '/') {
      ok = RemoveTree(relPath + "/" + name.substr(0, name.size() - 1)) && ok;
    } else {
      ok = smbc_getFunctionUnlink(ctx)(ctx, ShareFileUrl(FShare, relPath + "/" + name).c_str()) == 0 && ok;
    }
  }
  ok = smbc_getFunctionRmdir(ctx)(ctx, ShareFileUrl(FShare, relPath).c_str()) == 0 && ok;
  FImpl->Listings.clear();
  FImpl->KnownFolders.clear();
  FImpl->KnownFolders.insert("");
  return ok;
}

std::vector<std::string> TSmbShare::List(const std::string& relPath) {
  std::vector<std::string> out;
  SMBCCTX* ctx = FImpl->Ctx;
  if (!ctx) return out;
  SMBCFILE* dir = smbc_getFunctionOpendir(ctx)(ctx, ShareFileUrl(FShare, relPath).c_str());
  if (!dir) return out;
  struct stat st {};
  while (const libsmb_file_info* fi = smbc_getFunctionReaddirPlus2(ctx)(ctx, dir, &st)) {
    std::string name = fi->name ? fi->name : "";
    if (name.empty() || name == "." || name == "..") continue;
    out.push_back(S_ISDIR(st.st_mode) ? name + "/" : name);
  }
  smbc_getFunctionClosedir(ctx)(ctx, dir);
  std::sort(out.begin(), out.end());
  return out;
}

void TSmbShare::ForgetListings() { FImpl->Listings.clear(); }

std::string TSmbShare::Disconnect(bool force) {
  if (!FImpl->Ctx) return "";
  SMBCCTX* ctx = FImpl->Ctx;
  FImpl->Ctx = nullptr;
  FImpl->Listings.clear();
  FImpl->KnownFolders.clear();
  errno = 0;
  if (smbc_free_context(ctx, force ? 1 : 0) == 0) return "";
  int err = errno ? errno : EIO;
  // Without force a connection with open files stays until they close: release it anyway.
  smbc_free_context(ctx, 1);
  if (err == ENOTCONN || (!force && err == EBUSY)) return "";
  return std::to_string(err) + "   " + FShare + ". " + std::strerror(err);
}

// ---------------------------------------------------------------------------------------------
// The package and the films

namespace {

bool LocalFileInfo(const std::string& path, TCopyPair& pair) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  pair.Size = static_cast<uint64_t>(st.st_size);
  pair.MTime = static_cast<int64_t>(st.st_mtim.tv_sec);
  pair.MTimeUsec = static_cast<int32_t>(st.st_mtim.tv_nsec / 1000);
  return true;
}

void WalkFolder(const fs::path& dir, const std::string& rel, std::vector<TCopyPair>& out) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) throw std::runtime_error("Error of opening of the directory " + dir.string());
  std::vector<fs::directory_entry> entries;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) throw std::runtime_error("Error of opening of the directory " + dir.string());
    entries.push_back(*it);
  }
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
  for (const auto& e : entries) {
    std::string name = e.path().filename().string();
    std::string childRel = rel.empty() ? name : rel + "/" + name;
    std::error_code sec;
    auto linkStatus = e.symlink_status(sec);
    if (fs::is_directory(linkStatus)) {
      WalkFolder(e.path(), childRel, out);  // folders reached through links are not followed
      continue;
    }
    TCopyPair pair;
    pair.Source = e.path().string();
    pair.RelPath = childRel;
    if (LocalFileInfo(pair.Source, pair)) out.push_back(std::move(pair));
  }
}

// Why the share's copy must be replaced by the local file; "" when it is the same.
std::string DiffersWhy(const TSmbShare::TRemoteFile& remote, const TCopyPair& local) {
  if (!remote.Exists) return "missing";
  if (remote.Size != local.Size) return "size differs";
  if (remote.MTime != local.MTime) return "time differs";
  // A copy keeps the microseconds of its source where the server stores them: a file rewritten
  // within the same second with the same size still differs. A server that keeps whole seconds
  // only (every time ends in .000000) is compared to the second.
  if (remote.MTimeUsec != 0 && remote.MTimeUsec != local.MTimeUsec) return "time differs";
  return "";
}

TPlanEntry PlanEntryOf(const TCopyPair& pair, bool film, const std::string& why) {
  TPlanEntry e;
  e.RelPath = pair.RelPath;
  e.Source = pair.Source;
  e.Size = pair.Size;
  e.Film = film;
  e.Why = why;
  e.Action = why.empty() ? TPlanAction::Leave
                         : why == "missing" ? TPlanAction::Copy : TPlanAction::Replace;
  return e;
}

}  // namespace

std::string PlanActionText(TPlanAction a) {
  switch (a) {
    case TPlanAction::Copy: return "copy";
    case TPlanAction::Replace: return "replace";
    case TPlanAction::Leave: break;
  }
  return "leave";
}

std::vector<TCopyPair> ListPackageFiles(const std::string& packageDir) {
  std::vector<TCopyPair> out;
  fs::path root(packageDir);
  if (packageDir.size() > 1 && packageDir.back() == '/') root = fs::path(packageDir.substr(0, packageDir.size() - 1));
  WalkFolder(root, "", out);
  return out;
}

// ---------------------------------------------------------------------------------------------
// The package lock

TPackageLock::~TPackageLock() { Release(); }

void TPackageLock::Release() {
  if (FFd >= 0) ::close(FFd);  // closing lets go of the lock
  FFd = -1;
}

bool TPackageLock::Acquire(const std::string& packageDir, bool exclusive,
                           std::chrono::milliseconds wait) {
  Release();
  std::string dir = packageDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // No folder: nothing to copy, and nothing a new package could take away from a copy.
    if (fd < 0) return errno == ENOENT;
    if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) {
      // The lock counts only while it is on the folder that has the name: one replaced
      // meanwhile is let go and the new one locked.
      struct stat held {}, named {};
      if (::fstat(fd, &held) == 0 && ::stat(dir.c_str(), &named) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        FFd = fd;
        return true;
      }
      ::close(fd);
      continue;
    }
    const int err = errno;
    ::close(fd);
    if (err != EWOULDBLOCK && err != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::vector<std::string> PackageNamedFiles(const std::string& packageDir) {
  std::string dir = packageDir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return PackageNamedFiles([&](const std::string& rel) -> std::optional<std::string> {
    std::ifstream f(dir + rel, std::ios::binary);
    if (!f) return std::nullopt;
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  });
}

std::vector<std::string> PackageNamedFiles(
    const std::function<std::optional<std::string>(const std::string&)>& read) {
  auto readJson = [&](const std::string& rel) {
    std::optional<std::string> text = read(rel);
    if (!text) return TJson();
    try {
      return TJson::parse(*text);
    } catch (const std::exception&) {
      return TJson();
    }
  };
  // "/inbox/a/b" names "a/b" on the share.
  auto onShare = [](const std::string& name) -> std::optional<std::string> {
    const std::string inbox = "/inbox/";
    if (name.rfind(inbox, 0) != 0) return std::nullopt;
    return SafeSharePath(name.substr(inbox.size()));
  };
  std::vector<std::string> out;
  TJson config = readJson("config.json");
  if (!config.is_array()) return out;
  for (const TJson& entry : config) {
    if (!entry.is_object()) continue;
    for (const char* key : {"file", "groups"}) {
      auto rel = onShare(JsonStr(entry, key));
      if (!rel) continue;
      out.push_back(*rel);
      if (std::string(key) != "file") continue;
      std::string folder = rel->find('/') == std::string::npos ? "" : rel->substr(0, rel->rfind('/') + 1);
      TJson schedule = readJson(*rel);
      if (!schedule.is_array()) continue;
      for (const TJson& channel : schedule) {
        const TJson* intervals = channel.is_object() ? JsonPath(channel, "intervals") : nullptr;
        if (!intervals || !intervals->is_array()) continue;
        for (const TJson& in : *intervals)
          if (auto pl = SafeSharePath(folder + JsonStr(in, "playlist")); pl && !JsonStr(in, "playlist").empty())
            out.push_back(*pl);
      }
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::unique_ptr<TSmbShare> ConnectShare(const TDeployRequest& request, IOperator& op, std::string& why) {
  op.StatusText("Connecting to server");
  TSmbCredentials credentials;
  if (request.Credentials) {
    credentials = *request.Credentials;
  } else {
    std::vector<std::string> warnings;
    try {
      credentials = ReadSmbCredentials(&warnings);
    } catch (const std::exception& e) {
      why = request.Share + ". " + e.what();
      return nullptr;
    }
    for (const std::string& w : warnings) op.MessageBox("Warning", w, TMsgIcon::Warning);
  }
  auto share = std::make_unique<TSmbShare>(request.Share, credentials, request.Timeout);
  if (share->Connect()) return share;
  why = share->LastError();
  return nullptr;
}

TDeployResult CopyFilesToShare(const TDeployRequest& request, IOperator& op,
                               const TCopyProgressSink& progressSink) {
  TDeployResult result;
  // A dry run copies nothing and does not say so.
  const std::string copyCaption = request.DryRun ? "Preview of the copy" : "Copying of files";
  std::string packageDir = request.PackageDir;
  if (!packageDir.empty() && packageDir.back() != '/') packageDir += '/';

  auto failWith = [&](const std::string& caption, const std::string& text) {
    result.Ok = false;
    result.Status = text;
    op.StatusText(text);
    op.MessageBox(caption, text, TMsgIcon::Error);
  };
  std::string why;
  std::unique_ptr<TSmbShare> connected = ConnectShare(request, op, why);
  if (!connected) {
    failWith(copyCaption, why);
    return result;
  }
  TSmbShare& share = *connected;
  auto disconnect = [&]() {
    std::string err = share.Disconnect(request.ForceDisconnect);
    if (!err.empty()) op.MessageBox(copyCaption, err, TMsgIcon::Warning);
  };
  // One package from the first look to the last file: "Create files" waits to replace it.
  TPackageLock packageLock;
  if (!packageLock.Acquire(packageDir, false, request.PackageLockWait)) {
    failWith(copyCaption, "The package " + packageDir +
                              " is being replaced by \"Create files\"; nothing was copied. "
                              "Copy again when it is finished.");
    disconnect();
    return result;
  }

  // The order of the copy: the films first, then the schedule and portal files, and
  // "config.json" and "update-index.txt" last, so that a server whose copy was interrupted
  // never finds a configuration that names files it does not have.
  std::vector<TCopyPair> films, packageFiles, configFiles;
  std::set<std::string> queuedDest;
  std::map<std::string, TPlanEntry> planned;  // every queued file's plan entry
  std::vector<TPlanEntry> left;               // the files the copy leaves as they are
  op.StatusText("Checking of files for copy");
  try {
    for (auto& pair : ListPackageFiles(packageDir)) {
      if (!SafeSharePath(pair.RelPath)) continue;
      std::string why = DiffersWhy(share.Info(pair.RelPath), pair);
      if (why.empty()) left.push_back(PlanEntryOf(pair, false, ""));
      if (!why.empty()) {
        queuedDest.insert(pair.RelPath);
        planned[pair.RelPath] = PlanEntryOf(pair, false, why);
        if (pair.RelPath == "config.json" || pair.RelPath == "update-index.txt")
          configFiles.push_back(std::move(pair));
        else
          packageFiles.push_back(std::move(pair));
      }
    }
    std::sort(configFiles.begin(), configFiles.end(),
              [](const TCopyPair& a, const TCopyPair& b) { return a.RelPath < b.RelPath; });
  } catch (const std::exception& e) {
    failWith("IO Error", e.what());
    disconnect();
    return result;
  }

  op.StatusText("Checking of films for copy");
  std::vector<std::string> missing;
  std::string listPath = packageDir + "UsedFilms.json";
  std::error_code ec;
  if (!fs::exists(listPath, ec)) {
    std::string text = "Film " + listPath + " not found!";
    if (op.Ask("IO Error", text + ". Continue?", TMsgIcon::Warning, TMsgButtons::YesNo,
               TMsgAnswer::No) != TMsgAnswer::Yes) {
      result.Status = text;
      op.StatusText(text);
      disconnect();
      return result;
    }
  } else {
    TJson filmList;
    std::string loadError;
    try {
      std::ifstream f(listPath, std::ios::binary);
      std::stringstream ss;
      ss << f.rdbuf();
      if (!f) throw std::runtime_error("The file cannot be read");
      filmList = TJson::parse(ss.str());
      if (!filmList.is_array()) throw std::runtime_error("The file does not hold a list of films");
      for (const auto& e : filmList)
        if (!e.is_object() || !e.contains("win") || !e["win"].is_string() || !e.contains("srv") ||
            !e["srv"].is_string())
          throw std::runtime_error("An entry of the list has no \"win\" and \"srv\" texts: " +
                                   e.dump(-1, ' ', true, TJson::error_handler_t::replace));
    } catch (const std::exception& e) {
      loadError = e.what();
    }
    if (!loadError.empty()) {
      std::string text = "Error of loading of the file " + listPath;
      result.Status = text;
      op.StatusText(text);
      op.MessageBox(loadError, text, TMsgIcon::Error);
      disconnect();
      return result;
    }
    for (const auto& e : filmList) {
      std::string win = e["win"].get<std::string>();
      std::string srv = e["srv"].get<std::string>();
      auto rel = SafeSharePath(srv);
      if (!rel) {
        failWith(copyCaption, "The film " + win + " would be copied outside the share (\"" + srv +
                                  "\" in " + listPath + "); nothing was copied");
        disconnect();
        return result;
      }
      TCopyPair pair;
      pair.Source = win;
      pair.RelPath = *rel;
      if (!LocalFileInfo(pair.Source, pair)) {
        std::string native = ToNativePath(win);
        if (native == win || !LocalFileInfo(native, pair)) {
          missing.push_back(win);
          continue;
        }
        pair.Source = native;
      }
      if (queuedDest.count(pair.RelPath)) continue;  // one copy per destination
      std::string why = DiffersWhy(share.Info(pair.RelPath), pair);
      if (why.empty()) {
        left.push_back(PlanEntryOf(pair, true, ""));
      } else {
        queuedDest.insert(pair.RelPath);
        planned[pair.RelPath] = PlanEntryOf(pair, true, why);
        films.push_back(std::move(pair));
      }
    }
  }
  result.Warnings = missing;
  // Films the package plays but this computer does not have: the rest is copied, and the
  // copy ends as a failure that names them.
  std::string missingText;
  if (!missing.empty()) {
    missingText = "Films not found on this computer, not copied: ";
    for (size_t i = 0; i < missing.size(); ++i) missingText += (i ? ", " : "") + missing[i];
  }
  const size_t filmCount = films.size();
  // The package files this copy replaces on the share: kept before the first is replaced.
  std::vector<std::string> replaced;
  for (auto* part : {&packageFiles, &configFiles})
    for (const auto& p : *part)
      if (planned[p.RelPath].Action == TPlanAction::Replace) replaced.push_back(p.RelPath);
  std::vector<TCopyPair> queue = std::move(films);
  for (auto* part : {&packageFiles, &configFiles})
    for (auto& p : *part) queue.push_back(std::move(p));
  for (const auto& p : queue) result.Plan.push_back(planned[p.RelPath]);
  for (auto& e : left) result.Plan.push_back(std::move(e));
  result.FilesQueued = queue.size();

  if (request.DryRun) {
    // The comparison is the whole of a dry run: it lists, and writes nothing.
    size_t copy = 0, replace = 0;
    uint64_t bytes = 0;
    for (const auto& e : result.Plan) {
      if (e.Action == TPlanAction::Leave) continue;
      (e.Action == TPlanAction::Copy ? copy : replace) += 1;
      bytes += e.Size;
    }
    result.Ok = missingText.empty();
    result.Status = std::to_string(copy) + " to copy, " + std::to_string(replace) +
                    " to replace, " + std::to_string(result.Plan.size() - copy - replace) +
                    " unchanged, " + std::to_string(bytes) + " bytes to send";
    if (!missingText.empty()) result.Status += ". " + missingText;
    op.StatusText(result.Status);
    disconnect();
    return result;
  }

  op.StatusText("Copying of files");
  if (queue.empty()) {
    if (!missingText.empty()) {
      failWith(copyCaption, missingText);
    } else {
      result.Ok = true;
      result.Status = noNewFilesText;
      op.StatusText(noNewFilesText);
      op.MessageBox(copyCaption, noNewFilesText, TMsgIcon::Information);
    }
    disconnect();
    return result;
  }
  TCopyProgress progress;
  progress.FilesTotal = queue.size();
  for (const auto& p : queue) progress.BytesTotal += p.Size;
  try {
    for (size_t i = 0; i < queue.size(); ++i) {
      const TCopyPair& p = queue[i];
      // The package the share holds is kept before the first of its files is replaced.
      if (i == filmCount && !replaced.empty()) {
        op.StatusText("Keeping the package on the server");
        result.KeptFolder = KeepSharePackage(share, replaced);
      }
      progress.CurrentFile = p.Source;
      if (progressSink && !progressSink(progress)) throw ECopy(ShellCopyErrorText(117), ECANCELED);
      share.CopyFile(p, progress, progressSink,
                     !request.VerifyCopies ? TSmbShare::TCheck::None
                     : i >= filmCount      ? TSmbShare::TCheck::Digest
                                           : TSmbShare::TCheck::Size);
      ++progress.FilesDone;
      ++result.FilesCopied;
      result.BytesCopied += p.Size;
      result.Copied.push_back(p.RelPath);
    }
    if (progressSink) progressSink(progress);
  } catch (const std::exception& e) {
    failWith(copyCaption, e.what());
    disconnect();
    return result;
  }
  if (!missingText.empty()) {
    failWith(copyCaption, std::to_string(queue.size()) + "- files copied. " + missingText);
    disconnect();
    return result;
  }
  // What the copied configuration names must be on the share, read back from the server.
  share.ForgetListings();
  std::vector<std::string> absent;
  for (const std::string& rel : PackageNamedFiles(packageDir))
    if (!share.Info(rel).Exists) absent.push_back(rel);
  if (!absent.empty()) {
    std::string text = std::to_string(queue.size()) +
                       "- files copied, but the share lacks files the package names: ";
    for (size_t i = 0; i < absent.size(); ++i) text += (i ? ", " : "") + absent[i];
    failWith(copyCaption, text);
    disconnect();
    return result;
  }
  result.Ok = true;
  result.Status = std::to_string(queue.size()) + "- files copied";
  op.StatusText(result.Status);
  disconnect();
  return result;
}
