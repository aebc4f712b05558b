#include "shell/Users.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/CommonProcedures.h"

namespace {

const std::string IdA = "5f1a2b3c4d5e6f7a8b9c0d1e";
const std::string IdB = "60aa00bb11cc22dd33ee44ff";

// A working copy as the users window holds it: password and [label, ticked] pairs.
TJson WorkingCopy(const std::string& password, const std::vector<int>& unticked = {}) {
  TJson ar = TJson::array();
  for (const auto& row : AccessRightTable()) {
    bool ticked = std::find(unticked.begin(), unticked.end(), row.AccRight) == unticked.end();
    ar.push_back({row.Label(), ticked});
  }
  return {{"Name", "user"}, {"Pw", password}, {"Ar", ar}};
}

// A record as stored under id, packed from a working copy.
TJson Stored(TJson record, const std::string& id) {
  PackCredentials(record, id);
  record["_ID"] = id;
  return record;
}

TJson Unpacked(TJson record, TRecordToCompType kind, bool withLabels = false) {
  UnpackCredentials(record, kind, withLabels);
  return record;
}

std::vector<bool> Flags(const TJson& ar) {
  std::vector<bool> flags;
  for (const TJson& e : ar) flags.push_back(e.is_array() ? e[1].get<bool>() : e.get<bool>());
  return flags;
}

const std::vector<bool> AllRights(AccessRightsCount, true);
const std::vector<bool> NoRights(AccessRightsCount, false);

}  // namespace

TEST(UsersTable, DefaultLabelsInRightOrder) {
  auto table = DefaultAccessRightTable();
  ASSERT_EQ(table.size(), 13u);
  for (size_t j = 0; j < table.size(); ++j) EXPECT_EQ(table[j].AccRight, static_cast<int>(j));
  const std::vector<std::string> labels = {
      "Directory \"Channels\"",    "Directory \"Channel schedules\"", "Directory \"Movies\"",
      "Directory \"Groups of STB\"", "Directory \"Online control\"",   "Directory \"PlayLists\"",
      "Directory \"Server's options\"", "Directory \"Schedules\"",     "Directory \"Web pages\"",
      "Directory \"Web portals\"", "Directory \"Users\"",              "Directory \"Servers\"",
      "Use online control"};
  for (size_t j = 0; j < table.size(); ++j) EXPECT_EQ(table[j].Label(), labels[j]);
  EXPECT_EQ(table[arUsers].Label(), "Directory \"Users\"");
  EXPECT_EQ((TAccessRightTableRow{arMovies, "&Mo&vies", "Directory \"%s\""}.Label()),
            "Directory \"Movies\"");
}

TEST(UsersScramble, KeyWordsAreOverlappingPairsOfDigestBytes) {
  // MD5("abc") = 900150983cd24fb0d6963f7d28e17f72
  std::vector<int> expected = {0x9001, 0x0150, 0x5098, 0x983c, 0x3cd2, 0xd24f, 0x4fb0, 0xb0d6,
                               'a' ^ 0x9001, 'b' ^ 0x0150, 'c' ^ 0x5098};
  EXPECT_EQ(Scramble(u"abc"), expected);
  auto words = Unscramble(TJson(expected));
  ASSERT_TRUE(words);
  EXPECT_EQ(*words, (TwdArray{'a', 'b', 'c'}));
}

TEST(UsersScramble, CodeUnitsAbove127HashAsQuestionMarksButKeepAllBits) {
  auto wide = Scramble(u"\u0436");  // Cyrillic small zhe
  auto plain = Scramble(u"?");
  ASSERT_EQ(wide.size(), 9u);
  EXPECT_EQ(std::vector<int>(wide.begin(), wide.begin() + 8),
            std::vector<int>(plain.begin(), plain.begin() + 8));
  EXPECT_EQ(wide[8] ^ wide[0], 0x0436);
  EXPECT_EQ(*Unscramble(TJson(wide)), (TwdArray{0x0436}));
}

TEST(UsersScramble, AlteredOrMalformedArraysGiveNothing) {
  std::vector<int> a0 = Scramble(u"secret");
  ASSERT_TRUE(Unscramble(TJson(a0)));
  auto changed = [&](size_t i) {
    std::vector<int> copy = a0;
    copy[i] ^= 1;
    return TJson(copy);
  };
  EXPECT_FALSE(Unscramble(changed(0)));   // the recomputed key differs
  EXPECT_FALSE(Unscramble(changed(7)));
  EXPECT_FALSE(Unscramble(changed(10)));  // the text no longer hashes to its key
  EXPECT_FALSE(Unscramble(TJson("a0")));
  EXPECT_FALSE(Unscramble(TJson::array({1, 2, 3})));
  TJson text = a0;
  text[9] = "x";
  EXPECT_FALSE(Unscramble(text));
  TJson big = a0;
  big[9] = a0[9] + 65536;
  EXPECT_FALSE(Unscramble(big));
  EXPECT_TRUE(Unscramble(TJson(Scramble(u""))));  // eight key words and no text
}

TEST(UsersPack, ThreeCharacterPasswordWithAllRights) {
  TJson record = {{"Name", "u"}, {"Pw", "abc"}};  // no "Ar": every right
  PackCredentials(record, IdA);
  EXPECT_FALSE(record.contains("Pw"));
  EXPECT_FALSE(record.contains("Ar"));
  EXPECT_EQ(record["Name"], "u");
  ASSERT_TRUE(record["a0"].is_array());
  EXPECT_EQ(record["a0"].size(), 8u + 2 + 3 + 1 + 24);
  auto words = Unscramble(record["a0"]);
  ASSERT_TRUE(words);
  TwdArray expected = {4, 2, 'a', 'b', 'c', 16383};
  for (char c : IdA) expected.push_back(static_cast<uint16_t>(c));
  EXPECT_EQ(*words, expected);
}

TEST(UsersPack, UntickedRightsClearTheirBits) {
  TJson record = WorkingCopy("", {arChannels, arUsers, arUseControlPanel});
  PackCredentials(record, IdA);
  auto words = Unscramble(record["a0"]);
  ASSERT_TRUE(words);
  uint16_t rights = 16383 & ~(1 << 1) & ~(1 << 11) & ~(1 << 13);
  EXPECT_EQ((*words)[2], rights);
  std::vector<bool> flags = AllRights;
  flags[arChannels] = flags[arUsers] = flags[arUseControlPanel] = false;
  EXPECT_EQ(Flags(Unpacked(Stored(WorkingCopy(""), IdA), rtcLoad)["Ar"]), AllRights);
  EXPECT_EQ(Flags(Unpacked(Stored(WorkingCopy("", {arChannels, arUsers, arUseControlPanel}), IdA),
                           rtcLoad)["Ar"]),
            flags);
}

TEST(UsersUnpack, PasswordAndRightsComeBackWithLabels) {
  TJson record = Unpacked(Stored(WorkingCopy("pa55", {srGroups}), IdA), rtcLoad, true);
  EXPECT_EQ(record["Pw"], "pa55");
  ASSERT_EQ(record["Ar"].size(), 13u);
  EXPECT_EQ(record["Ar"][0], TJson::array({"Directory \"Channels\"", true}));
  EXPECT_EQ(record["Ar"][3], TJson::array({"Directory \"Groups of STB\"", false}));
  EXPECT_EQ(record["Ar"][12], TJson::array({"Use online control", true}));
  EXPECT_TRUE(record.contains("a0"));
}

TEST(UsersUnpack, PasswordsBeyondAsciiAreRestoredExactly) {
  const std::string password = "Пароль\xF0\x9F\x98\x80й";  // Cyrillic and U+1F600
  TJson record = Stored(WorkingCopy(password), IdA);
  EXPECT_EQ(record["a0"].size(), 8u + 2 + 9 + 1 + 24);  // the emoji takes two code units
  EXPECT_EQ(Unpacked(record, rtcLoad)["Pw"], password);
}

TEST(UsersUnpack, CopiedArrayIsBoundToItsIdentifier) {
  TJson original = Stored(WorkingCopy("abc", {arServers}), IdA);
  TJson copy = original;
  copy["_ID"] = IdB;  // "a0" copied into another record
  TJson loaded = Unpacked(copy, rtcLoad);
  EXPECT_EQ(loaded["Pw"], "");
  EXPECT_EQ(Flags(loaded["Ar"]), NoRights);
  TJson pasted = Unpacked(copy, rtcPaste);
  EXPECT_EQ(pasted["Pw"], "abc");
  std::vector<bool> flags = AllRights;
  flags[arServers] = false;
  EXPECT_EQ(Flags(pasted["Ar"]), flags);
  TJson fresh = Unpacked(copy, rtcNew);
  EXPECT_EQ(fresh["Pw"], "");
  EXPECT_EQ(Flags(fresh["Ar"]), AllRights);
  // Saving the pasted copy binds it to the new identifier.
  pasted.erase("a0");
  EXPECT_EQ(Unpacked(Stored(pasted, IdB), rtcLoad)["Pw"], "abc");
}

TEST(UsersUnpack, InvalidArraysShowNoPasswordAndNoRights) {
  TJson record = Stored(WorkingCopy("abc"), IdA);
  record["a0"][0] = record["a0"][0].get<int>() ^ 0x100;
  for (TRecordToCompType kind : {rtcLoad, rtcPaste}) {
    TJson r = Unpacked(record, kind);
    EXPECT_EQ(r["Pw"], "");
    EXPECT_EQ(Flags(r["Ar"]), NoRights);
  }
  EXPECT_EQ(Flags(Unpacked(record, rtcNew)["Ar"]), AllRights);
  TJson missing = {{"_ID", IdA}, {"Name", "x"}};
  EXPECT_EQ(Flags(Unpacked(missing, rtcLoad)["Ar"]), NoRights);
  // A valid array whose counts point past its end is treated as invalid.
  TJson shortWords = {{"_ID", ""}, {"a0", Scramble(std::u16string{9, 2, 'a'})}};
  TJson r = Unpacked(shortWords, rtcPaste);
  EXPECT_EQ(r["Pw"], "");
  EXPECT_EQ(Flags(r["Ar"]), NoRights);
}

TEST(UsersDefault, DefaultUserHasEveryRightAndNoPassword) {
  TJson record = DefaultUserRecord(IdA);
  ASSERT_EQ(record.size(), 2u);
  EXPECT_EQ(record.begin().key(), "a0");
  EXPECT_EQ(record["Name"], "Default");
  record["_ID"] = IdA;
  TJson r = Unpacked(record, rtcLoad);
  EXPECT_EQ(r["Pw"], "");
  EXPECT_EQ(Flags(r["Ar"]), AllRights);
}

TEST(UsersAdministrator, AnotherAdministratorMustRemain) {
  TJson admin = Stored(WorkingCopy("a"), IdA);
  TJson plain = Stored(WorkingCopy("b", {arUsers}), IdB);
  TUserList users = {{IdA, admin}, {IdB, plain}};
  EXPECT_FALSE(AnotherAdministratorExists(users, IdA));
  EXPECT_TRUE(AnotherAdministratorExists(users, IdB));
  EXPECT_EQ(UserDeleteRefusal(users, IdA),
            "Can't delete. Not remain a user with administrative rights!");
  EXPECT_EQ(UserDeleteRefusal(users, IdB), "");
  EXPECT_EQ(UserSaveRefusal(WorkingCopy("a", {arUsers}), users, IdA),
            "Can't save. Not remain a user with administrative rights!");
  EXPECT_EQ(UserSaveRefusal(WorkingCopy("a"), users, IdA), "");
  EXPECT_EQ(UserSaveRefusal(WorkingCopy("b", {arUsers}), users, IdB), "");
  // The check reads credentials as on paste: an array bound to another identifier still counts.
  TJson copied = plain;
  copied["a0"] = admin["a0"];
  EXPECT_TRUE(AnotherAdministratorExists({{IdA, admin}, {IdB, copied}}, IdA));
  EXPECT_FALSE(AnotherAdministratorExists({}, IdA));
}
