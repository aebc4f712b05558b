#pragma once
// The rules of a control panel's layout that need no window: the element kinds and what each
// stores, the element objects of the panel record's "Table", the tab order of the elements,
// where a dragged element lands, moving and sizing with the arrow keys, colour values
// (0x00BBGGRR) and the colour dialog's custom colours, and the address a player plays.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recstore/Json.h"

// Element types of the "Type" key; the same numbers as the command table's element types.
inline constexpr int elemButton = 1;
inline constexpr int elemTrackBar = 2;
inline constexpr int elemText = 3;
inline constexpr int elemPlayer = 4;
inline constexpr int elemHTMLedit = 5;

// The boxes of the element edit window an element kind may hide.
inline constexpr unsigned boxChannel = 1;
inline constexpr unsigned boxGroup = 2;
inline constexpr unsigned boxCommands = 4;
inline constexpr unsigned boxServer = 8;

// One element kind: its class, default size (0: the toolkit's default), the captions of its
// colour and font parts in "Colors" / "Fonts" order and the edit-window boxes it hides.
struct TElementKind {
  int Type;
  const char* ClassName;
  int DefaultWidth;
  int DefaultHeight;
  std::vector<std::string> ColorParts;
  std::vector<std::string> FontParts;
  unsigned HiddenBoxes;
};
// Nothing for a type that is no element (0, 6, ...).
const TElementKind* FindElementKind(int type);
// "Invalid elerment type %d"
std::string InvalidElementTypeText(int type);

// The status line of a panel in edit mode.
inline const std::string editModeHint =
    "To move controls, hold \"Ctrl\" key and then use the mouse or arrow keys. To change "
    "control's size, hold \"Shift\" key and then use arrow keys.";

// ---------------------------------------------------------------------------------------------
// Geometry

struct TElemRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool operator==(const TElemRect&) const = default;
};

// The element's rectangle from its object (PosX, PosY, Width, Height; missing keys 0).
TElemRect ElementRect(const TJson& element);
void SetElementRect(TJson& element, const TElemRect& r);

// Tab order: rows are formed from the elements' bottom edges (b = top + height - 2): the first
// row's line is the smallest b of all, each next row's the smallest b of those left; an element
// joins the row when b - height / 2 is not below the line. Elements are ordered by
// row * 2 * PanelWidth + right edge (left + width - 2). Result: the tab position of each
// element (same indexes as Elems).
std::vector<int> TabOrders(const std::vector<TElemRect>& elems, int panelWidth);

// Where an element dragged to point (X, Y) of an area AreaWidth x AreaHeight lands: centred on
// the point and kept inside the area (at the top left corner when it is larger than the area).
TElemRect DropPlace(TElemRect r, int x, int y, int areaWidth, int areaHeight);

enum TArrowKey { akLeft, akUp, akRight, akDown };
// One arrow key on an element: with Ctrl it moves one pixel, otherwise with Shift it grows or
// shrinks one pixel, within the panel's client area (ClientHeight without the status line).
// Ctrl wins over Shift; neither changes nothing. True when the rectangle changed.
bool ArrowKeyChange(TElemRect& r, TArrowKey key, bool ctrl, bool shift, int clientWidth,
                    int clientHeight, int statusHeight);

// ---------------------------------------------------------------------------------------------
// Elements of the table

// The "_ID" of a reference member ({"_ID", "_CL"}) of an element; "" when missing.
std::string ElementRefId(const TJson& element, const char* key);

// A copy of Element placed 10 pixels right of and below (Left, Top).
TJson CopiedElement(const TJson& element, int left, int top);
// A new element object at (X, Y) of a kind; new elements get the kind's default size when it
// has one.
TJson NewElement(int type, int x, int y);
// Removes entry Tag of Table; the entries after it move up one place (their tags drop by one).
// False when there is no such entry.
bool DeleteTableEntry(TJson& table, int tag);

// The Text of the element's first "showtext" command ("" when there is none).
std::string ShowText(const TJson& element);
// Writes Text into the first "showtext" command; false when the element has none.
bool SetShowText(TJson& element, const std::string& text);

// ---------------------------------------------------------------------------------------------
// Colours and fonts

// A stored colour value 0x00BBGGRR (only the low 24 bits count) as 0xRRGGBB, and back.
uint32_t ColorValueToRgb(int64_t value);
int64_t RgbToColorValue(uint32_t rgb);

// The colour dialog's custom colour lines "ColorA=BBGGRR" (A for the first entry, six
// hexadecimal digits) of a "CustColors" array, and the array of such lines (each read as a
// hexadecimal number, low 24 bits; lines that do not read are skipped).
std::vector<std::string> CustColorsToLines(const TJson& custColors);
TJson LinesToCustColors(const std::vector<std::string>& lines);

// A font object {"sz", "st", "ch", "cl", "n"}. Style bits: 1 bold, 2 italic, 4 underline,
// 8 strike-out.
struct TFontSpec {
  int Size = 9;
  int Style = 0;
  int Charset = 1;
  int64_t Color = 0;
  std::string Name;
  bool operator==(const TFontSpec&) const = default;
};
TJson FontToJson(const TFontSpec& font);
// Missing keys keep the values of Base.
TFontSpec FontFromJson(const TJson& value, const TFontSpec& base = {});

// ---------------------------------------------------------------------------------------------
// Players

// Milliseconds a player waits for its stream to start, and after the last position change
// before it plays its address again from the start.
inline constexpr int playerStartWatchdogMs = 8000;
inline constexpr int playerStallWatchdogMs = 5000;
inline constexpr int playerStartWaitMs = 10000;
// The address a channel URL is played from: "igmp://" (any case) becomes "udp://@".
std::string PlayerUrl(const std::string& channelUrl);
