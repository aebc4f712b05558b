#include "schedule/ScheduleClasses.h"

namespace {

constexpr uint16_t StbCommand = opt_Delay | opt_ToStb | opt_StbValue;
constexpr TElementTypes ChanAndButton{elmt_cmdChan, elmt_Button};

}  // namespace

const std::array<TcmdTableRow, cmdTableSize> cmdTable = {{
    {"STBs", "", "", "", 0, ChanAndButton},
    {"STB power on", "command", "stbpower", "1", StbCommand, ChanAndButton},
    {"STB power off", "command", "stbpower", "0", StbCommand, ChanAndButton},
    {"STB mute", "command", "stbmute", "1", StbCommand, ChanAndButton},
    {"STB unmute", "command", "stbmute", "0", StbCommand, ChanAndButton},
    {"STB reboot", "command", "reboot", "", StbCommand, ChanAndButton},
    {"STB locate", "command", "locate", "", StbCommand, {elmt_Button}},
    {"STB commit parametrs", "command", "commitparams", "", StbCommand, ChanAndButton},
    {"TVs", "", "", "", 0, ChanAndButton},
    {"TV power on", "command", "tvpower", "1", StbCommand, ChanAndButton},
    {"TV power off", "command", "tvpower", "0", StbCommand, ChanAndButton},
    {"TV mute", "command", "tvmute", "1", StbCommand, ChanAndButton},
    {"TV unmute", "command", "tvmute", "0", StbCommand, ChanAndButton},
    {"Channels", "", "", "", 0, ChanAndButton},
    {"Set channel", "command", "channel", "", StbCommand | opt_Channel, ChanAndButton},
    {"Stop channel", "stop_channel", "none", "", opt_Delay | opt_Channel | opt_ServerValue,
     ChanAndButton},
    {"Start channel", "start_channel", "none", "",
     opt_Delay | opt_Channel | opt_StartTime | opt_ServerValue, ChanAndButton},
    {"System", "", "", "", 0, ChanAndButton},
    {"Restart Pelmora", "restart_pelmora", "none", "", opt_Delay, ChanAndButton},
    {"Reboot server", "reboot_system", "none", "", opt_Delay, ChanAndButton},
    {"Shutdown server", "halt_system", "none", "", opt_Delay, ChanAndButton},
    {"Save statistics", "save_stats", "none", "", opt_Delay, ChanAndButton},
    {"Second layer", "", "", "", 0, {elmt_cmdChan, elmt_Button, elmt_Text, elmt_HTMLedit}},
    {"Show Web-page", "command", "showpage", "",
     opt_Delay | opt_ToStb | opt_HtmlElement | opt_WebPage | opt_Timeout, ChanAndButton},
    {"Show text", "command", "showtext", "",
     opt_Delay | opt_ToStb | opt_HtmlElement | opt_Timeout | opt_Text,
     {elmt_cmdChan, elmt_Button, elmt_Text, elmt_HTMLedit}},
    {"Set variable", "setvariable", "none", "",
     opt_Delay | opt_StbValue | opt_VarName | opt_Value2, {elmt_cmdChan}},
}};

int FindCmdTableRowIndex(const TJson& command) {
  if (!command.is_object()) return -1;
  for (size_t i = 0; i < cmdTable.size(); ++i) {
    const TcmdTableRow& row = cmdTable[i];
    auto member = command.find(std::string(row.Cmd));
    if (member == command.end()) continue;
    if (!member->is_object()) return -1;  // an unreadable command ends the scan
    if (JsonStr(*member, "Method") != row.meth) continue;
    if (row.val.empty() || JsonStr(*member, "Value") == row.val) return static_cast<int>(i);
  }
  return -1;
}

const TcmdTableRow& FindCmdTableRow(const TJson& command) {
  int i = FindCmdTableRowIndex(command);
  return i < 0 ? emptyCmdTableRow : cmdTable[static_cast<size_t>(i)];
}
