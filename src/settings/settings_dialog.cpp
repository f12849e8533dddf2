#include "settings/settings_dialog.h"

#include "resources/resource_ids.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

using namespace ids;

SettingsDialog::SettingsDialog(QWidget *parent)
    : TemplateDialog(resources::IDD_SETTINGS, parent)
{
    m_sizeCombo = Control<QComboBox>(IDC_SIZE_COMBO);
    m_secondsCombo = Control<QComboBox>(IDC_SECONDS_COMBO);
    connect(Control<QPushButton>(IDOK), &QPushButton::clicked, this, &SettingsDialog::OnOK);
    connect(Control<QPushButton>(IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
    auto helpKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(helpKey, &QShortcut::activated, this, &SettingsDialog::HelpRequested);
}

SettingsDialog::~SettingsDialog() = default;

int SettingsDialog::DoModal()
{
    OnInitDialog();
    // The first tab control takes the focus.
    Control<QPushButton>(IDOK)->setFocus();
    return exec();
}

bool SettingsDialog::OnInitDialog()
{
    // The seconds list holds "2", "4", "6" from its creation.
    DoDataExchange(false);
    SetBackgroundBrush(QBrush(resources::kDialogBackground));
    m_secondsCombo->setCurrentIndex(m_secondsIndex);
    FillSizeCombo();
    DoDataExchange(false);
    return true;
}

void SettingsDialog::DoDataExchange(bool saveAndValidate)
{
    auto playWhole = Control<QCheckBox>(IDC_PLAY_WHOLE_MUSIC);
    auto highQuality = Control<QCheckBox>(IDC_HIGH_QUALITY);
    if (saveAndValidate) {
        m_playWholeMusic = playWhole->isChecked() ? 1 : 0;
        m_highQuality = highQuality->isChecked() ? 1 : 0;
    } else {
        playWhole->setChecked(m_playWholeMusic != 0);
        highQuality->setChecked(m_highQuality != 0);
    }
}

void SettingsDialog::FillSizeCombo()
{
    m_sizeCombo->clear();
    for (const VideoSize &size : kVideoSizes)
        m_sizeCombo->addItem(QString::fromLatin1(size.text));
    // An index outside the list (-1) selects nothing and leaves the field empty.
    m_sizeCombo->setCurrentIndex(
        m_sizeIndex >= 0 && m_sizeIndex < m_sizeCombo->count() ? m_sizeIndex : -1);
}

int SettingsDialog::SelectionOf(const QComboBox *combo)
{
    const QString text = combo->currentText();
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void SettingsDialog::OnOK()
{
    DoDataExchange(true);
    m_sizeIndex = SelectionOf(m_sizeCombo);
    m_secondsIndex = SelectionOf(m_secondsCombo);
    QDialog::accept();
}

void SettingsDialog::accept()
{
    OnOK();
}

void SettingsDialog::done(int result)
{
    QDialog::done(result);
    // The brush lives only while the dialog is open.
    SetBackgroundBrush(std::nullopt);
}
