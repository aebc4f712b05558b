#pragma once
// Users' credentials: the password and access rights of a user record are packed together with
// the record's identifier into 16-bit words and scrambled into the credential array "a0", so
// that an altered array, or one copied into another record, is detected.
//
// While a user is edited its working copy holds "Pw" (the password) and "Ar" (one
// [label, ticked] pair per access-right row); the stored record holds only "a0".
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "recstore/Json.h"
#include "shell/RecordToCompType.h"

enum TsAccessRights {
  arChannels,
  arChSchedule,
  arMovies,
  srGroups,
  arOnlineContr,
  arPlayLists,
  arSrvOptions,
  arSchedules,
  arWebPages,
  arWebPortals,
  arUsers,  // the administrative right: managing users
  arServers,
  arUseControlPanel
};
inline constexpr int AccessRightsCount = 13;

// One line of the access-rights list: the label is format with the caption of the menu entry
// (every "&" removed) in place of "%s".
struct TAccessRightTableRow {
  TsAccessRights AccRight;
  std::string menu;
  std::string format;
  std::string Label() const;
};

// The rows with the console's own menu captions, one per right in ordinal order:
// Directory "Channels" ... Directory "Servers", Use online control.
std::vector<TAccessRightTableRow> DefaultAccessRightTable();
// The table the credentials use. It starts as the default table; the main window may fill it
// again from its menus at start.
std::vector<TAccessRightTableRow>& AccessRightTable();

using TwdArray = std::vector<uint16_t>;

// The credential array of a packed text: eight key words from the MD5 digest of the text
// (code units above 127 count as "?"), then every code unit XOR key word (i mod 8).
std::vector<int> Scramble(const std::u16string& packed);
// The packed words of a credential array; nothing when it is not an array of at least eight
// integers 0..65535 or does not scramble back to itself.
std::optional<TwdArray> Unscramble(const TJson& a0);

// Replaces "Pw" and "Ar" of the record by "a0", bound to identifier. A record without "Ar"
// gets every right.
void PackCredentials(TJson& record, const std::string& identifier);
// Writes "Pw" and "Ar" from the record's "a0". An invalid array, or one bound to another
// identifier than the record's "_ID" (except on paste), gives no password and no rights (every
// right for a new record). withLabels gives [label, granted] pairs, otherwise only the flags.
void UnpackCredentials(TJson& record, TRecordToCompType kind, bool withLabels);

// A user record as stored: {"a0": credentials with an empty password and every right,
// "Name": "Default"}.
TJson DefaultUserRecord(const std::string& identifier);

class TDbCollectionItem;
// Creates the user "Default" (empty password, every right) when the tree document "Users" of
// Tree has no entry at all (also when the tree document is missing); returns its identifier, or
// "" when users exist and nothing was made. Raises std::runtime_error (EDbReadError for a failed
// read) with the reason when it could not be stored; nothing is left behind then.
std::string CreateDefaultUser(TDbCollectionItem& users, TDbCollectionItem& tree);

// The user records of the collection in tree order, each with its identifier.
using TUserList = std::vector<std::pair<std::string, TJson>>;

// Whether a user other than editedId holds arUsers (credentials read as on paste).
bool AnotherAdministratorExists(const TUserList& users, const std::string& editedId);
// The refusal message for saving the working copy record of editedId, empty when allowed.
std::string UserSaveRefusal(const TJson& record, const TUserList& users,
                            const std::string& editedId);
// The refusal message for deleting editedId, empty when allowed.
std::string UserDeleteRefusal(const TUserList& users, const std::string& editedId);
