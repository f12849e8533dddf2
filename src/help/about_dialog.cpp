#include "help/about_dialog.h"

CAboutDlg::CAboutDlg(QWidget *parent)
    : TemplateDialog(resources::IDD_ABOUTBOX, parent)
{
    // The brush lives as long as the dialog; without it the default colours show.
    SetBackgroundBrush(QBrush(resources::kDialogBackground));
    connect(Control<QWidget>(1), SIGNAL(clicked()), this, SLOT(accept()));
}
