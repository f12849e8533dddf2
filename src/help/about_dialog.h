#pragma once
// The About box (dialog 100): the program's name and version, copyright, licence, where the
// licence notices are and the support address, on the program's dialog background.

#include "resources/dialog_builder.h"

class CAboutDlg : public resources::TemplateDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};
