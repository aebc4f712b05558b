#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "schedule/ScheduleClasses.h"

namespace {

uint16_t Bits(std::initializer_list<int> bits) {
  uint16_t mask = 0;
  for (int b : bits) mask = static_cast<uint16_t>(mask | (1 << b));
  return mask;
}

TJson Command(const std::string& cmd, const std::string& method, const TJson& value = nullptr) {
  TJson inner = {{"Method", method}};
  if (!value.is_null()) inner["Value"] = value;
  inner["Delay"] = 0;
  return {{cmd, inner}};
}

}  // namespace

TEST(CmdTable, RowsInOrderWithTheirKeys) {
  ASSERT_EQ(cmdTable.size(), 26u);
  const char* expected[26] = {  // text|meth|Cmd|val
      "STBs|||",
      "STB power on|command|stbpower|1",
      "STB power off|command|stbpower|0",
      "STB mute|command|stbmute|1",
      "STB unmute|command|stbmute|0",
      "STB reboot|command|reboot|",
      "STB locate|command|locate|",
      "STB commit parametrs|command|commitparams|",
      "TVs|||",
      "TV power on|command|tvpower|1",
      "TV power off|command|tvpower|0",
      "TV mute|command|tvmute|1",
      "TV unmute|command|tvmute|0",
      "Channels|||",
      "Set channel|command|channel|",
      "Stop channel|stop_channel|none|",
      "Start channel|start_channel|none|",
      "System|||",
      "Restart Pelmora|restart_pelmora|none|",
      "Reboot server|reboot_system|none|",
      "Shutdown server|halt_system|none|",
      "Save statistics|save_stats|none|",
      "Second layer|||",
      "Show Web-page|command|showpage|",
      "Show text|command|showtext|",
      "Set variable|setvariable|none|",
  };
  for (size_t i = 0; i < cmdTable.size(); ++i) {
    const TcmdTableRow& r = cmdTable[i];
    EXPECT_EQ(std::string(r.text) + "|" + std::string(r.meth) + "|" + std::string(r.Cmd) + "|" +
                  std::string(r.val),
              expected[i]);
  }
}

TEST(CmdTable, OptionBitsOfEveryRow) {
  const uint16_t stb = Bits({0, 2, 3});
  const uint16_t expected[26] = {
      0,   stb, stb, stb, stb, stb, stb, stb,             // STBs
      0,   stb, stb, stb, stb,                            // TVs
      0,   Bits({0, 1, 2, 3}), Bits({0, 1, 5}), Bits({0, 1, 4, 5}),  // Channels
      0,   Bits({0}), Bits({0}), Bits({0}), Bits({0}),    // System
      0,   Bits({0, 2, 6, 7, 8}), Bits({0, 2, 6, 8, 9}), Bits({0, 3, 10, 11})};
  for (size_t i = 0; i < cmdTable.size(); ++i) EXPECT_EQ(cmdTable[i].opt, expected[i]) << i;
  EXPECT_TRUE(cmdTable[16].Has(opt_StartTime));
  EXPECT_FALSE(cmdTable[15].Has(opt_StartTime));
  EXPECT_TRUE(cmdTable[25].Has(opt_Value2));
}

TEST(CmdTable, ElementSetsOfEveryRow) {
  const TElementTypes chanAndButton{elmt_cmdChan, elmt_Button};
  const TElementTypes secondLayer{elmt_cmdChan, elmt_Button, elmt_Text, elmt_HTMLedit};
  for (size_t i = 0; i < cmdTable.size(); ++i) {
    TElementTypes expected = chanAndButton;
    if (i == 6) expected = {elmt_Button};
    if (i == 22 || i == 24) expected = secondLayer;
    if (i == 25) expected = {elmt_cmdChan};
    EXPECT_EQ(cmdTable[i].elem, expected) << i;
    EXPECT_FALSE(cmdTable[i].elem.Contains(elmt_TrackBar)) << i;
    EXPECT_FALSE(cmdTable[i].elem.Contains(elmt_Player)) << i;
  }
  // Control panel buttons offer "STB locate", channel schedules do not.
  EXPECT_TRUE(cmdTable[6].elem.Contains(elmt_Button));
  EXPECT_FALSE(cmdTable[6].elem.Contains(elmt_cmdChan));
  EXPECT_TRUE(TElementTypes{}.Empty());
}

TEST(CmdTableLookup, MethodAndValueSelectTheRow) {
  EXPECT_EQ(FindCmdTableRowIndex(Command("stbpower", "command", "1")), 1);
  EXPECT_EQ(FindCmdTableRowIndex(Command("stbpower", "command", "0")), 2);
  EXPECT_EQ(FindCmdTableRowIndex(Command("tvmute", "command", "0")), 12);
  EXPECT_EQ(FindCmdTableRowIndex(Command("stbpower", "command", "2")), -1);
  EXPECT_EQ(FindCmdTableRowIndex(Command("stbpower", "command")), -1);  // no Value
  EXPECT_EQ(FindCmdTableRowIndex(Command("stbpower", "start_channel", "1")), -1);
  EXPECT_EQ(FindCmdTableRow(Command("stbmute", "command", "1")).text, "STB mute");
}

TEST(CmdTableLookup, RowsWithoutValueMatchAnyValue) {
  EXPECT_EQ(FindCmdTableRowIndex(Command("reboot", "command", "7")), 5);
  EXPECT_EQ(FindCmdTableRowIndex(Command("reboot", "command")), 5);
  EXPECT_EQ(FindCmdTableRowIndex(Command("channel", "command", "5f1a2b3c4d5e6f7a8b9c0d1e")), 14);
  EXPECT_EQ(FindCmdTableRowIndex(Command("showtext", "command", "div1")), 24);
}

TEST(CmdTableLookup, NoneKeyRowsAreToldApartByMethod) {
  EXPECT_EQ(FindCmdTableRowIndex(Command("none", "stop_channel", "ch")), 15);
  EXPECT_EQ(FindCmdTableRowIndex(Command("none", "start_channel", "ch")), 16);
  EXPECT_EQ(FindCmdTableRowIndex(Command("none", "restart_pelmora")), 18);
  EXPECT_EQ(FindCmdTableRowIndex(Command("none", "save_stats")), 21);
  EXPECT_EQ(FindCmdTableRowIndex(Command("none", "setvariable", "v")), 25);
  EXPECT_EQ(FindCmdTableRowIndex(Command("none", "command")), -1);
  EXPECT_EQ(FindCmdTableRowIndex(Command("none", "")), -1);
  EXPECT_EQ(FindCmdTableRowIndex(Command("unknown", "command", "1")), -1);
}

TEST(CmdTableLookup, NumbersReadAsTheirText) {
  TJson cmd = {{"tvpower", {{"Method", "command"}, {"Value", 1}}}};
  EXPECT_EQ(FindCmdTableRowIndex(cmd), 9);
}

TEST(CmdTableLookup, MalformedCommandsGiveTheEmptyRow) {
  for (const TJson& bad : {TJson(nullptr), TJson("stbpower"), TJson::array({1, 2}),
                           TJson::object(), TJson{{"stbpower", "1"}},
                           TJson{{"none", TJson::array({"Method", "save_stats"})}}}) {
    EXPECT_EQ(FindCmdTableRowIndex(bad), -1) << bad.dump();
    const TcmdTableRow& row = FindCmdTableRow(bad);
    EXPECT_EQ(&row, &emptyCmdTableRow);
    EXPECT_TRUE(row.IsEmpty());
    EXPECT_EQ(row.opt, 0);
    EXPECT_TRUE(row.elem.Empty());
  }
}

TEST(CmdTableLookup, ScanFollowsTableOrderOverTheObjectsKeys) {
  // The rows are scanned in order: the first row whose key is present decides.
  TJson twoKeys = {{"none", {{"Method", "save_stats"}}},
                   {"tvpower", {{"Method", "command"}, {"Value", "0"}}}};
  EXPECT_EQ(FindCmdTableRowIndex(twoKeys), 10);
  // An unreadable member ends the scan when its row is reached...
  TJson unreadableFirst = {{"tvpower", {{"Method", "command"}, {"Value", "1"}}},
                           {"stbmute", 5}};
  EXPECT_EQ(FindCmdTableRowIndex(unreadableFirst), -1);
  // ...but not when an earlier row already matched.
  TJson unreadableLater = {{"stbpower", {{"Method", "command"}, {"Value", "1"}}}, {"none", 5}};
  EXPECT_EQ(FindCmdTableRowIndex(unreadableLater), 1);
}
