#include "platform/skin.h"

#include <QApplication>
#include <QFile>

namespace platform {
namespace {

class StyleSheetSkin final : public Skin
{
public:
    void Init() override { m_sheet.clear(); }

    bool LoadFromResource(const QString &name) override
    {
        QFile f(QStringLiteral(":/skins/%1.qss").arg(name));
        if (!f.open(QIODevice::ReadOnly))
            return false;
        m_sheet = QString::fromUtf8(f.readAll());
        return true;
    }

    void ApplyToDialogs(const QString &) override
    {
        if (qApp)
            qApp->setStyleSheet(m_sheet);
    }

    void Exit() override
    {
        if (qApp)
            qApp->setStyleSheet(QString());
        m_sheet.clear();
    }

private:
    QString m_sheet;
};

} // namespace

Skin &TheSkin()
{
    static StyleSheetSkin skin;
    return skin;
}

} // namespace platform
