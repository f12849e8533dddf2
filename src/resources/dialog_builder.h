#pragma once
// Turns dialog and menu resources into Qt widgets.
//
// A dialog's controls are placed at their dialog-unit positions converted with the base
// units of the dialog's font (as the platform computes them: the average width of the
// letters A-Z and a-z, and the font's height), created in the template's order, which is
// also the tab order. Each control's objectName is its numeric id.

#include "resources/dialog_template.h"

#include <QDialog>
#include <QIcon>

#include <optional>

class QMenuBar;

namespace resources {

// Width and height of one dialog base unit, in pixels.
QSize DialogBaseUnits(const QFont &font);
// Dialog units to pixels: x * baseX / 4, y * baseY / 8.
QRect DialogUnitsToPixels(const QRect &units, QSize baseUnits);
// The template's font; families missing here fall back to the desktop's sans serif.
QFont DialogFont(const DialogTemplate &t);

// Creates the template's controls as children of `parent`, in order, and chains the tab
// order of the tab-stop controls.
void BuildControls(const DialogTemplate &t, QWidget *parent);
// A menu bar from a menu resource; each action's objectName and data are its id.
QMenuBar *BuildMenu(const MenuTemplate &m, QWidget *parent);

// The program's icon (resource 4).
QIcon ProgramIcon();
// Makes the compiled-in resources (icon, skin) available; safe to call any number of times.
void EnsureResourcesLoaded();

// The dialog background colour shared by all the program's dialogs.
inline const QColor kDialogBackground(230, 230, 240);

// The client area of a TemplateDialog: paints through the dialog's PaintClient.
class TemplateDialog;
class ClientArea final : public QWidget
{
public:
    explicit ClientArea(TemplateDialog *dialog);

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    TemplateDialog *m_dialog;
};

// A dialog built from a dialog resource: menu bar (when the resource names one) above a
// client area holding the controls, fixed to the resource's size.
class TemplateDialog : public QDialog
{
public:
    TemplateDialog(int resourceId, QWidget *parent);

    // The control with that id, or nullptr.
    template <class W = QWidget>
    W *Control(int id) const
    {
        return m_client->findChild<W *>(QString::number(id), Qt::FindDirectChildrenOnly);
    }
    QWidget *Client() const { return m_client; }
    QMenuBar *MenuBar() const { return m_menuBar; }
    const DialogTemplate &Template() const { return *m_template; }

    // The control-colour brush for the dialog and its static controls (labels, read-only
    // edits, check boxes, group boxes). Without it they keep the default colours.
    void SetBackgroundBrush(std::optional<QBrush> brush);
    const std::optional<QBrush> &BackgroundBrush() const { return m_bkBrush; }

protected:
    friend class ClientArea;
    // Paints the client area; the default fills it with the background brush.
    virtual void PaintClient(QPainter &painter);
    // A right click on the client area (the place of the window's system menu here).
    virtual void ClientContextMenu(const QPoint &globalPos);

    std::optional<QBrush> m_bkBrush;

private:
    const DialogTemplate *m_template;
    QMenuBar *m_menuBar = nullptr;
    ClientArea *m_client = nullptr;
};

} // namespace resources
