#include "form/inventory.h"

#include <algorithm>
#include <stdexcept>

namespace qmr {

namespace {

using enum Control;
using K = ControlKind;
using F = FontRole;
using C = ColourRole;
using P = Picture;

constexpr Caption row(TextRow text, std::string_view before = {}, std::string_view after = {})
{
    return {true, text, before, after};
}

constexpr Caption fixed(std::string_view text)
{
    return {false, TextRow::Company, text, {}};
}

// Boxes are left, top, width, height within the parent. Texts are those a user sees at start
// in English; translated captions are written again by every language switch.
constexpr std::array<ControlSpec, 32> Inventory = {{
    {pnMsg,
     "pnMsg",
     K::Panel,
     None,
     {8, 4, 345, 40},
     row(TextRow::StartScanModule),
     F::Base,
     C::Message,
     P::None},
    {shComm, "shComm", K::Lamp, pnMsg, {310, 8, 23, 20}, {}, F::Base, C::Message, P::None},
    {pnSerial,
     "pnSerial",
     K::Panel,
     None,
     {8, 48, 169, 28},
     row(TextRow::SN, {}, " : ________-_"),
     F::Base,
     C::Value,
     P::None},
    {pnVersion,
     "pnVersion",
     K::Panel,
     None,
     {184, 48, 169, 28},
     row(TextRow::Ver, {}, " : __.__-__"),
     F::Base,
     C::Value,
     P::None},
    {btnScan,
     "btnScan",
     K::Button,
     None,
     {8, 78, 345, 33},
     row(TextRow::ScanModule),
     F::Base,
     C::Face,
     P::Magnifier},
    {lblID,
     "lblID",
     K::Label,
     None,
     {8, 125, 57, 22},
     row(TextRow::Id, {}, " 1:"),
     F::Label,
     C::Face,
     P::None},
    {pnID, "pnID", K::Panel, None, {68, 122, 33, 25}, fixed("__"), F::Base, C::Value, P::None},
    {sbID, "sbID", K::ScrollBar, None, {104, 123, 73, 23}, {}, F::Base, C::Face, P::None},
    {lblID2,
     "lblID2",
     K::Label,
     None,
     {184, 125, 57, 22},
     row(TextRow::Id, {}, " 2:"),
     F::Label,
     C::Face,
     P::None},
    {pnID2, "pnID2", K::Panel, None, {244, 122, 33, 25}, fixed("__"), F::Base, C::Value, P::None},
    {sbID2, "sbID2", K::ScrollBar, None, {280, 123, 73, 23}, {}, F::Base, C::Face, P::None},
    {btnID,
     "btnID",
     K::Button,
     None,
     {8, 150, 345, 33},
     row(TextRow::SetModuleId),
     F::Base,
     C::Face,
     P::IdCard},
    {lblBaudRate,
     "lblBaudRate",
     K::Label,
     None,
     {8, 197, 153, 22},
     row(TextRow::BaudRate, {}, ":"),
     F::Label,
     C::Face,
     P::None},
    {cmbBaudRate,
     "cmbBaudRate",
     K::List,
     None,
     {168, 192, 161, 28},
     {},
     F::Base,
     C::Value,
     P::None},
    // Its width hides its caption.
    {chkLock, "chkLock", K::CheckBox, None, {336, 196, 17, 17}, {}, F::Base, C::Face, P::None},
    {btnBaudRate,
     "btnBaudRate",
     K::Button,
     None,
     {8, 222, 345, 33},
     row(TextRow::SetModuleBaudRateReset),
     F::Base,
     C::Face,
     P::LineSetting},
    {cmbMode, "cmbMode", K::List, None, {8, 264, 169, 28}, {}, F::Base, C::Value, P::None},
    {cmbRS485, "cmbRS485", K::List, None, {184, 264, 171, 28}, {}, F::Base, C::Value, P::None},
    {btnMode,
     "btnMode",
     K::Button,
     None,
     {8, 295, 345, 33},
     row(TextRow::SetModuleMode),
     F::Base,
     C::Face,
     P::ModeSwitch},
    {pnQMR1, "pnQMR1", K::Panel, None, {8, 336, 169, 28}, {}, F::Base, C::Value, P::None},
    {pnQMR2, "pnQMR2", K::Panel, None, {184, 336, 169, 28}, {}, F::Base, C::Value, P::None},
    {btnProcess,
     "btnProcess",
     K::Button,
     None,
     {8, 368, 345, 33},
     row(TextRow::ProcessModule),
     F::Base,
     C::Face,
     P::ProgressBar},
    {gbDefault,
     "gbDefault",
     K::GroupBox,
     None,
     {360, 4, 193, 325},
     row(TextRow::QuickSetting),
     F::Base,
     C::Face,
     P::None},
    {pcDefault,
     "pcDefault",
     K::PageControl,
     gbDefault,
     {6, 26, 182, 294},
     {},
     F::Page,
     C::Face,
     P::None},
    // The page fills the page control's display area, which only the toolkit knows.
    {tsDefault,
     "tsDefault",
     K::Page,
     pcDefault,
     {0, 0, 0, 0},
     row(TextRow::Default),
     F::Page,
     C::Face,
     P::None},
    {btnFactory,
     "btnFactory",
     K::Button,
     tsDefault,
     {4, 6, 165, 121},
     row(TextRow::FactoryDefault, "(", ")"),
     F::Base,
     C::Face,
     P::QuickSetting},
    {btnOne,
     "btnOne",
     K::Button,
     tsDefault,
     {4, 134, 165, 121},
     row(TextRow::OneReader, "(", ")"),
     F::Base,
     C::Face,
     P::QuickSetting},
    // The language buttons never change; the Chinese ones show their characters as a picture
    // and hold them as their text, so a screen reader can name them.
    {btnEng,
     "btnEng",
     K::Button,
     None,
     {359, 336, 62, 24},
     fixed("English"),
     F::Label,
     C::RedText,
     P::None},
    {btnGB,
     "btnGB",
     K::Button,
     None,
     {426, 336, 62, 24},
     fixed("簡体"),
     F::Base,
     C::RedText,
     P::LanguageMark},
    {btnBIG5,
     "btnBIG5",
     K::Button,
     None,
     {492, 336, 62, 24},
     fixed("繁體"),
     F::Base,
     C::RedText,
     P::LanguageMark},
    {btnExit,
     "btnExit",
     K::Button,
     None,
     {360, 368, 193, 33},
     row(TextRow::Exit),
     F::Base,
     C::Face,
     P::CloseCross},
    {pnTAVEX,
     "pnTAVEX",
     K::Panel,
     None,
     {0, 405, 561, 21},
     row(TextRow::Company),
     F::Footer,
     C::Footer,
     P::None},
}};

constexpr std::array<Control, 17> TabOrder = {
    btnScan,    sbID,   btnID,  cmbBaudRate, btnBaudRate, cmbMode, btnMode,  btnProcess, btnExit,
    btnFactory, btnOne, btnEng, btnGB,       btnBIG5,     sbID2,   cmbRS485, chkLock,
};

// The window title first, then the captions in the order the switch writes them.
constexpr std::array<Control, 18> TranslatedCaptions = {
    frmModule,  pnTAVEX,     pnMsg,     pnSerial,   pnVersion,   lblID,
    lblID2,     lblBaudRate, btnScan,   btnID,      btnBaudRate, btnMode,
    btnProcess, gbDefault,   tsDefault, btnFactory, btnOne,      btnExit,
};

// The window itself: its title is row 1.
constexpr ControlSpec Window = {
    frmModule,           "frmModule", K::Panel, None,   {0, 0, FormWidth, FormHeight},
    row(TextRow::Title), F::Base,     C::Face,  P::None};

} // namespace

FontSpec fontSpec(FontRole role)
{
    switch (role) {
    case FontRole::Label:
        return {13, false};
    case FontRole::Page:
        return {16, false};
    case FontRole::Footer:
        return {11, false};
    case FontRole::Base:
        break;
    }
    return {16, true};
}

ColourSpec colourSpec(ColourRole role)
{
    constexpr Colour White{SystemColour::Fixed, 255, 255, 255};
    constexpr Colour Face{SystemColour::ButtonFace};
    switch (role) {
    case ColourRole::Value:
        return {{SystemColour::Highlight}, {SystemColour::Fixed, 255, 255, 0}};
    case ColourRole::Message:
        return {{SystemColour::ActiveCaption}, White};
    case ColourRole::Footer:
        return {{SystemColour::Fixed, 128, 0, 128}, White};
    case ColourRole::RedText:
        return {Face, {SystemColour::Fixed, 255, 0, 0}};
    case ColourRole::Face:
        break;
    }
    return {Face, {SystemColour::ButtonText}};
}

std::span<const ControlSpec> formInventory()
{
    return Inventory;
}

const ControlSpec &controlSpec(Control id)
{
    if (id == frmModule)
        return Window;
    const auto found = std::find_if(Inventory.begin(), Inventory.end(),
                                    [id](const ControlSpec &entry) { return entry.id == id; });
    if (found == Inventory.end())
        throw std::out_of_range("no such control");
    return *found;
}

std::string_view controlName(Control id)
{
    return id == None ? std::string_view() : controlSpec(id).name;
}

Control controlByName(std::string_view name)
{
    if (name == Window.name)
        return frmModule;
    for (const ControlSpec &entry : Inventory) {
        if (entry.name == name)
            return entry.id;
    }
    return None;
}

std::span<const Control> tabOrder()
{
    return TabOrder;
}

std::span<const Control> translatedCaptions()
{
    return TranslatedCaptions;
}

std::vector<std::string> listItems(Control id)
{
    std::vector<std::string> items;
    switch (id) {
    case cmbBaudRate:
        items.assign(BaudRateTable.begin(), BaudRateTable.end());
        break;
    case cmbMode:
        for (const ReaderMode &mode : ReaderModes)
            items.emplace_back(mode.name);
        break;
    case cmbRS485:
        for (std::size_t i = 0; i < Rs485Values.size(); ++i)
            items.push_back(rs485Name(int(i)));
        break;
    default:
        break;
    }
    return items;
}

QuickPicture quickPicture(Control id)
{
    if (id == btnOne)
        return {"READER", "19200,e,8,1", "ONE ID:01"};
    return {"TAVEX", "19200,e,8,1", "TWO ID:1,5"};
}

bool isButton(Control id)
{
    return id != None && id != frmModule && controlSpec(id).kind == ControlKind::Button;
}

std::string captionText(const Caption &caption, const std::string &rowText)
{
    std::string text(caption.before);
    if (caption.translated)
        text += rowText;
    text += caption.after;
    return text;
}

} // namespace qmr
