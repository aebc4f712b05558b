#include <gtest/gtest.h>

#include "control/ControlLayout.h"

namespace {
TJson J(const char* text) { return TJson::parse(text); }
}  // namespace

TEST(ControlLayout, ElementKindsAndTheInvalidType) {
  struct TCase {
    int type;
    const char* cls;
    int w, h;
    size_t colors, fonts;
    unsigned hidden;
  };
  const TCase cases[] = {
      {elemButton, "TDockedBtn", 100, 100, 1, 1, boxChannel},
      {elemTrackBar, "TDockedTrackBar", 0, 0, 0, 0, boxChannel},
      {elemText, "TDockedMemoBox", 0, 0, 3, 3, boxChannel},
      {elemPlayer, "TDockedPlayer", 320, 180, 0, 1, boxGroup | boxCommands | boxServer},
      {elemHTMLedit, "TDockedHTMLEditorBox", 0, 0, 3, 3, boxChannel},
  };
  for (const TCase& c : cases) {
    const TElementKind* k = FindElementKind(c.type);
    ASSERT_NE(k, nullptr) << c.type;
    EXPECT_STREQ(k->ClassName, c.cls);
    EXPECT_EQ(k->DefaultWidth, c.w);
    EXPECT_EQ(k->DefaultHeight, c.h);
    EXPECT_EQ(k->ColorParts.size(), c.colors) << c.cls;
    EXPECT_EQ(k->FontParts.size(), c.fonts) << c.cls;
    EXPECT_EQ(k->HiddenBoxes, c.hidden) << c.cls;
  }
  EXPECT_EQ(FindElementKind(0), nullptr);
  EXPECT_EQ(FindElementKind(6), nullptr);
  EXPECT_EQ(InvalidElementTypeText(6), "Invalid elerment type 6");
}

TEST(ControlLayout, TabOrderRowsByBottomEdgeThenRightEdge) {
  struct TCase {
    const char* what;
    std::vector<TElemRect> elems;
    int panelWidth;
    std::vector<int> tabs;
  };
  const TCase cases[] = {
      {"two buttons side by side, bottoms less than half a height apart: one row, left to right",
       {{200, 10, 100, 100}, {50, 50, 100, 100}}, 600, {1, 0}},
      {"bottoms exactly half a height apart still join",
       {{200, 0, 100, 100}, {50, 50, 100, 100}}, 600, {1, 0}},
      {"one pixel more and the lower one opens the next row",
       {{200, 0, 100, 100}, {50, 51, 100, 100}}, 600, {0, 1}},
      {"three rows, each read left to right",
       {{300, 300, 50, 50}, {10, 300, 50, 50}, {300, 10, 50, 50}, {10, 150, 50, 50}, {10, 10, 50, 50}},
       800, {4, 3, 1, 2, 0}},
      {"a tall element left of a short one joins its row by its middle",
       {{10, 10, 50, 50}, {0, 0, 8, 100}}, 400, {1, 0}},
      {"a right edge beyond twice the panel width sorts after the next row",
       {{0, 200, 10, 10}, {5000, 0, 10, 10}}, 100, {0, 1}},
      {"no elements", {}, 100, {}},
  };
  for (const TCase& c : cases) EXPECT_EQ(TabOrders(c.elems, c.panelWidth), c.tabs) << c.what;
}

TEST(ControlLayout, DropCentresOnThePointAndStaysInside) {
  struct TCase {
    TElemRect r;
    int x, y, w, h;
    TElemRect want;
  };
  const TCase cases[] = {
      {{0, 0, 100, 50}, 200, 100, 640, 480, {150, 75, 100, 50}},
      {{0, 0, 101, 51}, 200, 100, 640, 480, {150, 75, 101, 51}},  // halves toward zero
      {{0, 0, 100, 50}, 10, 5, 640, 480, {0, 0, 100, 50}},        // partly out at the top left
      {{0, 0, 100, 50}, 630, 470, 640, 480, {540, 430, 100, 50}}, // partly out at the bottom right
      {{0, 0, 100, 50}, -40, 900, 640, 480, {0, 430, 100, 50}},   // dropped outside
      {{0, 0, 700, 500}, 300, 200, 640, 480, {0, 0, 700, 500}},   // larger than the area
  };
  for (const TCase& c : cases)
    EXPECT_EQ(DropPlace(c.r, c.x, c.y, c.w, c.h), c.want) << c.x << "," << c.y;
}

TEST(ControlLayout, ArrowKeysMoveWithCtrlAndSizeWithShiftWithinLimits) {
  // Client 400 x 300 with a 20 pixel status line: right edge below 396, bottom below 276.
  struct TCase {
    const char* what;
    TElemRect r;
    TArrowKey key;
    bool ctrl, shift;
    bool changed;
    TElemRect want;
  };
  const TCase cases[] = {
      {"ctrl left", {5, 5, 50, 50}, akLeft, true, false, true, {4, 5, 50, 50}},
      {"ctrl left stops at 1", {1, 5, 50, 50}, akLeft, true, false, false, {1, 5, 50, 50}},
      {"ctrl up stops at 1", {5, 1, 50, 50}, akUp, true, false, false, {5, 1, 50, 50}},
      {"ctrl up", {5, 2, 50, 50}, akUp, true, false, true, {5, 1, 50, 50}},
      {"ctrl right", {344, 5, 50, 50}, akRight, true, false, true, {345, 5, 50, 50}},
      {"ctrl right stops 4 pixels inside", {346, 5, 50, 50}, akRight, true, false, false, {346, 5, 50, 50}},
      {"ctrl down", {5, 225, 50, 50}, akDown, true, false, true, {5, 226, 50, 50}},
      {"ctrl down stops above the status line", {5, 226, 50, 50}, akDown, true, false, false, {5, 226, 50, 50}},
      {"shift left narrows 16 to 15", {5, 5, 16, 50}, akLeft, false, true, true, {5, 5, 15, 50}},
      {"shift left keeps 15", {5, 5, 15, 50}, akLeft, false, true, false, {5, 5, 15, 50}},
      {"shift up keeps 15", {5, 5, 50, 15}, akUp, false, true, false, {5, 5, 50, 15}},
      {"shift right widens", {5, 5, 50, 50}, akRight, false, true, true, {5, 5, 51, 50}},
      {"shift right stops at the edge", {346, 5, 50, 50}, akRight, false, true, false, {346, 5, 50, 50}},
      {"shift down stops above the status line", {5, 226, 50, 50}, akDown, false, true, false, {5, 226, 50, 50}},
      {"ctrl wins over shift", {5, 5, 50, 50}, akLeft, true, true, true, {4, 5, 50, 50}},
      {"neither changes nothing", {5, 5, 50, 50}, akLeft, false, false, false, {5, 5, 50, 50}},
  };
  for (const TCase& c : cases) {
    TElemRect r = c.r;
    EXPECT_EQ(ArrowKeyChange(r, c.key, c.ctrl, c.shift, 400, 300, 20), c.changed) << c.what;
    EXPECT_EQ(r, c.want) << c.what;
  }
}

TEST(ControlLayout, CopyDeleteAndShowText) {
  TJson e = J(R"({"Type":1,"Name":"On","PosX":50,"PosY":40,"Width":100,"Height":100,
                  "Colors":[255],"Fonts":[{"sz":9,"st":1,"ch":1,"cl":0,"n":"Sans"}],
                  "Cmds":[{"stbpower":{"Method":"command","Value":"1"}}]})");
  TJson copy = CopiedElement(e, 50, 40);
  EXPECT_EQ(copy["PosX"], 60);
  EXPECT_EQ(copy["PosY"], 50);
  copy["PosX"] = 50;
  copy["PosY"] = 40;
  EXPECT_TRUE(JsonEqual(copy, e));

  TJson table = J(R"([{"Name":"a"},{"Name":"b"},{"Name":"c"}])");
  EXPECT_TRUE(DeleteTableEntry(table, 1));
  EXPECT_TRUE(JsonEqual(table, J(R"([{"Name":"a"},{"Name":"c"}])")));
  EXPECT_FALSE(DeleteTableEntry(table, 2));
  EXPECT_FALSE(DeleteTableEntry(table, -1));

  TJson memo = J(R"({"Type":3,"Cmds":[{"stbpower":{}},{"showtext":{"Value":"t","Text":"old"}},
                                      {"showtext":{"Text":"second"}}]})");
  EXPECT_EQ(ShowText(memo), "old");
  EXPECT_TRUE(SetShowText(memo, "new"));
  EXPECT_EQ(memo["Cmds"][1]["showtext"]["Text"], "new");
  EXPECT_EQ(memo["Cmds"][2]["showtext"]["Text"], "second");
  TJson none = J(R"({"Type":3,"Cmds":[{"stbpower":{}}]})");
  EXPECT_EQ(ShowText(none), "");
  EXPECT_FALSE(SetShowText(none, "x"));
  EXPECT_FALSE(SetShowText(memo = J(R"({"Type":3})"), "x"));
}

TEST(ControlLayout, ColourValuesAndCustomColourLines) {
  EXPECT_EQ(ColorValueToRgb(0x0000FF), 0xFF0000u);  // red in the lowest byte
  EXPECT_EQ(ColorValueToRgb(0x123456), 0x563412u);
  EXPECT_EQ(ColorValueToRgb(0x7F123456), 0x563412u);  // only the low 24 bits
  EXPECT_EQ(ColorValueToRgb(-16777201), ColorValueToRgb(0x00000F));  // a system colour value
  EXPECT_EQ(RgbToColorValue(0xFF0000), 0x0000FF);
  EXPECT_EQ(RgbToColorValue(ColorValueToRgb(0xABCDEF)), 0xABCDEF);

  const TJson cust = J(R"([255, 11259375, 0])");
  const std::vector<std::string> lines = CustColorsToLines(cust);
  EXPECT_EQ(lines, (std::vector<std::string>{"ColorA=0000FF", "ColorB=ABCDEF", "ColorC=000000"}));
  EXPECT_TRUE(JsonEqual(LinesToCustColors(lines), cust));
  EXPECT_TRUE(JsonEqual(LinesToCustColors({"ColorA=1FFFFFF", "ColorB=zz", "ColorC"}), J("[16777215]")));
  EXPECT_TRUE(CustColorsToLines(J("null")).empty());
}

TEST(ControlLayout, FontObjectsAndPlayerAddresses) {
  TFontSpec f{12, 1 | 4, 204, 0x0000FF, "DejaVu Sans"};
  EXPECT_TRUE(JsonEqual(FontToJson(f), J(R"({"sz":12,"st":5,"ch":204,"cl":255,"n":"DejaVu Sans"})")));
  EXPECT_EQ(FontFromJson(FontToJson(f)), f);
  TFontSpec partial = FontFromJson(J(R"({"sz":20})"), f);
  EXPECT_EQ(partial.Size, 20);
  EXPECT_EQ(partial.Name, "DejaVu Sans");

  EXPECT_EQ(PlayerUrl("igmp://239.1.1.1:1234"), "udp://@239.1.1.1:1234");
  EXPECT_EQ(PlayerUrl("IGMP://239.1.1.1:1234/Path"), "udp://@239.1.1.1:1234/Path");
  EXPECT_EQ(PlayerUrl("http://server/igmp://x"), "http://server/igmp://x");
  EXPECT_EQ(PlayerUrl("igmp:/"), "igmp:/");
  EXPECT_EQ(PlayerUrl(""), "");
}
