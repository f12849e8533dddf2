#pragma once
// The help window: the contents tree, the index and a full-text search of a compiled help
// file on the left, the current page on the right, with Back, Forward and Home above.
// Escape and Ctrl+W close it. Pages, pictures and
// style sheets are read out of the archive; pages are addressed by URLs of the scheme
// "chm" whose path is the archive path ("chm:/index.html"), so relative links between
// pages resolve as they do on a web site.

#include "chm_archive.h"
#include "topic_search.h"

#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>

#include <memory>

class QHBoxLayout;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSplitter;
class QTabWidget;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace hhctrl {

struct SitemapEntry;

// A text browser that takes its documents from the archive.
class ArchiveBrowser final : public QTextBrowser
{
public:
    ArchiveBrowser(const ChmArchive &archive, QWidget *parent);

    QVariant loadResource(int type, const QUrl &name) override;

private:
    const ChmArchive &m_archive;
};

class HelpWindow final : public QWidget
{
public:
    // The window owns the archive. With an owner it is a separate window that stays in
    // front of the owner and goes when the owner goes; without one it is top level.
    HelpWindow(std::unique_ptr<ChmArchive> archive, QWidget *owner);
    ~HelpWindow() override;

    // Shows a page of the archive; an empty path shows the default topic.
    void ShowTopic(const QString &archivePath);
    QString DefaultTopic() const { return m_home; }

    static QUrl UrlOf(const QString &archivePath);

private:
    QHBoxLayout *BuildButtons();
    QSplitter *BuildPanes();
    void ConnectSignals();
    QWidget *BuildIndexPage();
    QWidget *BuildSearchPage();
    void ConnectKeys();
    void BuildContents();
    void BuildIndex();
    void AddContentsItems(QTreeWidgetItem *parent, const std::vector<SitemapEntry> &entries);
    void OnSourceChanged(const QUrl &url);
    void OnAnchorClicked(const QUrl &url);
    void FilterIndex(const QString &text);
    void OpenCurrentIndexEntry();
    // Fills the result list with the pages that hold the words of the search box.
    void ListTopics();
    void OpenSearchResult(QTreeWidgetItem *item);
    // Marks every whole-word occurrence of `words` in the page shown and scrolls to the first.
    void HighlightWords(const QStringList &words);
    // Where a page stands in the contents ("Using the program > Settings"), or its path.
    QString LocationOf(const QString &archivePath) const;

    std::unique_ptr<ChmArchive> m_archive;
    QString m_home;
    ArchiveBrowser *m_browser = nullptr;
    QTabWidget *m_tabs = nullptr;
    QTreeWidget *m_contents = nullptr;
    QLineEdit *m_indexFilter = nullptr;
    QListWidget *m_index = nullptr;
    TopicSearch m_search;
    QLineEdit *m_searchWords = nullptr;
    QPushButton *m_listTopics = nullptr;
    QTreeWidget *m_searchResults = nullptr;
    QToolButton *m_back = nullptr;
    QToolButton *m_forward = nullptr;
    QToolButton *m_homeButton = nullptr;
};

// The page to open first: the archive's default topic when it exists, else "/index.html"
// or "/default.html", else the first HTML page of the archive; empty when there is none.
QString FindStartTopic(const ChmArchive &archive);

} // namespace hhctrl
