#include "app/converter_app.h"

#include "app/main_dialog.h"
#include "platform/skin.h"
#include "resources/dialog_builder.h"

ConverterApp::ConverterApp(const platform::Services &services)
    : m_services(services)
{}

bool ConverterApp::InitInstance()
{
    // Hosting ActiveX controls and three-dimensional control drawing have no counterpart:
    // Qt's widgets need neither.

    // The object model needs no per-thread initialisation; its counterpart is making the
    // engine's classes known to the class store before the first window exists.
    MainDialog::RegisterMediaClasses();

    resources::EnsureResourcesLoaded();
    platform::Skin &skin = platform::TheSkin();
    skin.Init();
    skin.LoadFromResource(QString::fromLatin1(resources::kSkinResourceName));
    skin.ApplyToDialogs(QStringLiteral("Dialog"));

    {
        MainDialog dialog(m_services);
        m_mainWindow = &dialog;
        dialog.SetApplicationCommandRoute([this](int id) { OnCommand(id); });
        dialog.DoModal();
        m_mainWindow = nullptr;
    }
    return false;
}

void ConverterApp::OnCommand(int id)
{
    if (id == ids::ID_HELP)
        ShowHelpUnowned();
}

int ConverterApp::ExitInstance()
{
    platform::TheSkin().Exit();
    return 0;
}
