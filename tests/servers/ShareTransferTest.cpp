#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "servers/Servers.h"
#include "servers/ShareTransfer.h"
#include "shell/Databases.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

TEST(ShareAddress, InboxShareOfTheServerAddress) {
  EXPECT_EQ(ShareUrl("192.168.0.10"), "smb://192.168.0.10/inbox");
  EXPECT_EQ(ShareUrl(" 192.168. 0.10 "), "smb://192.168.0.10/inbox");  // spaces removed
  EXPECT_EQ(ShareUrl("127.0.0.1:4445"), "smb://127.0.0.1:4445/inbox");
  EXPECT_EQ(ServerFilesAddress("srv 1.local"), "smb://srv1.local/inbox");
  EXPECT_EQ(ShareFileUrl("smb://h/inbox", "json/x/0.pls"), "smb://h/inbox/json/x/0.pls");
  EXPECT_EQ(ShareFileUrl("smb://h/inbox", "a%b#c?.ts"), "smb://h/inbox/a%25b%23c%3F.ts");
  EXPECT_EQ(ShareFileUrl("smb://h/inbox", "фильм.ts"), "smb://h/inbox/%D1%84%D0%B8%D0%BB%D1%8C%D0%BC.ts");
  EXPECT_EQ(ShareFileUrl("smb://h/inbox", ""), "smb://h/inbox");
}

TEST(ShareAddress, PathsThatWouldLeaveTheShareAreRefused) {
  EXPECT_EQ(SafeSharePath("films\\a.ts"), "films/a.ts");
  EXPECT_EQ(SafeSharePath("a.ts"), "a.ts");
  EXPECT_EQ(SafeSharePath("./films//b.ts"), "films/b.ts");
  EXPECT_EQ(SafeSharePath("films/..x/b.ts"), "films/..x/b.ts");  // a name, not a step up
  EXPECT_FALSE(SafeSharePath(""));
  EXPECT_FALSE(SafeSharePath("."));
  EXPECT_FALSE(SafeSharePath("../etc/passwd"));
  EXPECT_FALSE(SafeSharePath("films/../../x.ts"));
  EXPECT_FALSE(SafeSharePath("films\\..\\..\\x.ts"));
  EXPECT_FALSE(SafeSharePath("/etc/passwd"));
  EXPECT_FALSE(SafeSharePath("\\\\other\\share\\x.ts"));
  EXPECT_FALSE(SafeSharePath("C:\\video\\x.ts"));
}

TEST(ShareErrors, ShellCodesAndSystemMessages) {
  EXPECT_EQ(ShellCopyErrorText(0), "");
  EXPECT_EQ(ShellCopyErrorText(113), "The source and destination files are the same file.");
  EXPECT_EQ(ShellCopyErrorText(133),
            "The file involved in the operation is too large for the destination media or file system.");
  EXPECT_EQ(ShellCopyErrorText(65652), "Destination is a root directory and cannot be renamed.");
  EXPECT_EQ(ShellCopyErrorText(119), "IO Error");
  EXPECT_EQ(ShellCopyErrorText(-1), "IO Error");
  EXPECT_EQ(CopyErrorText(ECANCELED), ShellCopyErrorText(117));
  EXPECT_EQ(CopyErrorText(ENAMETOOLONG), ShellCopyErrorText(121));
  EXPECT_EQ(CopyErrorText(EISDIR), ShellCopyErrorText(128));
  EXPECT_EQ(CopyErrorText(EFBIG), ShellCopyErrorText(133));
  EXPECT_EQ(CopyErrorText(EACCES), "Permission denied");
  EXPECT_EQ(CopyErrorText(ECONNREFUSED), "Connection refused");
}

TEST(ShareCredentials, FileAndEnvironment) {
  TTempDir tmp;
  WriteFileBytes(tmp.File("cred"), "# share of the head-end\n username = op \npassword= s3 cret\n"
                                   "domain=HEADEND\n");
  auto c = ReadSmbCredentialsFile(tmp.File("cred"));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->User, "op");
  EXPECT_EQ(c->Password, " s3 cret");  // a password keeps its blanks
  EXPECT_EQ(c->Domain, "HEADEND");
  WriteFileBytes(tmp.File("cred2"), "username=WORK\\anna\npassword=x\n");
  c = ReadSmbCredentialsFile(tmp.File("cred2"));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->User, "anna");
  EXPECT_EQ(c->Domain, "WORK");
  EXPECT_FALSE(ReadSmbCredentialsFile(tmp.File("missing")));

  // The environment wins over the file; without either the login is anonymous.
  std::string oldXdg = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", tmp.Path().c_str(), 1);
  unsetenv("PELMORA_SMB_USER");
  unsetenv("PELMORA_SMB_CREDENTIALS");
  EXPECT_EQ(DefaultSmbCredentialsPath(), tmp.File("pelmora/smb-credentials"));
  EXPECT_EQ(ReadSmbCredentials().User, "");
  fs::create_directories(tmp.Path() / "pelmora");
  WriteFileBytes(tmp.File("pelmora/smb-credentials"), "username=fromfile\npassword=p\n");
  EXPECT_EQ(ReadSmbCredentials().User, "fromfile");
  setenv("PELMORA_SMB_CREDENTIALS", tmp.File("cred").c_str(), 1);
  EXPECT_EQ(ReadSmbCredentials().User, "op");
  setenv("PELMORA_SMB_USER", "envuser", 1);
  setenv("PELMORA_SMB_PASSWORD", "envpass", 1);
  auto e = ReadSmbCredentials();
  EXPECT_EQ(e.User, "envuser");
  EXPECT_EQ(e.Password, "envpass");
  unsetenv("PELMORA_SMB_USER");
  unsetenv("PELMORA_SMB_PASSWORD");
  unsetenv("PELMORA_SMB_CREDENTIALS");
  if (oldXdg.empty()) unsetenv("XDG_CONFIG_HOME");
  else setenv("XDG_CONFIG_HOME", oldXdg.c_str(), 1);
}

TEST(SharePackage, ListsEveryFileWithSizeAndTime) {
  TTempDir tmp;
  fs::create_directories(tmp.Path() / "pkg/json/20151116T060000");
  WriteFileBytes(tmp.File("pkg/config.json"), "[]");
  WriteFileBytes(tmp.File("pkg/update-index.txt"), "");
  WriteFileBytes(tmp.File("pkg/json/20151116T060000/0.pls"), "abc");
  utimbuf t{1447653600, 1447653600};
  ASSERT_EQ(utime(tmp.File("pkg/json/20151116T060000/0.pls").c_str(), &t), 0);
  auto files = ListPackageFiles(tmp.File("pkg") + "/");
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].RelPath, "config.json");
  EXPECT_EQ(files[1].RelPath, "json/20151116T060000/0.pls");
  EXPECT_EQ(files[1].Size, 3u);
  EXPECT_EQ(files[1].MTime, 1447653600);
  EXPECT_EQ(files[1].Source, tmp.File("pkg/json/20151116T060000/0.pls"));
  EXPECT_EQ(files[2].RelPath, "update-index.txt");
  EXPECT_EQ(files[2].Size, 0u);
  try {
    ListPackageFiles(tmp.File("nothere"));
    FAIL() << "a missing package folder must be reported";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "Error of opening of the directory " + tmp.File("nothere"));
  }
}

TEST(SharePackage, ServerRecordsThatCannotBeCopied) {
  TTempDir tmp;
  TFakeOperator op;
  auto db = CreateMainDatabase(&op);
  db->New();
  db->SetFileName(tmp.File("p.pq2pr"));
  ASSERT_TRUE(db->CollectionByName("Servers").NewRecord(
      "s1", {{"Name", "Sat"}, {"URL", "10.0.0.5"}, {"SatelliteSys", true}}));
  ASSERT_TRUE(db->CollectionByName("Servers").NewRecord("s2", {{"Name", ".."}, {"URL", "10.0.0.5"}}));
  EXPECT_THROW(CopyServerFiles(*db, "s1", op), EServerAction);
  EXPECT_THROW(CopyServerFiles(*db, "Sat", op), EServerAction);  // by name too
  EXPECT_THROW(CopyServerFiles(*db, "s2", op), EServerAction);   // its folder would leave the root
  EXPECT_THROW(CopyServerFiles(*db, "nobody", op), EServerAction);
  TRpcSender sender(op);
  EXPECT_THROW(RestartServer(*db, "s1", sender, {}), EServerAction);
  EXPECT_TRUE(op.Statuses.empty());  // refused before anything started
  EXPECT_EQ(ServerPackageDir(*db, {{"Name", "Main"}}), tmp.File("servers/Main") + "/");
}

// A credentials file that was asked for but is not there is an error, never a silent guest
// logon; one that others may read is used with a warning naming it.
TEST(ShareCredentials, MissingOrOpenCredentialsFile) {
  TTempDir tmp;
  unsetenv("PELMORA_SMB_USER");
  WriteFileBytes(tmp.File("cred"), "username=op\npassword=p\n");
  struct {
    std::string Path;
    mode_t Mode;
    bool Fails;
    bool Warns;
  } cases[] = {
      {tmp.File("missing"), 0600, true, false},
      {tmp.File("cred"), 0600, false, false},
      {tmp.File("cred"), 0640, false, true},
      {tmp.File("cred"), 0644, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path + " " + std::to_string(c.Mode));
    ::chmod(c.Path.c_str(), c.Mode);
    setenv("PELMORA_SMB_CREDENTIALS", c.Path.c_str(), 1);
    std::vector<std::string> warnings;
    try {
      TSmbCredentials got = ReadSmbCredentials(&warnings);
      EXPECT_FALSE(c.Fails) << "read as " << got.User;
      EXPECT_EQ(got.User, "op");
    } catch (const std::runtime_error& e) {
      EXPECT_TRUE(c.Fails) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.Path), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("PELMORA_SMB_CREDENTIALS"), std::string::npos);
    }
    ASSERT_EQ(warnings.size(), c.Warns ? 1u : 0u);
    if (c.Warns) {
      EXPECT_NE(warnings[0].find(c.Path), std::string::npos) << warnings[0];
    }
  }
  unsetenv("PELMORA_SMB_CREDENTIALS");
}
