#include "resources/dialog_builder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

// The resources live in a static library, whose registration the linker would otherwise
// drop; it has to be asked for by name, outside any namespace.
static void InitResourceFile()
{
    Q_INIT_RESOURCE(resources);
}

namespace resources {

void EnsureResourcesLoaded()
{
    static const bool loaded = (InitResourceFile(), true);
    Q_UNUSED(loaded);
}

QSize DialogBaseUnits(const QFont &font)
{
    const QFontMetrics fm(font);
    const int letters = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((letters / 26 + 1) / 2, fm.height());
}

QRect DialogUnitsToPixels(const QRect &units, QSize base)
{
    auto x = [&](int v) { return v * base.width() / 4; };
    auto y = [&](int v) { return v * base.height() / 8; };
    return QRect(x(units.x()), y(units.y()), x(units.width()), y(units.height()));
}

QFont DialogFont(const DialogTemplate &t)
{
    QFont font;
    font.setFamilies({t.fontFamily, QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setPointSize(t.fontPoints);
    return font;
}

namespace {

// Static controls take the dialog's control-colour brush.
bool IsStatic(const QWidget *w)
{
    if (qobject_cast<const QLabel *>(w) || qobject_cast<const QCheckBox *>(w)
        || qobject_cast<const QGroupBox *>(w))
        return true;
    if (auto edit = qobject_cast<const QLineEdit *>(w))
        return edit->isReadOnly();
    return false;
}

QLabel *CreateLabel(const ControlTemplate &c, QWidget *parent)
{
    // Labels show '&' as a mnemonic unless told not to; Qt labels are plain text.
    QString text = c.text;
    if (!(c.style & NoPrefix))
        text.replace(QStringLiteral("&&"), QStringLiteral("&"));
    auto l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment((c.style & RightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
    return l;
}

QTreeWidget *CreateListView(const ControlTemplate &c, QWidget *parent)
{
    auto t = new QTreeWidget(parent);
    t->setRootIsDecorated(false);
    t->setItemsExpandable(false);
    t->setUniformRowHeights(true);
    t->setColumnCount(0);
    t->setSelectionMode(c.style & SingleSelection ? QAbstractItemView::SingleSelection
                                                  : QAbstractItemView::ExtendedSelection);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->header()->setStretchLastSection(false);
    t->header()->setSectionsMovable(false);
    return t;
}

QWidget *CreateControl(const ControlTemplate &c, QWidget *parent)
{
    switch (c.kind) {
    case ControlKind::DefaultButton:
    case ControlKind::Button: {
        auto b = new QPushButton(c.text, parent);
        b->setDefault(c.kind == ControlKind::DefaultButton);
        return b;
    }
    case ControlKind::ProgressBar: {
        auto p = new QProgressBar(parent);
        p->setTextVisible(false);
        p->setRange(0, 100);
        p->setValue(0);
        return p;
    }
    case ControlKind::Edit: {
        auto e = new QLineEdit(c.text, parent);
        e->setReadOnly(c.style & ReadOnly);
        return e;
    }
    case ControlKind::Label:
        return CreateLabel(c, parent);
    case ControlKind::ListView:
        return CreateListView(c, parent);
    case ControlKind::GroupBox: {
        auto g = new QGroupBox(c.text, parent);
        // A group box only frames; clicks pass through to what lies under it.
        g->setAttribute(Qt::WA_TransparentForMouseEvents);
        return g;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(c.text, parent);
    case ControlKind::DropDownCombo: {
        auto cb = new QComboBox(parent);
        cb->setEditable(true);
        cb->setInsertPolicy(QComboBox::NoInsert);
        cb->setDuplicatesEnabled(true);
        for (const QString &item : c.items)
            cb->addItem(item);
        cb->setCurrentIndex(-1);
        return cb;
    }
    case ControlKind::Icon: {
        auto l = new QLabel(parent);
        l->setPixmap(ProgramIcon().pixmap(32, 32));
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return l;
    }
    }
    return new QWidget(parent);
}

// Names and descriptions for assistive technology; tooltips only where the table asks.
void SetAccessibleTexts(int dialogId, const ControlTemplate &c, QWidget *w)
{
    const AccessibleText *text = c.id == kNoId ? nullptr : FindAccessibleText(dialogId, c.id);
    if (!text)
        return;
    const QString name = QString::fromUtf8(text->name);
    w->setAccessibleName(name);
    w->setAccessibleDescription(QString::fromUtf8(text->description));
    if (text->tooltip)
        w->setToolTip(name);
    // A list that takes typing has a field of its own, which takes the focus.
    if (auto combo = qobject_cast<QComboBox *>(w); combo && combo->lineEdit())
        combo->lineEdit()->setAccessibleName(name);
}

// Screen readers name a list by the label that stands for it (some read a list's own
// name as its value), so the label beside a named control is tied to it.
void TieLabelsToControls(const DialogTemplate &t, QWidget *parent)
{
    const QList<QLabel *> labels
        = parent->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly);
    for (const ControlTemplate &c : t.controls) {
        const AccessibleText *text = c.id == kNoId ? nullptr : FindAccessibleText(t.id, c.id);
        QWidget *control
            = text ? parent->findChild<QWidget *>(QString::number(c.id), Qt::FindDirectChildrenOnly)
                   : nullptr;
        if (!control)
            continue;
        const QString name = QString::fromUtf8(text->name);
        for (QLabel *label : labels) {
            QString shown = label->text();
            if (shown.endsWith(u':'))
                shown.chop(1);
            if (shown == name)
                label->setBuddy(control);
        }
    }
}

} // namespace

void BuildControls(const DialogTemplate &t, QWidget *parent)
{
    const QFont font = DialogFont(t);
    const QSize base = DialogBaseUnits(font);
    QWidget *previousTab = nullptr;
    for (const ControlTemplate &c : t.controls) {
        QWidget *w = CreateControl(c, parent);
        if (c.id != kNoId)
            w->setObjectName(QString::number(c.id));
        SetAccessibleTexts(t.id, c, w);
        w->setFont(font);
        QRect r = DialogUnitsToPixels(c.rect, base);
        if (c.kind == ControlKind::DropDownCombo) {
            // The resource's height includes the dropped-down list; the closed box is
            // one line high.
            r.setHeight(w->sizeHint().height());
        }
        w->setGeometry(r);
        if (c.kind == ControlKind::GroupBox)
            w->lower();
        if (c.style & TabStop) {
            w->setFocusPolicy(Qt::StrongFocus);
            if (previousTab)
                QWidget::setTabOrder(previousTab, w);
            previousTab = w;
        } else if (c.kind != ControlKind::Label && c.kind != ControlKind::GroupBox
                   && c.kind != ControlKind::Icon) {
            w->setFocusPolicy(Qt::NoFocus);
        }
    }
    TieLabelsToControls(t, parent);
}

QMenuBar *BuildMenu(const MenuTemplate &m, QWidget *parent)
{
    auto bar = new QMenuBar(parent);
    bar->setNativeMenuBar(false);
    bar->setObjectName(QString::number(m.id));
    for (const MenuPopupTemplate &p : m.popups) {
        QMenu *menu = bar->addMenu(p.text);
        for (const MenuItemTemplate &item : p.items) {
            if (item.id == 0) {
                menu->addSeparator();
                continue;
            }
            QAction *a = menu->addAction(item.text);
            a->setObjectName(QString::number(item.id));
            a->setData(item.id);
        }
    }
    return bar;
}

QIcon ProgramIcon()
{
    EnsureResourcesLoaded();
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/vantorel-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/icons/vantorel-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/icons/vantorel-48.png"), QSize(48, 48));
    return icon;
}

ClientArea::ClientArea(TemplateDialog *dialog)
    : QWidget(dialog)
    , m_dialog(dialog)
{}

void ClientArea::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    m_dialog->PaintClient(painter);
}

void ClientArea::contextMenuEvent(QContextMenuEvent *event)
{
    m_dialog->ClientContextMenu(event->globalPos());
}

TemplateDialog::TemplateDialog(int resourceId, QWidget *parent)
    : QDialog(parent)
    , m_template(FindDialog(resourceId))
{
    Q_ASSERT(m_template);
    setObjectName(QString::number(resourceId));
    setWindowTitle(m_template->caption);
    setFont(DialogFont(*m_template));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (m_template->style & SystemMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (m_template->style & MinimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);

    int top = 0;
    if (const MenuTemplate *menu = FindMenu(m_template->menuId)) {
        m_menuBar = BuildMenu(*menu, this);
        top = m_menuBar->sizeHint().height();
    }
    m_client = new ClientArea(this);
    BuildControls(*m_template, m_client);
    const QRect clientRect = DialogUnitsToPixels(QRect(QPoint(0, 0), m_template->size),
                                                 DialogBaseUnits(DialogFont(*m_template)));
    m_client->setGeometry(0, top, clientRect.width(), clientRect.height());
    if (m_menuBar)
        m_menuBar->setGeometry(0, 0, clientRect.width(), top);
    setFixedSize(clientRect.width(), top + clientRect.height());
}

void TemplateDialog::SetBackgroundBrush(std::optional<QBrush> brush)
{
    m_bkBrush = std::move(brush);
    for (QWidget *w : m_client->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (!IsStatic(w))
            continue;
        QPalette palette = w->palette();
        if (m_bkBrush) {
            palette.setBrush(QPalette::Window, *m_bkBrush);
            palette.setBrush(QPalette::Base, *m_bkBrush);
        } else {
            palette = QPalette();
        }
        w->setPalette(palette);
    }
    m_client->update();
}

void TemplateDialog::PaintClient(QPainter &painter)
{
    painter.fillRect(m_client->rect(), m_bkBrush ? *m_bkBrush : palette().brush(QPalette::Window));
}

void TemplateDialog::ClientContextMenu(const QPoint &) {}

} // namespace resources
