#pragma once
// The skin: a style sheet kept among the program's resources under a name, applied to
// the program's dialogs. The application makes four calls over its life: Init,
// LoadFromResource, ApplyToDialogs and Exit.

#include <QString>

namespace platform {

class Skin
{
public:
    virtual ~Skin() = default;
    virtual void Init() = 0;
    // Loads the style sheet stored as resource `name` (":/skins/<name>.qss"); false when
    // there is none.
    virtual bool LoadFromResource(const QString &name) = 0;
    // Applies the loaded sheet to every dialog of the application.
    virtual void ApplyToDialogs(const QString &skinName) = 0;
    // Removes the sheet again.
    virtual void Exit() = 0;
};

Skin &TheSkin();

} // namespace platform
