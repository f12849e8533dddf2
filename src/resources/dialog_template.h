#pragma once
// Dialog, menu and string resources: what each window holds, where, and with which texts.
// Positions are in dialog units of the dialog's font; DialogBuilder turns them into widgets.

#include <QRect>
#include <QSize>
#include <QString>

#include <vector>

namespace resources {

enum class ControlKind {
    DefaultButton,
    Button,
    ProgressBar,
    Edit,
    Label,
    ListView, // report view: columns with headers
    GroupBox,
    CheckBox,
    DropDownCombo, // a list that also takes typing
    Icon,
};

enum ControlStyle : unsigned {
    TabStop = 1u << 0,
    ReadOnly = 1u << 1,
    Bordered = 1u << 2,
    RightAligned = 1u << 3,
    NoPrefix = 1u << 4,
    SingleSelection = 1u << 5,
    VerticalScroll = 1u << 6,
};

// The id of controls that have none of their own (the platform's "static" id).
inline constexpr int kNoId = -1;

struct ControlTemplate
{
    int id;
    ControlKind kind;
    QString text;
    QRect rect; // x, y, width, height in dialog units
    unsigned style = 0;
    // Items a list holds from its creation (the drop-down combos' initialisation data).
    std::vector<QString> items = {};
};

enum DialogStyle : unsigned {
    Caption = 1u << 0,
    SystemMenu = 1u << 1,
    MinimizeBox = 1u << 2,
    ModalFrame = 1u << 3,
    TaskbarButton = 1u << 4,
};

struct DialogTemplate
{
    int id;
    QString caption;
    QSize size; // dialog units
    QString fontFamily;
    int fontPoints;
    unsigned style;
    int menuId; // 0 for none
    // In the dialog's own order, which is also the tab order.
    std::vector<ControlTemplate> controls;
};

struct MenuItemTemplate
{
    QString text; // a '\t' separates the shortcut text shown at the right
    int id;       // 0 for a separator
};

struct MenuPopupTemplate
{
    QString text;
    std::vector<MenuItemTemplate> items;
};

struct MenuTemplate
{
    int id;
    std::vector<MenuPopupTemplate> popups;
};

// What a screen reader says for a control beyond its caption: the name a sighted user reads
// from the control or from the label beside it (a "..." button is read as what it does, an
// edit as its label), a longer description, and whether the name also shows as a tooltip
// (for buttons whose caption is a sign). The visible texts stay as the dialog has them.
struct AccessibleText
{
    int dialogId;
    int controlId;
    const char *name;
    const char *description;
    bool tooltip = false;
};

// Dialogs 102 (main window), 998 (settings), 100 (About box); nullptr for any other id.
const DialogTemplate *FindDialog(int id);
// The accessible texts of a dialog's control; nullptr for a control that has none beyond
// its caption.
const AccessibleText *FindAccessibleText(int dialogId, int controlId);
// Menu 141; nullptr for any other id.
const MenuTemplate *FindMenu(int id);
// String 101; an empty text for any other id.
QString LoadString(int id);

// Resource ids.
inline constexpr int IDD_MAIN = 102;
inline constexpr int IDD_SETTINGS = 998;
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDR_MAINMENU = 141;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDI_MAIN = 4;
inline constexpr const char *kSkinResourceName = "VAZUZO";

} // namespace resources
