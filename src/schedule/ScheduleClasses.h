#pragma once
// The schedule model and the fixed table of the commands that channel schedules and control
// panels send.
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "recstore/Json.h"

// Where a command may be used: in a channel schedule, or on a control panel element of that
// kind.
enum TElementType { elmt_cmdChan, elmt_Button, elmt_TrackBar, elmt_Text, elmt_Player, elmt_HTMLedit };

// A set of element types.
class TElementTypes {
public:
  constexpr TElementTypes() = default;
  constexpr TElementTypes(std::initializer_list<TElementType> types) {
    for (TElementType t : types) FBits = static_cast<uint8_t>(FBits | Bit(t));
  }
  constexpr bool Contains(TElementType t) const { return (FBits & Bit(t)) != 0; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr bool operator==(const TElementTypes&) const = default;

private:
  static constexpr uint8_t Bit(TElementType t) { return static_cast<uint8_t>(1u << t); }
  uint8_t FBits = 0;
};

// Option bits of a command (opt).
inline constexpr uint16_t opt_Delay = 1 << 0;        // has a "Delay"
inline constexpr uint16_t opt_Channel = 1 << 1;      // "Value" is a channel id
inline constexpr uint16_t opt_ToStb = 1 << 2;        // sent to the set-top boxes of a group
inline constexpr uint16_t opt_StbValue = 1 << 3;     // a set-top box command passes "Value"
inline constexpr uint16_t opt_StartTime = 1 << 4;    // has "Time", labelled "Start time"
inline constexpr uint16_t opt_ServerValue = 1 << 5;  // a server command passes "Value"
inline constexpr uint16_t opt_HtmlElement = 1 << 6;  // "Value" is an HTML element
inline constexpr uint16_t opt_WebPage = 1 << 7;      // has a web page "WPage"
inline constexpr uint16_t opt_Timeout = 1 << 8;      // has "Time", labelled "Timeout"
inline constexpr uint16_t opt_Text = 1 << 9;         // has "Text"; "Value" is quoted
inline constexpr uint16_t opt_VarName = 1 << 10;     // "Value" is a variable name
inline constexpr uint16_t opt_Value2 = 1 << 11;      // has a second value "Val2"

// One command: menu caption, method, key of the command object, fixed value (empty: any),
// option bits and the elements that offer it. Rows without a method are group headings.
struct TcmdTableRow {
  std::string_view text;
  std::string_view meth;
  std::string_view Cmd;
  std::string_view val;
  uint16_t opt = 0;
  TElementTypes elem;
  constexpr bool Has(uint16_t option) const { return (opt & option) != 0; }
  constexpr bool IsEmpty() const { return text.empty() && meth.empty() && Cmd.empty(); }
};

inline constexpr size_t cmdTableSize = 26;
extern const std::array<TcmdTableRow, cmdTableSize> cmdTable;
// What a command object that matches no row gets.
inline constexpr TcmdTableRow emptyCmdTableRow{};

// The row of a command object {Cmd: {"Method": ..., "Value": ...}}: the first row whose Cmd is
// a key of the object, whose meth equals that member's "Method" and whose val is empty or
// equals its "Value". -1 when none matches or the object cannot be read.
int FindCmdTableRowIndex(const TJson& command);
// The same as a row; emptyCmdTableRow when none matches.
const TcmdTableRow& FindCmdTableRow(const TJson& command);
