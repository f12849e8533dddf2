// The settings store: the installation markers kept between runs. Each setting is the
// default value of a sub-key of the program's main key under the machine root, e.g.
// "SOFTWARE\Clients\Tarvix2\Startup". Named values under the main key are not settings.

#include "app/main_dialog.h"

#include "platform/registry.h"

namespace {

const QString kMainKey = QStringLiteral("SOFTWARE\\Clients\\Tarvix2");

// The longest text a setting may hold: a read takes at most 1024 bytes, the text and its
// terminating null. A longer stored value reads as empty, never as a cut-off part.
constexpr int kMaxSettingLength = 511;

} // namespace

QString MainDialog::ReadAppSetting(const QString &name)
{
    platform::Registry &registry = *m_services.registry;
    const auto root = platform::RegistryRoot::LocalMachine;
    // Opening the main key creates it when it is missing; an existing key is left alone,
    // so that reading never rewrites the store.
    if (!registry.KeyExists(root, kMainKey) && !registry.CreateKey(root, kMainKey))
        return QString();
    const std::optional<QString> stored = registry.ReadValue(root, kMainKey + u'\\' + name);
    if (!stored || stored->size() > kMaxSettingLength)
        return QString();
    // A value written by another program may carry data behind its terminating null.
    const int end = stored->indexOf(QChar(u'\0'));
    return end < 0 ? *stored : stored->left(end);
}

void MainDialog::WriteAppSetting(const QString &name, const QString &text)
{
    // The text is stored whole. Cutting a long one to the read limit would store a
    // corrupted value (a truncated folder, say); stored whole it reads back as empty,
    // which every reader treats as "not set".
    m_services.registry->WriteValue(
        platform::RegistryRoot::LocalMachine, kMainKey + u'\\' + name, QString(), text);
}
