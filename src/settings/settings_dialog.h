#pragma once
// The settings dialog (dialog 998): seconds per photo, video size, "Play whole music" and
// "High-quality Movie". It only edits its own copy of the values; the "Setting" button of
// the main window copies them in before and out after an OK.

#include "resources/dialog_builder.h"

class QComboBox;

// A 32-bit flag, 0 or 1.
using BOOL = int;

// The video sizes of the size list, in its order.
struct VideoSize
{
    const char *text;
    int width;
    int height;
};
inline constexpr VideoSize kVideoSizes[] = {
    {"320x240", 320, 240},
    {"640x480", 640, 480},
    {"480x320", 480, 320},
    {"320x480", 320, 480},
};

class SettingsDialog : public resources::TemplateDialog
{
    Q_OBJECT

public:
    explicit SettingsDialog(QWidget *parent = nullptr);
    ~SettingsDialog() override;

    // Initialises the dialog, then runs it modally; QDialog::Accepted after OK.
    int DoModal();

    // Fills the controls from the fields; run once before the dialog is shown.
    bool OnInitDialog();
    // Exchanges the two check boxes: into the fields (true) or out to the controls (false).
    void DoDataExchange(bool saveAndValidate);
    // Empties the size list, fills it from the size table and selects m_sizeIndex.
    void FillSizeCombo();
    // Takes the values and ends the dialog with OK.
    void OnOK();

    QComboBox *m_sizeCombo = nullptr;    // 1010
    QComboBox *m_secondsCombo = nullptr; // 1011: "2", "4", "6" seconds
    BOOL m_playWholeMusic = 0;           // check box 1014
    BOOL m_highQuality = 1;              // check box 1015
    int m_secondsIndex = 1;              // selection of 1011, or -1
    int m_sizeIndex = 0;                 // selection of 1010, or -1

    // The entry of a list that the list's field names: the index of the entry whose text
    // equals the field's text (without regard to case), else -1. An editable list keeps its
    // old current index while the user types over it, so the typed text decides.
    static int SelectionOf(const QComboBox *combo);

signals:
    // F1: the user asks for the guide's page about the settings.
    void HelpRequested();

protected:
    // The default button and Enter end here: they are OK.
    void accept() override;
    void done(int result) override;
};
