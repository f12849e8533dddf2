// The real help engine hhctrl.ocx, reached through the program's loader, showing the
// Vantorel.chm that the build compiled into the program folder. Everything runs offscreen
// with real widgets; clicks are real mouse events on the links and on the contents tree.

#include "common/environment.h"
#include "common/table_rows.h"
#include "help/html_help.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTabBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTreeWidget>

#include <memory>

namespace {

using testing_support::operator<<;

const QString kProgramDir = QStringLiteral(VANTOREL_TEST_PROGRAM_DIR);
const QString kHelpFile = kProgramDir + QStringLiteral("Vantorel.chm");

void Settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

// The link targets of a page, or with `names` its anchor names.
QStringList AnchorsOf(QTextDocument *document, bool names = false)
{
    QStringList found;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            found += names ? format.anchorNames() : QStringList{format.anchorHref()};
        }
    }
    found.removeAll(QString());
    found.removeDuplicates();
    return found;
}

class HelpWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(kHelpFile)) << kHelpFile.toStdString();
        help::ResetHtmlHelpLoaderForTests();
    }

    void TearDown() override
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QStringLiteral("HelpWindow"))
                delete widget;
        }
        owner.reset();
        Settle();
        help::ResetHtmlHelpLoaderForTests();
    }

    QWidget *Open(QWidget *ownerWidget, const QString &file = kHelpFile)
    {
        const quintptr result = help::HtmlHelpW(
            reinterpret_cast<quintptr>(ownerWidget), file, help::kHelpDisplayTopic, 0);
        Settle();
        return reinterpret_cast<QWidget *>(result);
    }

    testing_support::TestEnvironment env;
    std::unique_ptr<QWidget> owner = std::make_unique<QWidget>();
};

TEST_F(HelpWindowTest, OpensOnTheDefaultTopicAndEveryEntryAndLinkLeadsToAPage)
{
    owner->show();
    QWidget *window = Open(owner.get());
    ASSERT_TRUE(window && window->isVisible());
    EXPECT_EQ(window->parentWidget(), owner.get());
    auto *browser = window->findChild<QTextBrowser *>(QStringLiteral("topic"));
    auto *contents = window->findChild<QTreeWidget *>(QStringLiteral("contents"));
    EXPECT_EQ(browser->source().path(), QStringLiteral("/index.html"));
    EXPECT_GT(window->findChild<QListWidget *>(QStringLiteral("index"))->count(), 30);
    // The picture and the style sheet of the page came out of the archive.
    const QImage logo
        = browser->document()
              ->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("images/logo.png")))
              .value<QImage>();
    EXPECT_EQ(logo.size(), QSize(64, 48));
    QTextCursor heading = browser->document()->find(browser->documentTitle());
    EXPECT_EQ(heading.charFormat().foreground().color(), QColor(0x2a, 0x3a, 0x78));

    // Every entry of the contents and every link of every page it reaches leads to a page
    // (and anchor) of the help file: a broken link would show the engine's "Page not found".
    const auto shows = [&](const QUrl &target) {
        browser->setSource(target);
        Settle();
        return !browser->toPlainText().contains(QStringLiteral("Page not found"))
               && (!target.hasFragment()
                   || AnchorsOf(browser->document(), true).contains(target.fragment()));
    };
    QStringList pages;
    for (QTreeWidgetItemIterator it(contents); *it; ++it) {
        contents->setCurrentItem(*it);
        Settle();
        EXPECT_TRUE(shows(browser->source())) << (*it)->text(0).toStdString();
        pages.append(browser->source().toString());
    }
    pages.removeDuplicates();
    EXPECT_GE(pages.size(), 10);
    QStringList checked;
    for (const QString &page : pages) {
        ASSERT_TRUE(shows(QUrl(page)));
        for (const QString &href : AnchorsOf(browser->document())) {
            const QUrl target = QUrl(page).resolved(QUrl(href));
            if (checked.contains(target.toString()))
                continue;
            checked << target.toString();
            EXPECT_TRUE(shows(target)) << page.toStdString() << " -> " << href.toStdString();
            shows(QUrl(page));
        }
    }
    EXPECT_GT(checked.size(), 15);
}

TEST_F(HelpWindowTest, NothingIsShownForMissingOrBrokenFilesOrOtherCommands)
{
    const int before = QApplication::topLevelWidgets().size();
    EXPECT_EQ(Open(owner.get(), env.Root() + QStringLiteral("/missing.chm")), nullptr);
    EXPECT_EQ(Open(owner.get(),
                   testing_support::WriteFile(env.Root() + QStringLiteral("/text.chm"),
                                              "This is not a compiled help file.\n")),
              nullptr);
    EXPECT_EQ(Open(owner.get(), env.Root()), nullptr);

    for (unsigned command : {1u, 2u, 0x12u, 0xFFFFFFFFu})
        EXPECT_EQ(help::HtmlHelpW(0, kHelpFile, command, 0), 0u) << command;
    Settle();
    EXPECT_EQ(QApplication::topLevelWidgets().size(), before);
}

// A word of the shipped guide and the one page that holds it.
struct SearchCase
{
    const char *name;
    const char *words; // as typed into the words box
    const char *page;  // the page found first, or "" for nothing found
    const char *location;
};

class HelpSearch : public HelpWindowTest, public ::testing::WithParamInterface<SearchCase>
{};

// Searches through the Search tab as a user does (words, Enter), then opens the first
// result with Enter: the page shows with every occurrence of the words marked.
TEST_P(HelpSearch, FindsThePageHoldingTheWordsAndOpensItMarked)
{
    const SearchCase &c = GetParam();
    QWidget *window = Open(nullptr);
    ASSERT_NE(window, nullptr);
    auto *words = window->findChild<QLineEdit *>(QStringLiteral("searchWords"));
    auto *results = window->findChild<QTreeWidget *>(QStringLiteral("searchResults"));
    auto *browser = window->findChild<QTextBrowser *>(QStringLiteral("topic"));
    // Chosen with the mouse, as a person does; the words can be typed at once.
    QTabBar *bar = window->findChild<QTabBar *>();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
    EXPECT_EQ(window->focusWidget(), words);
    QTest::keyClicks(words, QString::fromUtf8(c.words));
    QTest::keyClick(words, Qt::Key_Return);
    if (!*c.page) {
        EXPECT_EQ(results->topLevelItemCount(), 0);
        return;
    }
    ASSERT_GT(results->topLevelItemCount(), 0);
    EXPECT_EQ(results->topLevelItem(0)->text(1).toStdString(), c.location);
    QTest::keyClick(results, Qt::Key_Return);
    Settle();
    EXPECT_EQ(browser->source().path().toStdString(), c.page);
    const QStringList wanted = QString::fromUtf8(c.words).toLower().split(u' ');
    const QList<QTextEdit::ExtraSelection> marks = browser->extraSelections();
    ASSERT_FALSE(marks.isEmpty());
    for (const QTextEdit::ExtraSelection &mark : marks)
        EXPECT_TRUE(wanted.contains(mark.cursor.selectedText().toLower()))
            << mark.cursor.selectedText().toStdString();
    // Marks belong to the search: the next page shows without them.
    browser->setSource(QUrl(QStringLiteral("chm:/index.html")));
    EXPECT_TRUE(browser->extraSelections().isEmpty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    ShippedGuide,
    HelpSearch,
    ::testing::Values(
        SearchCase{"WordOfTheSettingsPageOnly", "pocket", "/settings.html",
                   "Using the program > The Setting window"},
        SearchCase{"WordOfTheBatchPageOnly", "Megabyte", "/batch.html",
                   "Making movies from the command line"},
        SearchCase{"WordsOfTwoPagesHaveNoPageInCommon", "pocket megabyte", "", ""},
        SearchCase{"PartOfAWordIsNoWord", "pock", "", ""},
        SearchCase{"TagsAndStyleSheetsAreNotText", "charset stylesheet", "", ""}),
    testing_support::RowName());
// clang-format on

TEST_F(HelpWindowTest, EnterInTheIndexFilterOpensTheEntryAndEscapeOrCtrlWCloses)
{
    for (const QKeySequence &closing :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        QPointer<QWidget> window = Open(nullptr);
        ASSERT_NE(window, nullptr);
        window->findChild<QTabBar *>()->setCurrentIndex(1);
        window->activateWindow();
        auto *filter = window->findChild<QLineEdit *>(QStringLiteral("indexFilter"));
        filter->setFocus();
        QTest::keyClicks(filter, QStringLiteral("exit status"));
        QTest::keyClick(filter, Qt::Key_Return);
        Settle();
        EXPECT_EQ(window->findChild<QTextBrowser *>(QStringLiteral("topic"))->source().path(),
                  QStringLiteral("/batch.html"));

        // The window's keys reach it once it is the active window.
        ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == window; }));
        QTest::keySequence(window->windowHandle(), closing);
        Settle();
        EXPECT_TRUE(window.isNull()) << closing.toString().toStdString();
    }
}

} // namespace
