#include "help/html_help.h"

#include "platform/modules.h"
#include "platform/registry.h"

#include <memory>

namespace help {

HtmlHelpLoader::HtmlHelpLoader(platform::Modules &modules, platform::Registry &registry)
    : m_modules(modules)
    , m_registry(registry)
{}

quintptr HtmlHelpLoader::Call(quintptr owner, const QString &file, unsigned command, quintptr data)
{
    if (!m_module && !m_failed) {
        // A registered engine comes first; the one shipped beside the program is the fallback.
        const std::optional<QString> registered = m_registry.ReadValue(
            platform::RegistryRoot::ClassesRoot, QString::fromUtf16(kHtmlHelpClassKey));
        if (registered && !registered->trimmed().isEmpty())
            m_module = m_modules.Load(registered->trimmed());
        if (!m_module)
            m_module = m_modules.Load(QStringLiteral("hhctrl.ocx"));
        if (!m_module) {
            m_failed = true;
            return 0;
        }
    }
    if (m_failed)
        return 0;
    if (!m_entry) {
        m_entry = reinterpret_cast<HtmlHelpEntry>(m_modules.Export(m_module, "HtmlHelpW"));
        if (!m_entry) {
            m_failed = true;
            return 0;
        }
    }
    return m_entry(owner, reinterpret_cast<const char16_t *>(file.utf16()), command, data);
}

namespace {

std::unique_ptr<HtmlHelpLoader> &ProcessLoader()
{
    static std::unique_ptr<HtmlHelpLoader> loader;
    return loader;
}

} // namespace

quintptr HtmlHelpW(quintptr owner, const QString &file, unsigned command, quintptr data)
{
    std::unique_ptr<HtmlHelpLoader> &loader = ProcessLoader();
    if (!loader)
        loader = std::make_unique<HtmlHelpLoader>(platform::TheModules(), platform::TheRegistry());
    return loader->Call(owner, file, command, data);
}

void ResetHtmlHelpLoaderForTests()
{
    ProcessLoader().reset();
}

QString HelpFilePath(const QString &programFile)
{
    const qsizetype slash = programFile.lastIndexOf(u'/');
    if (slash < 0)
        return programFile + QStringLiteral("Vantorel.chm");
    return programFile.left(slash + 1) + QStringLiteral("Vantorel.chm");
}

} // namespace help
