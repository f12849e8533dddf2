#include "help_window.h"

#include "sitemap.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTabWidget>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include <algorithm>

namespace hhctrl {
namespace {

constexpr int kTargetRole = Qt::UserRole + 1;
const QLatin1String kScheme("chm");

// A words box whose prompt is also the name a screen reader says for it.
QLineEdit *WordsBox(QWidget *parent, const QString &objectName, const QString &prompt)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(objectName);
    box->setPlaceholderText(prompt);
    box->setAccessibleName(prompt);
    return box;
}

QString PageNotFound(const QString &path)
{
    return QStringLiteral("<html><body><h2>Page not found</h2><p>The page <b>%1</b> is not "
                          "in this help file.</p></body></html>")
        .arg(path.toHtmlEscaped());
}

bool IsHtmlPath(const QString &path)
{
    return path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive)
           || path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive);
}

// The archive path that a sitemap entry points at, or empty for a heading without a page.
QString TargetOf(const SitemapEntry &entry)
{
    if (entry.local.isEmpty())
        return QString();
    QString local = entry.local;
    local.replace(u'\\', u'/');
    // Some tools write "file.chm::/page.html"; only the part inside the archive counts.
    const qsizetype inside = local.indexOf(QLatin1String("::"));
    if (inside >= 0)
        local = local.mid(inside + 2);
    if (!local.startsWith(u'/'))
        local.prepend(u'/');
    return local;
}

} // namespace

ArchiveBrowser::ArchiveBrowser(const ChmArchive &archive, QWidget *parent)
    : QTextBrowser(parent)
    , m_archive(archive)
{}

QVariant ArchiveBrowser::loadResource(int type, const QUrl &name)
{
    QUrl url = name;
    if (url.isRelative())
        url = source().resolved(url);
    if (url.scheme() != kScheme)
        return QVariant();
    const QString path = ChmArchive::NormalisePath(url.path());
    const std::optional<QByteArray> bytes = m_archive.Read(path);
    if (!bytes)
        return type == QTextDocument::HtmlResource ? QVariant(PageNotFound(path)) : QVariant();
    if (type == QTextDocument::HtmlResource)
        return DecodeHtml(*bytes);
    if (type == QTextDocument::StyleSheetResource)
        return QString::fromUtf8(*bytes);
    return *bytes;
}

HelpWindow::HelpWindow(std::unique_ptr<ChmArchive> archive, QWidget *owner)
    : QWidget(owner, Qt::Window)
    , m_archive(std::move(archive))
    , m_search(*m_archive)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_home = FindStartTopic(*m_archive);
    setWindowTitle(m_archive->Title().isEmpty() ? QStringLiteral("Help") : m_archive->Title());

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(BuildButtons());
    layout->addWidget(BuildPanes(), 1);
    resize(820, 600);

    BuildContents();
    BuildIndex();
    if (m_index->count() == 0)
        m_tabs->removeTab(1);
    ConnectSignals();
    ConnectKeys();
}

QHBoxLayout *HelpWindow::BuildButtons()
{
    const auto button = [this](const char *name, const QString &text) {
        auto *b = new QToolButton(this);
        b->setText(text);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    m_back = button("back", QStringLiteral("Back"));
    m_back->setEnabled(false);
    m_forward = button("forward", QStringLiteral("Forward"));
    m_forward->setEnabled(false);
    m_homeButton = button("home", QStringLiteral("Home"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addWidget(m_forward);
    buttons->addWidget(m_homeButton);
    buttons->addStretch(1);
    return buttons;
}

// The Contents and Index tabs on the left, the topic on the right.
QSplitter *HelpWindow::BuildPanes()
{
    m_browser = new ArchiveBrowser(*m_archive, this);
    m_browser->setObjectName(QStringLiteral("topic"));
    // Links are followed here, so that pages of the archive and web addresses part ways.
    m_browser->setOpenLinks(false);
    m_browser->setAccessibleName(QStringLiteral("Topic"));

    m_contents = new QTreeWidget(this);
    m_contents->setObjectName(QStringLiteral("contents"));
    m_contents->setAccessibleName(QStringLiteral("Contents"));
    m_contents->setHeaderHidden(true);
    m_contents->setColumnCount(1);

    m_tabs = new QTabWidget(this);
    m_tabs->setAccessibleName(QStringLiteral("Contents, Index and Search"));
    m_tabs->addTab(m_contents, QStringLiteral("Contents"));
    m_tabs->addTab(BuildIndexPage(), QStringLiteral("Index"));
    m_tabs->addTab(BuildSearchPage(), QStringLiteral("Search"));

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(m_tabs);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({270, 550});
    return splitter;
}

QWidget *HelpWindow::BuildIndexPage()
{
    auto *indexPage = new QWidget(this);
    m_indexFilter
        = WordsBox(indexPage, QStringLiteral("indexFilter"), QStringLiteral("Type a word to find"));
    m_index = new QListWidget(indexPage);
    m_index->setObjectName(QStringLiteral("index"));
    m_index->setAccessibleName(QStringLiteral("Index"));
    auto *indexLayout = new QVBoxLayout(indexPage);
    indexLayout->setContentsMargins(0, 0, 0, 0);
    indexLayout->addWidget(m_indexFilter);
    indexLayout->addWidget(m_index);
    return indexPage;
}

// The words box and "List Topics" above the pages found: title, and where in the guide.
QWidget *HelpWindow::BuildSearchPage()
{
    auto *searchPage = new QWidget(this);
    m_searchWords = WordsBox(searchPage,
                             QStringLiteral("searchWords"),
                             QStringLiteral("Type in the words to search for"));
    m_listTopics = new QPushButton(QStringLiteral("List Topics"), searchPage);
    m_listTopics->setObjectName(QStringLiteral("listTopics"));
    m_searchResults = new QTreeWidget(searchPage);
    m_searchResults->setObjectName(QStringLiteral("searchResults"));
    m_searchResults->setAccessibleName(QStringLiteral("Select topic to display"));
    m_searchResults->setRootIsDecorated(false);
    m_searchResults->setHeaderLabels({QStringLiteral("Title"), QStringLiteral("Location")});
    m_searchResults->header()->setStretchLastSection(true);
    auto *wordsRow = new QHBoxLayout;
    wordsRow->addWidget(m_searchWords, 1);
    wordsRow->addWidget(m_listTopics);
    auto *searchLayout = new QVBoxLayout(searchPage);
    searchLayout->setContentsMargins(0, 0, 0, 0);
    searchLayout->addLayout(wordsRow);
    searchLayout->addWidget(m_searchResults);
    return searchPage;
}

void HelpWindow::ConnectKeys()
{
    // Escape and Ctrl+W close the window, as they close a document window elsewhere.
    for (const QKeySequence &key : {QKeySequence(Qt::Key_Escape),
                                    QKeySequence(Qt::CTRL | Qt::Key_W),
                                    QKeySequence(QKeySequence::Close)}) {
        auto *shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
    // Enter in the Index's filter opens the entry it has highlighted.
    connect(m_indexFilter, &QLineEdit::returnPressed, this, &HelpWindow::OpenCurrentIndexEntry);
    connect(m_searchWords, &QLineEdit::returnPressed, this, &HelpWindow::ListTopics);
    connect(m_listTopics, &QPushButton::clicked, this, &HelpWindow::ListTopics);
    // Double click and Enter both activate an item.
    connect(m_searchResults, &QTreeWidget::itemActivated, this, &HelpWindow::OpenSearchResult);
    // Choosing Index or Search puts the caret into its box, ready for typing.
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] {
        for (QLineEdit *box : {m_indexFilter, m_searchWords}) {
            if (m_tabs->currentWidget()->isAncestorOf(box))
                box->setFocus();
        }
    });
}

void HelpWindow::ConnectSignals()
{
    connect(m_back, &QToolButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_forward, &QToolButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_homeButton, &QToolButton::clicked, this, [this] { ShowTopic(QString()); });
    connect(m_browser, &QTextBrowser::backwardAvailable, m_back, &QWidget::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_forward, &QWidget::setEnabled);
    connect(m_browser, &QTextBrowser::sourceChanged, this, &HelpWindow::OnSourceChanged);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &HelpWindow::OnAnchorClicked);
    connect(m_contents, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        if (item && !item->data(0, kTargetRole).toString().isEmpty())
            ShowTopic(item->data(0, kTargetRole).toString());
    });
    const auto showIndexItem = [this](QListWidgetItem *item) {
        if (item)
            ShowTopic(item->data(kTargetRole).toString());
    };
    connect(m_index, &QListWidget::itemActivated, this, showIndexItem);
    connect(m_index, &QListWidget::itemClicked, this, showIndexItem);
    connect(m_indexFilter, &QLineEdit::textChanged, this, &HelpWindow::FilterIndex);
}

HelpWindow::~HelpWindow()
{
    // The browser reads from the archive until it goes; children go before members do, but
    // make the order explicit so that no page load can reach a closed archive.
    delete m_browser;
    m_browser = nullptr;
}

QUrl HelpWindow::UrlOf(const QString &archivePath)
{
    QUrl url;
    url.setScheme(kScheme);
    QString path = archivePath;
    QString fragment;
    const qsizetype hash = path.indexOf(u'#');
    if (hash >= 0) {
        fragment = path.mid(hash + 1);
        path.truncate(hash);
    }
    url.setPath(ChmArchive::NormalisePath(path));
    if (!fragment.isEmpty())
        url.setFragment(fragment);
    return url;
}

void HelpWindow::ShowTopic(const QString &archivePath)
{
    const QString path = archivePath.isEmpty() ? m_home : archivePath;
    if (path.isEmpty())
        return;
    const QUrl url = UrlOf(path);
    if (url == m_browser->source()) {
        // The same page again: scroll back to its top (or its anchor).
        if (url.hasFragment())
            m_browser->scrollToAnchor(url.fragment());
        else
            m_browser->moveCursor(QTextCursor::Start);
        return;
    }
    m_browser->setSource(url, QTextDocument::HtmlResource);
}

void HelpWindow::BuildContents()
{
    m_contents->clear();
    QString file = m_archive->ContentsFile();
    if (file.isEmpty()) {
        for (const QString &candidate : m_archive->Files()) {
            if (candidate.endsWith(QLatin1String(".hhc"), Qt::CaseInsensitive)) {
                file = candidate;
                break;
            }
        }
    }
    if (file.isEmpty())
        return;
    if (const std::optional<QByteArray> sitemap = m_archive->Read(file))
        AddContentsItems(nullptr, ParseSitemap(*sitemap));
    m_contents->expandToDepth(0);
}

void HelpWindow::AddContentsItems(QTreeWidgetItem *parent, const std::vector<SitemapEntry> &entries)
{
    for (const SitemapEntry &entry : entries) {
        auto *item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_contents);
        item->setText(0, entry.name.isEmpty() ? entry.local : entry.name);
        item->setData(0, kTargetRole, TargetOf(entry));
        AddContentsItems(item, entry.children);
    }
}

void HelpWindow::BuildIndex()
{
    m_index->clear();
    QString file = m_archive->IndexFile();
    if (file.isEmpty()) {
        for (const QString &candidate : m_archive->Files()) {
            if (candidate.endsWith(QLatin1String(".hhk"), Qt::CaseInsensitive)) {
                file = candidate;
                break;
            }
        }
    }
    if (file.isEmpty())
        return;
    const std::optional<QByteArray> sitemap = m_archive->Read(file);
    if (!sitemap)
        return;
    // Index entries may nest (a keyword with sub-keywords); they are listed as
    // "keyword, sub-keyword" in alphabetical order.
    std::vector<std::pair<QString, QString>> rows;
    auto collect = [&rows](auto &self,
                           const std::vector<SitemapEntry> &entries,
                           const QString &prefix) -> void {
        for (const SitemapEntry &entry : entries) {
            const QString name
                = prefix.isEmpty() ? entry.name : prefix + QStringLiteral(", ") + entry.name;
            const QString target = TargetOf(entry);
            if (!target.isEmpty())
                rows.emplace_back(name, target);
            self(self, entry.children, name);
        }
    };
    collect(collect, ParseSitemap(*sitemap), QString());
    std::stable_sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) {
        return a.first.compare(b.first, Qt::CaseInsensitive) < 0;
    });
    for (const auto &[name, target] : rows) {
        auto *item = new QListWidgetItem(name, m_index);
        item->setData(kTargetRole, target);
    }
}

void HelpWindow::FilterIndex(const QString &text)
{
    const QString wanted = text.trimmed();
    QListWidgetItem *first = nullptr;
    for (int row = 0; row < m_index->count(); ++row) {
        QListWidgetItem *item = m_index->item(row);
        const bool match = wanted.isEmpty() || item->text().contains(wanted, Qt::CaseInsensitive);
        item->setHidden(!match);
        if (match && !first)
            first = item;
    }
    if (first && !wanted.isEmpty()) {
        const QSignalBlocker block(m_index);
        m_index->setCurrentItem(first);
        m_index->scrollToItem(first);
    }
}

void HelpWindow::OpenCurrentIndexEntry()
{
    QListWidgetItem *item = m_index->currentItem();
    if (item && !item->isHidden())
        ShowTopic(item->data(kTargetRole).toString());
}

void HelpWindow::ListTopics()
{
    m_searchResults->clear();
    for (const TopicSearch::Hit &hit : m_search.Find(m_searchWords->text())) {
        auto *item = new QTreeWidgetItem(m_searchResults, {hit.title, LocationOf(hit.path)});
        item->setData(0, kTargetRole, hit.path);
    }
    if (QTreeWidgetItem *first = m_searchResults->topLevelItem(0)) {
        m_searchResults->setCurrentItem(first);
        m_searchResults->setFocus();
    }
}

void HelpWindow::OpenSearchResult(QTreeWidgetItem *item)
{
    if (!item)
        return;
    ShowTopic(item->data(0, kTargetRole).toString());
    HighlightWords(TopicSearch::WordsOf(m_searchWords->text()));
}

void HelpWindow::HighlightWords(const QStringList &words)
{
    QList<QTextEdit::ExtraSelection> marks;
    QTextCharFormat marked;
    marked.setBackground(QColor(255, 230, 0));
    marked.setForeground(Qt::black);
    QTextDocument *document = m_browser->document();
    for (const QString &word : words) {
        QTextCursor found(document);
        while (!(found = document->find(word, found, QTextDocument::FindWholeWords)).isNull())
            marks.append({found, marked});
    }
    std::sort(marks.begin(), marks.end(), [](const auto &a, const auto &b) {
        return a.cursor.position() < b.cursor.position();
    });
    m_browser->setExtraSelections(marks);
    if (!marks.isEmpty()) {
        QTextCursor first = marks.front().cursor;
        first.clearSelection();
        m_browser->setTextCursor(first);
        m_browser->ensureCursorVisible();
    }
}

QString HelpWindow::LocationOf(const QString &archivePath) const
{
    for (QTreeWidgetItemIterator it(m_contents); *it; ++it) {
        const QString target = (*it)->data(0, kTargetRole).toString();
        if (target.isEmpty()
            || UrlOf(target).path().compare(UrlOf(archivePath).path(), Qt::CaseInsensitive) != 0)
            continue;
        QStringList steps;
        for (const QTreeWidgetItem *step = *it; step; step = step->parent())
            steps.prepend(step->text(0));
        return steps.join(QStringLiteral(" > "));
    }
    return archivePath;
}

void HelpWindow::OnAnchorClicked(const QUrl &url)
{
    const QUrl target = url.isRelative() ? m_browser->source().resolved(url) : url;
    if (target.scheme() == kScheme) {
        m_browser->setSource(target, QTextDocument::HtmlResource);
        return;
    }
    // Web and mail addresses belong to the user's own programs.
    if (target.scheme() == QLatin1String("http") || target.scheme() == QLatin1String("https")
        || target.scheme() == QLatin1String("mailto")) {
        QDesktopServices::openUrl(target);
    }
}

void HelpWindow::OnSourceChanged(const QUrl &url)
{
    const QString path = ChmArchive::NormalisePath(url.path());
    QTreeWidgetItem *found = nullptr;
    for (QTreeWidgetItemIterator it(m_contents); *it; ++it) {
        const QString target = (*it)->data(0, kTargetRole).toString();
        if (!target.isEmpty() && UrlOf(target).path().compare(path, Qt::CaseInsensitive) == 0) {
            found = *it;
            break;
        }
    }
    // Marks of a search belong to the page they were made on.
    m_browser->setExtraSelections({});
    // Keep the tree in step with the page without navigating again.
    const QSignalBlocker block(m_contents);
    if (found) {
        for (QTreeWidgetItem *p = found->parent(); p; p = p->parent())
            p->setExpanded(true);
        m_contents->setCurrentItem(found);
        m_contents->scrollToItem(found);
    } else {
        m_contents->clearSelection();
        m_contents->setCurrentItem(nullptr);
    }
}

QString FindStartTopic(const ChmArchive &archive)
{
    const QString topic = archive.DefaultTopic();
    if (!topic.isEmpty() && archive.Contains(HelpWindow::UrlOf(topic).path()))
        return topic;
    for (const QLatin1String name : {QLatin1String("/index.html"),
                                     QLatin1String("/index.htm"),
                                     QLatin1String("/default.html"),
                                     QLatin1String("/default.htm")}) {
        if (archive.Contains(name))
            return name;
    }
    for (const QString &file : archive.Files()) {
        if (IsHtmlPath(file))
            return file;
    }
    return QString();
}

} // namespace hhctrl
