// The "Setting" button of the main window and the values derived from the settings.

#include "app/main_dialog.h"
#include "settings/settings_dialog.h"

#include <iterator>

void MainDialog::OnSetting()
{
    SettingsDialog dialog(this);
    dialog.m_playWholeMusic = m_playWholeMusic;
    dialog.m_highQuality = m_highQuality;
    dialog.m_secondsIndex = m_secondsIndex;
    dialog.m_sizeIndex = m_sizeIndex;
    connect(&dialog, &SettingsDialog::HelpRequested, this, [this] {
        ShowHelpTopic(QStringLiteral("settings.html"));
    });
    // Modal to this window only, as this window is to its owner: the guide that F1 opens
    // beside the dialog can be read and scrolled while the dialog waits.
    dialog.setWindowModality(Qt::WindowModal);
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    m_playWholeMusic = dialog.m_playWholeMusic;
    m_highQuality = dialog.m_highQuality;
    m_secondsIndex = dialog.m_secondsIndex;
    m_sizeIndex = dialog.m_sizeIndex;
    ApplySettings();
}

void MainDialog::ApplySettings()
{
    m_frameRate = 29.97;
    // 2, 4 or 6 seconds; no chosen entry (-1) gives 0.
    m_secondsPerPhoto = 2 * m_secondsIndex + 2;
    const VideoSize size
        = m_sizeIndex >= 0 && m_sizeIndex < static_cast<int>(std::size(kVideoSizes))
              ? kVideoSizes[m_sizeIndex]
              : kVideoSizes[0];
    m_videoWidth = size.width;
    m_videoHeight = size.height;
}
