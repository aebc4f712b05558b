#include "shell/Users.h"

#include "recstore/JrecClasses.h"
#include "recstore/mongoID.h"

#include <openssl/evp.h>

#include <array>

#include "base/CommonProcedures.h"

namespace {

// Rights words needed for all rights: each word carries 15 rights above its bit 0.
constexpr int RightsWords = (AccessRightsCount - 1) / 15 + 1;

// Element j of an "Ar" list, as [label, ticked] or as the flag alone; nothing when missing.
std::optional<bool> TickOf(const TJson& ar, size_t j) {
  if (!ar.is_array() || j >= ar.size()) return std::nullopt;
  const TJson& e = ar[j];
  const TJson& flag = e.is_array() && e.size() > 1 ? e[1] : e;
  if (!flag.is_boolean()) return std::nullopt;
  return flag.get<bool>();
}

size_t RowOfRight(TsAccessRights right) {
  const auto& table = AccessRightTable();
  for (size_t j = 0; j < table.size(); ++j)
    if (table[j].AccRight == right) return j;
  return table.size();
}

bool HasRight(const TJson& ar, TsAccessRights right) {
  return TickOf(ar, RowOfRight(right)).value_or(false);
}

// Words 0 and 1 hold n + 1 and w + 1; the words must reach past the rights words.
bool WellFormed(const TwdArray& words) {
  return words.size() >= 2 && words[0] >= 1 && words[1] >= 1 &&
         words.size() >= size_t{words[0]} + words[1];
}

}  // namespace

std::string TAccessRightTableRow::Label() const {
  std::string caption;
  for (char c : menu)
    if (c != '&') caption += c;
  std::string label = format;
  size_t at = label.find("%s");
  if (at != std::string::npos) label.replace(at, 2, caption);
  return label;
}

std::vector<TAccessRightTableRow> DefaultAccessRightTable() {
  const std::string dir = "Directory \"%s\"";
  return {{arChannels, "Channels", dir},
          {arChSchedule, "Channel schedules", dir},
          {arMovies, "Movies", dir},
          {srGroups, "Groups of STB", dir},
          {arOnlineContr, "Online control", dir},
          {arPlayLists, "PlayLists", dir},
          {arSrvOptions, "Server's options", dir},
          {arSchedules, "Schedules", dir},
          {arWebPages, "Web pages", dir},
          {arWebPortals, "Web portals", dir},
          {arUsers, "Users", dir},
          {arServers, "Servers", dir},
          {arUseControlPanel, "", "Use online control"}};
}

std::vector<TAccessRightTableRow>& AccessRightTable() {
  static std::vector<TAccessRightTableRow> table = DefaultAccessRightTable();
  return table;
}

std::vector<int> Scramble(const std::u16string& packed) {
  std::string bytes;
  for (char16_t u : packed) bytes += u < 128 ? static_cast<char>(u) : '?';
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int digestLen = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest.data(), &digestLen, EVP_md5(), nullptr);
  // Key word j is written by hex digits 2j..2j+3 of the digest: bytes j and j + 1.
  std::array<int, 8> key{};
  for (size_t j = 0; j < key.size(); ++j) key[j] = digest[j] << 8 | digest[j + 1];
  std::vector<int> a0(key.begin(), key.end());
  for (size_t i = 0; i < packed.size(); ++i) a0.push_back(packed[i] ^ key[i % 8]);
  return a0;
}

std::optional<TwdArray> Unscramble(const TJson& a0) {
  if (!a0.is_array() || a0.size() < 8) return std::nullopt;
  std::vector<int> given;
  for (const TJson& e : a0) {
    if (!e.is_number()) return std::nullopt;
    double v = e.get<double>();
    if (v < 0 || v > 65535 || v != static_cast<int>(v)) return std::nullopt;
    given.push_back(static_cast<int>(v));
  }
  std::u16string packed;
  for (size_t i = 8; i < given.size(); ++i)
    packed += static_cast<char16_t>(given[i] ^ given[(i - 8) % 8]);
  if (Scramble(packed) != given) return std::nullopt;
  return TwdArray(packed.begin(), packed.end());
}

void PackCredentials(TJson& record, const std::string& identifier) {
  std::u16string password = Utf8ToUtf16(JsonStr(record, "Pw"));
  std::u16string packed;
  packed += static_cast<char16_t>(password.size() + 1);
  packed += static_cast<char16_t>(RightsWords + 1);
  packed += password;
  const size_t rightsAt = packed.size();
  packed.append(RightsWords, u'\x01');
  const TJson* ar = record.contains("Ar") && record["Ar"].is_array() ? &record["Ar"] : nullptr;
  const auto& table = AccessRightTable();
  for (size_t j = 0; j < table.size(); ++j) {
    if (ar && TickOf(*ar, j) == false) continue;
    int right = table[j].AccRight;
    packed[rightsAt + right / 15] |= static_cast<char16_t>(1 << (right % 15 + 1));
  }
  packed += Utf8ToUtf16(identifier);
  record["a0"] = Scramble(packed);
  record.erase("Pw");
  record.erase("Ar");
}

void UnpackCredentials(TJson& record, TRecordToCompType kind, bool withLabels) {
  auto a0 = record.find("a0");
  TwdArray words = {1, 1};
  if (a0 != record.end()) {
    auto unscrambled = Unscramble(*a0);
    if (unscrambled && WellFormed(*unscrambled)) words = std::move(*unscrambled);
  }
  size_t n = words[0] - 1u;
  size_t w = words[1] - 1u;
  std::u16string identifier(words.begin() + static_cast<ptrdiff_t>(n + w + 2), words.end());
  if (identifier != Utf8ToUtf16(JsonStr(record, "_ID")) && kind != rtcPaste) {
    n = 0;  // bound to another record: no password, no rights
    w = 0;
  }
  record["Pw"] = Utf16ToUtf8(std::u16string(words.begin() + 2, words.begin() + 2 + n));
  TJson ar = TJson::array();
  const auto& table = AccessRightTable();
  for (size_t j = 0; j < table.size(); ++j) {
    int bit = table[j].AccRight % 15 + 1;
    bool granted = kind == rtcNew || (j / 15 < w && (words[n + 2 + j / 15] >> bit & 1) != 0);
    if (withLabels) ar.push_back({table[j].Label(), granted});
    else ar.push_back(granted);
  }
  record["Ar"] = std::move(ar);
}

TJson DefaultUserRecord(const std::string& identifier) {
  TJson record = {{"Pw", ""}};
  PackCredentials(record, identifier);
  record["Name"] = "Default";
  return record;
}

bool AnotherAdministratorExists(const TUserList& users, const std::string& editedId) {
  for (const auto& [id, stored] : users) {
    if (id == editedId) continue;
    TJson user = stored;
    UnpackCredentials(user, rtcPaste, false);
    if (HasRight(user["Ar"], arUsers)) return true;
  }
  return false;
}

std::string UserSaveRefusal(const TJson& record, const TUserList& users,
                            const std::string& editedId) {
  const TJson* ar = JsonPath(record, "Ar");
  if ((ar && HasRight(*ar, arUsers)) || AnotherAdministratorExists(users, editedId)) return {};
  return "Can't save. Not remain a user with administrative rights!";
}

std::string UserDeleteRefusal(const TUserList& users, const std::string& editedId) {
  if (AnotherAdministratorExists(users, editedId)) return {};
  return "Can't delete. Not remain a user with administrative rights!";
}

std::string CreateDefaultUser(TDbCollectionItem& users, TDbCollectionItem& tree) {
  const std::string identifier = NewObjectID();
  TJson record = DefaultUserRecord(identifier);
  int64_t cntr = 0;
  std::optional<TJson> doc = tree.GetRecord("Users", cntr, true);  // a failed read raises
  if (doc && doc->is_array() && !doc->empty()) return {};
  TJson entries = doc && doc->is_array() ? *doc : TJson::array();
  entries.push_back(TJson{{"_ID", identifier}});
  auto failed = [&](const std::string& what) {
    const std::string why = users.DbFile().LastError();
    return std::runtime_error("The user \"Default\" was not created: " + what +
                              (why.empty() ? "" : ": " + why));
  };
  // The record first, so that no tree entry ever names a record that was not stored.
  if (!users.NewRecord(identifier, record)) throw failed("its record was not stored");
  // New or update: the tree document is not there yet in a fresh MongoDB database, and another
  // console that made its first user meanwhile changed its counter.
  if (!tree.NewOrUpdateRecord("Users", entries, cntr)) {
    std::runtime_error error = failed("the tree document \"Users\" was not stored");
    users.DelRecord(identifier);
    throw error;
  }
  return identifier;
}
