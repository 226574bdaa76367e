#pragma once

#include "operations/moduleview.h"
#include "texts/textrow.h"
#include "vocabulary/vocabulary.h"

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qmr {

// The window described once: every control with its kind, its pixel box, what it shows and how
// it is drawn. Each front end creates its native controls from this table and only draws them.

// The window's client area and the blink clock of shComm.
inline constexpr int FormWidth = 560;
inline constexpr int FormHeight = 425;
inline constexpr int TickIntervalMs = 200;

// The steps of the ID scroll bars, which choose from MinReaderId to MaxReaderId.
inline constexpr int IdSmallStep = 1;
inline constexpr int IdLargeStep = 10;

enum class ControlKind
{
    Panel,       // a text on a bevelled panel
    Lamp,        // the round indicator
    Label,       // a right-aligned caption
    Button,      // a push button
    ScrollBar,   // horizontal, MinReaderId..MaxReaderId
    List,        // a drop-down list, selection only
    CheckBox,    //
    GroupBox,    // a frame with a title
    PageControl, // tabs drawn as flat buttons
    Page,        // the one page of a page control
};

// What a button shows beside or instead of its caption.
enum class Picture
{
    None,
    Magnifier,    // btnScan
    IdCard,       // btnID
    LineSetting,  // btnBaudRate
    ModeSwitch,   // btnMode
    ProgressBar,  // btnProcess
    CloseCross,   // btnExit
    QuickSetting, // a tall button: the picture of quickPicture() above the caption
    LanguageMark, // the caption itself, drawn as red characters
};

// Character height and weight; each front end picks faces that have the script's characters.
enum class FontRole
{
    Base,   // 16 px bold: the window's own font
    Label,  // 13 px regular: the captions beside the fields, btnEng
    Page,   // 16 px regular: the tab of the quick-setting page
    Footer, // 11 px regular: pnTAVEX
};

struct FontSpec
{
    int pixelHeight;
    bool bold;
};
FontSpec fontSpec(FontRole role);

enum class ColourRole
{
    Face,    // the system's button face, system text
    Value,   // yellow bold on the highlight colour: a value read from or chosen for the module
    Message, // white on the active caption colour: the message line
    Footer,  // white on purple
    RedText, // red text on the button face: btnEng
};

// A colour of a role: one of the system's, or a fixed one (RGB).
enum class SystemColour
{
    Fixed,         // red, green, blue
    ButtonFace,    // the system's button face
    ButtonText,    // the system's button text
    Highlight,     // the system's highlight
    ActiveCaption, // the system's active caption (where a toolkit has none: the highlight)
};

struct Colour
{
    SystemColour system = SystemColour::Fixed;
    int red = 0, green = 0, blue = 0;
};

struct ColourSpec
{
    Colour background;
    Colour text;
};
ColourSpec colourSpec(ColourRole role);

struct Box
{
    int x, y, width, height; // within the parent's client area
};

// A caption: a row of the language table between two fixed texts, or a fixed text alone.
struct Caption
{
    bool translated = false;
    TextRow row = TextRow::Company;
    std::string_view before;
    std::string_view after;
};

struct ControlSpec
{
    Control id;
    std::string_view name;
    ControlKind kind;
    Control parent; // None: the window
    Box box;
    Caption caption; // the text at start (and, when translated, after every language switch)
    FontRole font;
    ColourRole colour;
    Picture picture;
};

// The picture of a tall quick-setting button: a headline in blue over two lines in red.
struct QuickPicture
{
    std::string_view headline, line1, line2;
};

// The default button: Enter presses it unless a button has the focus, and it is drawn so.
inline constexpr Control DefaultButton = Control::btnScan;

// Every control, in the window's layout order.
std::span<const ControlSpec> formInventory();
const ControlSpec &controlSpec(Control id);
std::string_view controlName(Control id);
// Control::None when no control has that name.
Control controlByName(std::string_view name);
// The controls that take the focus, in the order Tab walks them.
std::span<const Control> tabOrder();
// The captions the language switch writes, in the order it writes them.
std::span<const Control> translatedCaptions();
// The items of a drop-down list (empty for any other control); they are never translated.
std::vector<std::string> listItems(Control id);
QuickPicture quickPicture(Control id);
// A push button of any look: Enter presses it when it has the focus.
bool isButton(Control id);
// The text of a caption in a language's row text.
std::string captionText(const Caption &caption, const std::string &rowText);

} // namespace qmr
