#include "resources/dialog_template.h"

#include "app/version.h"

namespace resources {
namespace {

using K = ControlKind;

const DialogTemplate kMainDialog{
    IDD_MAIN,
    QStringLiteral("Vantorel Converter"),
    QSize(407, 302),
    QStringLiteral("MS Sans Serif"),
    8,
    Caption | SystemMenu | MinimizeBox | ModalFrame | TaskbarButton,
    IDR_MAINMENU,
    {
        {3000, K::DefaultButton, QStringLiteral("GO"), QRect(233, 240, 48, 25), TabStop},
        {2, K::Button, QStringLiteral("Exit"), QRect(335, 266, 50, 14), TabStop},
        {3002, K::ProgressBar, QStringLiteral("Progress1"), QRect(22, 268, 305, 9), Bordered},
        {3003, K::Button, QStringLiteral("..."), QRect(358, 83, 23, 14), TabStop},
        {3005, K::Edit, QString(), QRect(36, 84, 321, 12), ReadOnly | TabStop},
        {1015,
         K::Label,
         QStringLiteral("Please select the photos directory"),
         QRect(36, 75, 204, 8)},
        {1016, K::Label, QStringLiteral("Selected Files"), QRect(21, 139, 51, 12)},
        {3007,
         K::ListView,
         QStringLiteral("List1"),
         QRect(22, 152, 305, 84),
         SingleSelection | TabStop},
        {3008, K::Button, QStringLiteral("Remove"), QRect(335, 152, 50, 14), TabStop},
        {3009, K::Button, QStringLiteral("RemoveAll"), QRect(335, 171, 50, 14), TabStop},
        {1014, K::Label, QStringLiteral("Please select a background music"), QRect(36, 43, 236, 8)},
        {3010, K::Edit, QString(), QRect(36, 55, 321, 13), ReadOnly | TabStop},
        {3016, K::Button, QStringLiteral("..."), QRect(358, 54, 23, 14), TabStop},
        {1001, K::GroupBox, QStringLiteral("Input"), QRect(21, 32, 363, 73)},
        {4921,
         K::Label,
         QStringLiteral("Please select the output directory"),
         QRect(21, 109, 212, 8)},
        {3011, K::Edit, QString(), QRect(22, 121, 335, 13), TabStop},
        {3017, K::Button, QStringLiteral("..."), QRect(358, 120, 23, 14), TabStop},
        {1002, K::Button, QStringLiteral("Up"), QRect(335, 200, 50, 14), TabStop},
        {1003, K::Button, QStringLiteral("Down"), QRect(335, 220, 50, 14), TabStop},
        {1007,
         K::CheckBox,
         QStringLiteral("Add effect to move the photos"),
         QRect(22, 241, 109, 10),
         TabStop},
        {1008, K::Button, QStringLiteral("Setting"), QRect(162, 246, 50, 14), TabStop},
        {1052, K::Button, QStringLiteral("?"), QRect(385, 1, 19, 14), TabStop},
        {1053, K::Button, QStringLiteral("!"), QRect(385, 17, 19, 14), TabStop},
        {1054, K::Label, QString(), QRect(79, 139, 67, 8)},
        {1055, K::Label, QString(), QRect(22, 257, 124, 8)},
    },
};

const DialogTemplate kSettingsDialog{
    IDD_SETTINGS,
    QStringLiteral("Setting"),
    QSize(205, 118),
    QStringLiteral("MS Sans Serif"),
    8,
    Caption | SystemMenu | ModalFrame,
    0,
    {
        {1, K::DefaultButton, QStringLiteral("OK"), QRect(90, 97, 50, 14), TabStop},
        {2, K::Button, QStringLiteral("Cancel"), QRect(148, 97, 50, 14), TabStop},
        {kNoId,
         K::Label,
         QStringLiteral("Show time per picture"),
         QRect(11, 21, 71, 8),
         RightAligned},
        {1011,
         K::DropDownCombo,
         QString(),
         QRect(86, 20, 64, 48),
         VerticalScroll | TabStop,
         {QStringLiteral("2"), QStringLiteral("4"), QStringLiteral("6")}},
        {kNoId, K::Label, QStringLiteral("Seconds"), QRect(155, 21, 29, 8)},
        {kNoId, K::GroupBox, QString(), QRect(7, 0, 191, 69)},
        {kNoId, K::Label, QStringLiteral("Video Size:"), QRect(23, 44, 59, 8), RightAligned},
        {1010, K::DropDownCombo, QString(), QRect(86, 42, 64, 49), VerticalScroll | TabStop},
        {1014, K::CheckBox, QStringLiteral("Play whole music"), QRect(115, 73, 75, 10), TabStop},
        {1015, K::CheckBox, QStringLiteral("High-quality Movie"), QRect(11, 73, 75, 10), TabStop},
    },
};

const DialogTemplate kAboutDialog{
    IDD_ABOUTBOX,
    QStringLiteral("About Vantorel Converter"),
    QSize(279, 83),
    QStringLiteral("MS Sans Serif"),
    8,
    Caption | SystemMenu | ModalFrame,
    0,
    {
        {kNoId, K::Icon, QString(), QRect(11, 17, 20, 20)},
        {kNoId,
         K::Label,
         QStringLiteral("Vantorel Converter Version " VANTOREL_VERSION),
         QRect(58, 5, 194, 8),
         NoPrefix},
        {kNoId,
         K::Label,
         QStringLiteral("Copyright (C) 2026 Vantorel Software"),
         QRect(58, 20, 195, 8)},
        {kNoId,
         K::Label,
         QStringLiteral("Free software under the GNU GPL 3 or later."),
         QRect(58, 35, 194, 8)},
        // Where the licence notices are; filled in when the box opens.
        {1005, K::Label, QString(), QRect(58, 47, 194, 8), NoPrefix},
        {1004,
         K::Label,
         QStringLiteral("Support: support@vantorel.example"),
         QRect(58, 65, 134, 9)},
        {1, K::DefaultButton, QStringLiteral("OK"), QRect(203, 63, 50, 14), TabStop},
    },
};

const MenuTemplate kMainMenu{
    IDR_MAINMENU,
    {
        {QStringLiteral("&File"), {{QStringLiteral("E&xit\tAlt+F4"), 40006}}},
        {QStringLiteral("&Help"),
         {{QStringLiteral("&Context Help\tF1"), 32772}, {QStringLiteral("&About"), 32771}}},
    },
};

// Every control a user can reach with Tab has a name here or in its caption.
const AccessibleText kAccessibleTexts[] = {
    {IDD_MAIN, 3000, "GO", "Make the movie from the photos and the music"},
    {IDD_MAIN, 2, "Exit", "Close Vantorel Converter"},
    {IDD_MAIN, 3002, "Progress", "How much of the movie is made"},
    {IDD_MAIN, 3003, "Add a photo folder", "Choose a folder whose photos go into the movie", true},
    {IDD_MAIN, 3005, "Please select the photos directory", "The photo folders chosen so far"},
    {IDD_MAIN, 3007, "Selected Files", "The photos of the movie, in the order they show"},
    {IDD_MAIN, 3008, "Remove", "Remove the selected photo from the movie"},
    {IDD_MAIN, 3009, "Remove all", "Remove every photo from the movie"},
    {IDD_MAIN, 3010, "Please select a background music", "The music file of the movie"},
    {IDD_MAIN, 3016, "Choose the music file", "Choose the music that plays under the photos", true},
    {IDD_MAIN,
     3011,
     "Please select the output directory",
     "Where the movie is saved; left empty, it goes to Vantorel/Output.mp4 in the home folder"},
    {IDD_MAIN,
     3017,
     "Choose where to save the movie",
     "Choose the folder and name of the movie",
     true},
    {IDD_MAIN, 1002, "Up", "Move the selected photo one place earlier"},
    {IDD_MAIN, 1003, "Down", "Move the selected photo one place later"},
    {IDD_MAIN, 1008, "Setting", "Seconds per photo, video size, music length and quality"},
    {IDD_MAIN, 1052, "Help", "Open the user's guide", true},
    {IDD_MAIN, 1053, "About", "About Vantorel Converter", true},
    {IDD_SETTINGS, 1011, "Show time per picture", "Seconds each photo is shown"},
    {IDD_SETTINGS, 1010, "Video Size", "Width and height of the movie in pixels"},
};

} // namespace

const AccessibleText *FindAccessibleText(int dialogId, int controlId)
{
    for (const AccessibleText &text : kAccessibleTexts) {
        if (text.dialogId == dialogId && text.controlId == controlId)
            return &text;
    }
    return nullptr;
}

const DialogTemplate *FindDialog(int id)
{
    for (const DialogTemplate *d : {&kMainDialog, &kSettingsDialog, &kAboutDialog}) {
        if (d->id == id)
            return d;
    }
    return nullptr;
}

const MenuTemplate *FindMenu(int id)
{
    return id == kMainMenu.id ? &kMainMenu : nullptr;
}

QString LoadString(int id)
{
    if (id == IDS_ABOUTBOX)
        return QStringLiteral("&About Dadezori...");
    return QString();
}

} // namespace resources
